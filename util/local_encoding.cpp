#include "util/local_encoding.h"

#include <langinfo.h>

#include <QtGlobal>
#include <clocale>
#include <cstring>
#include <string>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

namespace ombrix {

bool IsUtf8Compatible(const char* charset) {
  if (!charset) return false;
  for (const char* name : {"UTF-8", "utf-8", "UTF8", "utf8", "ANSI_X3.4-1968", "ASCII", "US-ASCII"})
    if (std::strcmp(charset, name) == 0) return true;
  return false;
}

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
namespace {

// The character set the environment's locale (LANG, LC_ALL, LC_CTYPE) names,
// read without leaving that locale set.
std::string EnvironmentCharset() {
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  const std::string saved = current ? current : "C";
  std::string charset;
  if (std::setlocale(LC_CTYPE, "")) charset = nl_langinfo(CODESET);
  std::setlocale(LC_CTYPE, saved.c_str());
  return charset;
}

// How many bytes at the end of `bytes` begin a UTF-8 sequence that has not ended.
int UnfinishedTail(const QByteArray& bytes) {
  const int size = bytes.size();
  for (int back = 1; back <= 3 && back <= size; ++back) {
    const uchar byte = uchar(bytes[size - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const int length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return length > back ? back : 0;
  }
  return 0;
}

// UTF-8 by Qt's own conversions. A stream's piece that ends inside a character
// keeps those bytes in its state for the next piece.
class Utf8Codec : public QTextCodec {
 public:
  QByteArray name() const override { return QByteArrayLiteral("UTF-8"); }
  int mibEnum() const override { return 106; }

 protected:
  QString convertToUnicode(const char* in, int length, ConverterState* state) const override {
    if (!state) return QString::fromUtf8(in, length);
    QByteArray bytes;
    for (int i = 0; i < state->remainingChars; ++i) bytes += char(state->state_data[i]);
    bytes.append(in, length);
    const int tail = UnfinishedTail(bytes);
    for (int i = 0; i < tail; ++i) state->state_data[i] = uchar(bytes[bytes.size() - tail + i]);
    state->remainingChars = tail;
    return QString::fromUtf8(bytes.constData(), bytes.size() - tail);
  }
  QByteArray convertFromUnicode(const QChar* in, int length, ConverterState*) const override {
    return QString::fromRawData(in, length).toUtf8();
  }
};

}  // namespace
#endif

void UseUtf8LocalEncoding() {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
  if (IsUtf8Compatible(EnvironmentCharset().c_str()))
    QTextCodec::setCodecForLocale(new Utf8Codec);  // Qt keeps registered codecs
#endif
}

}  // namespace ombrix
