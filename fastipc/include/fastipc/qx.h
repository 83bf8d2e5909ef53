// String and GUID helpers shipped with fastipc.
#ifndef FASTIPC_QX_H_
#define FASTIPC_QX_H_

#include <string>

namespace qx {

// A newly allocated 64-byte buffer holding a new GUID as 36 upper-case
// characters, "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", zero-terminated.
// Release it with delete[].
char* GenerateGuid();
// The same text as a wide string.
std::wstring GenerateGuidW();

// Wide text to UTF-8. A wchar_t holds a whole code point here (32 bits);
// surrogate pairs coming from UTF-16 sources are joined. Lone surrogates and
// values above U+10FFFF throw std::range_error("bad conversion").
std::string w2s(const std::wstring& text);
// UTF-8 to wide text, one wchar_t per code point. Malformed, overlong or
// surrogate encodings throw std::range_error("bad conversion").
std::wstring s2w(const std::string& text);

// Decimal value of the text: leading white space skipped, optional sign, then
// digits up to the first other character; 0 without digits. Values beyond the
// range of long saturate at its limits.
long parseLong(const std::wstring& text);

}  // namespace qx

#endif  // FASTIPC_QX_H_
