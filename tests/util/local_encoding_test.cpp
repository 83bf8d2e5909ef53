// Names handed to the system are UTF-8 under a UTF-8 or plain ASCII locale,
// whichever Qt the shell is built with.
#include "util/local_encoding.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif
#include <cstdlib>

namespace ombrix {
namespace {

TEST(LocalEncoding, UnderAUtf8LocaleChineseFileNamesReachTheDiskAsUtf8) {
  EXPECT_TRUE(IsUtf8Compatible("UTF-8"));
  EXPECT_TRUE(IsUtf8Compatible("ANSI_X3.4-1968"));  // the "C" locale
  EXPECT_FALSE(IsUtf8Compatible("GB18030"));
  EXPECT_FALSE(IsUtf8Compatible("ISO-8859-1"));
  EXPECT_FALSE(IsUtf8Compatible(nullptr));

  setenv("LC_ALL", "C.UTF-8", 1);
  UseUtf8LocalEncoding();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString name = dir.path() + QString::fromUtf8("/价格表.txt");
  QFile file(name);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("1");
  file.close();
  const QByteArray utf8 = name.toUtf8();
  const int fd = open(utf8.constData(), O_RDONLY);
  EXPECT_GE(fd, 0) << "the file's name on disk is not the UTF-8 of its name";
  if (fd >= 0) close(fd);
  EXPECT_EQ(QFile::decodeName(utf8), name);
  EXPECT_EQ(QString::fromLocal8Bit("\xff"), QString(QChar(0xFFFD)));  // invalid, not lost

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
  // A stream read in pieces that split a character.
  QTextDecoder decoder(QTextCodec::codecForLocale());
  const QByteArray text = QString::fromUtf8("价格 9.5 元").toUtf8();
  QString read;
  for (int i = 0; i < text.size(); i += 2) read += decoder.toUnicode(text.mid(i, 2));
  EXPECT_EQ(read, QString::fromUtf8("价格 9.5 元"));
  EXPECT_EQ(QTextCodec::codecForLocale()->mibEnum(), 106);
#endif
  unsetenv("LC_ALL");
}

}  // namespace
}  // namespace ombrix
