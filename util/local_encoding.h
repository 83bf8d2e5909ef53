// The encoding of names handed to the system (files, programs, arguments):
// UTF-8 wherever the C library's character set is UTF-8 or plain ASCII, as Qt 6
// always takes it and as Qt 5 would choose there anyway. Saying so up front
// spares Qt 5 asking ICU for the locale's converter at the first file name: ICU's
// converter code and alias tables then stay unmapped in the shell's process
// (about 0.4 MB). The codec is Qt's own UTF-8 conversion.
#pragma once

namespace ombrix {

// Whether a character set (nl_langinfo(CODESET)) encodes names as UTF-8 does.
bool IsUtf8Compatible(const char* charset);

// Sets Qt 5's locale codec to UTF-8 when the environment's character set is
// UTF-8 compatible; any other character set is left to Qt. Call it before the
// first file name is encoded.
void UseUtf8LocalEncoding();

}  // namespace ombrix
