#include "fastipc/qx.h"

#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <stdexcept>

namespace qx {

namespace {

constexpr size_t kGuidBufferBytes = 64;

[[noreturn]] void badConversion() { throw std::range_error("bad conversion"); }

// Used only when the kernel cannot give random bytes: still unique per call.
void fallbackRandom(unsigned char* bytes, size_t count) {
  static std::atomic<uint64_t> counter{0};
  uint64_t seed =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<uint64_t>(getpid()) << 32) ^ counter.fetch_add(0x9E3779B97F4A7C15);
  for (size_t i = 0; i < count; ++i) {
    seed += 0x9E3779B97F4A7C15;
    uint64_t z = seed;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    bytes[i] = static_cast<unsigned char>(z ^ (z >> 31));
  }
}

void randomBytes(unsigned char* bytes, size_t count) {
  if (getrandom(bytes, count, 0) != static_cast<ssize_t>(count)) fallbackRandom(bytes, count);
}

void appendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool isHighSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Decodes one UTF-8 sequence starting at text[*pos] and advances *pos.
uint32_t decodeUtf8(const std::string& text, size_t* pos) {
  const auto lead = static_cast<unsigned char>(text[*pos]);
  size_t extra;
  uint32_t cp;
  uint32_t minimum;
  if (lead < 0x80) {
    ++*pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, minimum = 0x10000;
  } else {
    badConversion();
  }
  if (text.size() - *pos <= extra) badConversion();
  for (size_t i = 1; i <= extra; ++i) {
    const auto next = static_cast<unsigned char>(text[*pos + i]);
    if ((next & 0xC0) != 0x80) badConversion();
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) badConversion();
  *pos += extra + 1;
  return cp;
}

}  // namespace

char* GenerateGuid() {
  unsigned char b[16];
  randomBytes(b, sizeof b);
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  const unsigned long data1 =
      static_cast<unsigned long>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
  const unsigned data2 = static_cast<unsigned>(b[4] << 8 | b[5]);
  const unsigned data3 = static_cast<unsigned>(b[6] << 8 | b[7]);
  char* buffer = new char[kGuidBufferBytes]();
  std::snprintf(buffer, kGuidBufferBytes, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                data1, data2, data3, b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return buffer;
}

std::wstring GenerateGuidW() {
  char* guid = GenerateGuid();
  std::wstring text = s2w(guid);
  delete[] guid;
  return text;
}

std::string w2s(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if (isHighSurrogate(c)) {
      if (i + 1 >= text.size() || !isLowSurrogate(static_cast<uint32_t>(text[i + 1]))) {
        badConversion();
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[++i]) - 0xDC00);
    } else if (isLowSurrogate(c) || c > 0x10FFFF) {
      badConversion();
    }
    appendUtf8(&out, c);
  }
  return out;
}

std::wstring s2w(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) out.push_back(static_cast<wchar_t>(decodeUtf8(text, &pos)));
  return out;
}

long parseLong(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  unsigned long magnitude = 0;
  const unsigned long limit = negative ? static_cast<unsigned long>(LONG_MAX) + 1 : LONG_MAX;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    const unsigned long digit = static_cast<unsigned long>(text[i] - L'0');
    magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
  }
  if (!negative) return static_cast<long>(magnitude);
  return magnitude == limit ? LONG_MIN : -static_cast<long>(magnitude);
}

}  // namespace qx
