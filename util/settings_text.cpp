#include "util/settings_text.h"

#include <QSettings>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

namespace ombrix {

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
namespace {

// Qt 5 writes a value through its INI codec one UTF-16 unit at a time, so the
// plain UTF-8 codec drops both halves of a character beyond the BMP (an emoji
// would be lost). This codec holds a high surrogate until the unit after it,
// and writes the pair as one character; reading is plain UTF-8.
class IniUtf8Codec : public QTextCodec {
 public:
  QByteArray name() const override { return QByteArrayLiteral("ombrix-ini-UTF-8"); }
  int mibEnum() const override { return -4106; }  // no registered MIB of its own

 protected:
  QString convertToUnicode(const char* in, int length, ConverterState* state) const override {
    return utf8_->toUnicode(in, length, state);
  }

  QByteArray convertFromUnicode(const QChar* in, int length, ConverterState*) const override {
    QString text;
    if (pending_high_ != 0) {
      text += QChar(pending_high_);
      pending_high_ = 0;
    }
    text += QString(in, length);
    if (!text.isEmpty() && QChar(text.back()).isHighSurrogate()) {
      pending_high_ = QChar(text.back()).unicode();
      text.chop(1);
    }
    return text.toUtf8();
  }

 private:
  QTextCodec* const utf8_ = QTextCodec::codecForName("UTF-8");
  // Per thread: two threads may write stores at once.
  static thread_local char16_t pending_high_;
};

thread_local char16_t IniUtf8Codec::pending_high_ = 0;

QTextCodec* IniCodec() {
  static QTextCodec* const codec = new IniUtf8Codec;  // Qt owns registered codecs
  return codec;
}

}  // namespace

void UseUtf8Text(QSettings& settings) { settings.setIniCodec(IniCodec()); }
#else
void UseUtf8Text(QSettings&) {}  // Qt 6 reads and writes INI files as UTF-8
#endif

}  // namespace ombrix
