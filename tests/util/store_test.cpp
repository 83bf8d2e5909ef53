// The settings store, the installed-program lists and the clipboard block.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "util/util_win.h"

namespace ombrix {
namespace {

// The store and the desktop entries live in a folder of this test process's own.
QTemporaryDir& Home() {
  static QTemporaryDir home;
  static const bool set = [] {
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_DATA_DIRS", (home.path() + "/system").toUtf8());
    return true;
  }();
  (void)set;
  return home;
}
const bool kHomeReady = (Home(), true);

const QString kKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Omx\\StoreTest");

QJsonObject Read(const QString& path) {
  return QJsonDocument::fromJson(GetRegValue(path).toUtf8()).object();
}

void WriteFile(const QString& path, const QByteArray& content) {
  QDir().mkpath(path.left(path.lastIndexOf('/')));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(content);
}

TEST(Store, ValuesRoundTripWithSubkeysDefaultAndRemoval) {
  const QString text = QString::fromUtf8("值 ✓ ключ \"q\" = [x]");
  EXPECT_TRUE(SetRegValue(kKey, "Name", text));
  EXPECT_TRUE(SetRegValue(kKey, "Default", "the default"));
  EXPECT_TRUE(SetRegValue(kKey, QString::fromUtf8("Sub/Név"), "inner"));
  EXPECT_EQ(GetRegValue(kKey), QString::fromUtf8("{\"Default\":\"the default\",\"Name\":\"") +
                                   QString::fromUtf8("值 ✓ ключ \\\"q\\\" = [x]\",") +
                                   QString::fromUtf8("\"Sub/Név\":\"inner\"}"));
  // Key names ignore case, as the registry's do.
  EXPECT_EQ(
      Read("HKEY_CURRENT_USER\\software\\OMX\\storetest\\Sub").value(QString::fromUtf8("Név")),
      "inner");
  EXPECT_EQ(GetRegValue("HKEY_CURRENT_USER\\Software\\Omx\\Missing"), "{}");

  EXPECT_TRUE(RemoveRegValue(kKey, "Sub"));
  EXPECT_EQ(Read(kKey).keys(), (QStringList{"Default", "Name"}));
  EXPECT_TRUE(RemoveRegValue(kKey, ""));
  EXPECT_EQ(GetRegValue(kKey), "{}");
}

// Value names ignore case as key names do; a write keeps the spelling stored
// first, and a file that already holds two spellings still reads both.
TEST(Store, ValueNamesIgnoreCaseAndKeepTheirStoredSpelling) {
  const QString key = kKey + QStringLiteral("Case");
  EXPECT_TRUE(SetRegValue(key, "Lane", "1"));
  EXPECT_TRUE(SetRegValue(key, "lane", "2"));
  EXPECT_TRUE(SetRegValue(key, QString::fromUtf8("Sub/Név"), "a"));
  EXPECT_TRUE(SetRegValue(key, QString::fromUtf8("SUB/NÉV"), "b"));
  EXPECT_EQ(GetRegValue(key), QString::fromUtf8("{\"Lane\":\"2\",\"Sub/Név\":\"b\"}"));
  EXPECT_TRUE(RemoveRegValue(key, "LANE"));
  EXPECT_TRUE(RemoveRegValue(key, "sub"));
  EXPECT_EQ(GetRegValue(key), "{}");

  const QString file = Home().path() + "/config/ombrix/HKEY_CURRENT_USER.conf";
  QFile conf(file);
  ASSERT_TRUE(conf.open(QIODevice::Append));
  conf.write("\n[Software/Omx/Older]\nLane=1\nlane=2\n");
  conf.close();
  EXPECT_EQ(Read(kKey.left(kKey.lastIndexOf('\\')) + "\\Older").keys(),
            (QStringList{"Lane", "lane"}));
}

TEST(Store, PathsThatNameNoKeyReadEmptyAndWriteNothing) {
  const QString huge = "HKEY_CURRENT_USER\\" + QString(100000, 'a');
  for (const QString& path :
       {QString(), QString("HKEY_NOWHERE\\Software"), QString("HKEY_CURRENT_USER\\Software\\..\\x"),
        QString("HKEY_CURRENT_USER\\Soft/ware"), QString("HKEY_CURRENT_USER\\So") + QChar(0) + "x",
        huge}) {
    EXPECT_EQ(GetRegValue(path), "{}") << path.left(60).toStdString();
    EXPECT_FALSE(SetRegValue(path, "a", "b")) << path.left(60).toStdString();
    EXPECT_FALSE(RemoveRegValue(path, "a")) << path.left(60).toStdString();
  }
  EXPECT_FALSE(SetRegValue(kKey, QString("a") + QChar(0), "b"));
}

TEST(Store, CorruptFileIsKeptAsideAndStoreStartsAgain) {
  const QString key = "HKEY_CLASSES_ROOT\\Omx";
  const QString folder = Home().path() + "/config/ombrix";
  // A broken section header, and a broken line inside a section (which Qt
  // parses only when the section is first used).
  for (const QByteArray& broken :
       {QByteArray("[Omx\nold=\x01\xff\n=broken\n"), QByteArray("[Omx]\nold=1\nbroken line\n")}) {
    ASSERT_TRUE(SetRegValue(key, "old", "1"));
    WriteFile(folder + "/HKEY_CLASSES_ROOT.conf", broken);
    EXPECT_TRUE(SetRegValue(key, "new", "2"));
    EXPECT_EQ(GetRegValue(key), "{\"new\":\"2\"}");
    const QStringList aside = QDir(folder).entryList({"HKEY_CLASSES_ROOT.conf.corrupt-*"});
    ASSERT_EQ(aside.size(), 1);
    QFile kept(folder + "/" + aside.first());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), broken);
    kept.remove();
  }
}

TEST(Store, BrokenSharedFileLeavesTheUsersFileInPlace) {
  const QString key = "HKEY_CURRENT_CONFIG\\Omx";
  const QString folder = Home().path() + "/config";
  WriteFile(folder + "/ombrix.conf", "[Shared\nbroken line\n");  // a fallback of every root
  EXPECT_TRUE(SetRegValue(key, "a", "1"));
  EXPECT_TRUE(SetRegValue(key, "b", "2"));
  EXPECT_EQ(GetRegValue(key), "{\"a\":\"1\",\"b\":\"2\"}");
  EXPECT_TRUE(QDir(folder).entryList({"*.corrupt-*"}).isEmpty());
  EXPECT_TRUE(QDir(folder + "/ombrix").entryList({"*.corrupt-*"}).isEmpty());
  QFile::remove(folder + "/ombrix.conf");
}

// Qt 5 wrote a store's non-ASCII text escaped ("\x503c"), Qt 6 writes it as
// UTF-8: a file of either reads the same in this build, and this build writes
// what Qt 6 writes, byte for byte, a character beyond the BMP included.
TEST(Store, FilesOfEitherQtReadTheSameAndWritesAreUtf8) {
  const QString file = Home().path() + "/config/ombrix/HKEY_CLASSES_ROOT.conf";
  const QString key = "HKEY_CLASSES_ROOT\\Software\\Omx\\Fixture";
  const QString expected = QString::fromUtf8(
      "{\"Name\":\"值 ✓ ключ \\\"q\\\" = [x]\",\"Plain\":\"1\",\"Émoji\":\"😀 ok\","
      "\"组/名字\":\"Ä;ß\"}");
  auto fixture = [](const char* name) {
    QFile in(QStringLiteral(OMBRIX_STORE_FIXTURES "/") + name);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
  };
  for (const char* name : {"store-written-by-qt5.conf", "store-written-by-qt6.conf"}) {
    ASSERT_FALSE(fixture(name).isEmpty()) << name;
    WriteFile(file, fixture(name));
    EXPECT_EQ(GetRegValue(key).toStdString(), expected.toStdString()) << name;
  }

  QFile::remove(file);
  EXPECT_TRUE(SetRegValue(key, QString::fromUtf8("组/名字"), QString::fromUtf8("Ä;ß")));
  EXPECT_TRUE(SetRegValue(key, QString::fromUtf8("Émoji"), QString::fromUtf8("😀 ok")));
  EXPECT_TRUE(SetRegValue(key, "Plain", "1"));
  EXPECT_TRUE(SetRegValue(key, "Name", QString::fromUtf8("值 ✓ ключ \"q\" = [x]")));
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll(), fixture("store-written-by-qt6.conf"));
  EXPECT_EQ(GetRegValue(key).toStdString(), expected.toStdString());
  QFile::remove(file);
}

TEST(Store, TwoProcessesWritingAtOnceLoseNoValue) {
  const QString key = "HKEY_USERS\\Omx\\Race";
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    if (writers[w] == 0) {
      bool all = true;
      for (int i = 0; i < 40; ++i) all &= SetRegValue(key, QString("w%1-%2").arg(w).arg(i), "v");
      _exit(all ? 0 : 1);
    }
  }
  for (pid_t writer : writers) {
    int status = -1;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_EQ(status, 0);
  }
  EXPECT_EQ(Read(key).size(), 80);
}

TEST(Uninstall, BothFormsFromStoreAndDesktopEntries) {
  const QString uninstall =
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  ASSERT_TRUE(SetRegValue(uninstall + "\\{1}", "DisplayName", "Omx Office"));
  ASSERT_TRUE(SetRegValue(uninstall + "\\{1}", "UninstallString", "\"/opt/omx/un.sh\" /q"));
  ASSERT_TRUE(SetRegValue(uninstall + "\\{1}", "DisplayVersion", "1.2"));
  ASSERT_TRUE(SetRegValue(uninstall + "\\{2}", "InstallLocation", "/opt/none"));  // no name
  WriteFile(Home().path() + "/data/applications/omx-viewer.desktop",
            "[Desktop Entry]\nType=Application\nName=Omx Viewer\nName[de]=Betrachter\n"
            "Exec=/opt/viewer/run %U --x\nPath=/opt/viewer\n[Desktop Action new]\nName=New\n");
  WriteFile(Home().path() + "/system/applications/omx-viewer.desktop",
            "[Desktop Entry]\nType=Application\nName=Hidden By User Copy\n");
  WriteFile(Home().path() + "/system/applications/gone.desktop",
            "[Desktop Entry]\nType=Application\nName=Omx Gone\nHidden=true\n");

  const QJsonObject list = QJsonDocument::fromJson(ListUninstallEntries().toUtf8()).object();
  EXPECT_FALSE(list.contains("Hidden By User Copy"));
  EXPECT_FALSE(list.contains("Omx Gone"));
  EXPECT_EQ(QJsonDocument(list.value("Omx Office").toObject()).toJson(QJsonDocument::Compact),
            "{\"DisplayName\":\"Omx Office\",\"DisplayVersion\":\"1.2\",\"InstallLocation\":null,"
            "\"LocationRoot\":null,\"SetupPath\":null,"
            "\"UninstallString\":\"\\\"/opt/omx/un.sh\\\" /q\"}");
  EXPECT_EQ(QJsonDocument(list.value("Omx Viewer").toObject()).toJson(QJsonDocument::Compact),
            "{\"DisplayName\":\"Omx Viewer\",\"DisplayVersion\":null,"
            "\"InstallLocation\":\"/opt/viewer\",\"LocationRoot\":null,"
            "\"SetupPath\":\"/opt/viewer/run --x\",\"UninstallString\":null}");

  EXPECT_EQ(FindUninstallEntries("Office"),
            "{\"Omx Office\":{\"DisplayName\":\"Omx Office\",\"DisplayVersion\":\"1.2\","
            "\"InstallLocation\":null,\"LocationRoot\":null,\"SetupPath\":\"\","
            "\"UninstallString\":\"/opt/omx/un.sh /q\"}}");
  EXPECT_EQ(FindUninstallEntries("office"), "{}");  // case matters
  EXPECT_EQ(QJsonDocument::fromJson(FindUninstallEntries("Omx").toUtf8()).object().keys(),
            (QStringList{"Omx Office", "Omx Viewer"}));
}

TEST(Clipboard, HtmlFormatBlockCarriesByteOffsets) {
  EXPECT_EQ(BuildHtmlClipboardBlock("b"),
            QByteArray("Version:0.9\r\nStartHTML:00000097\r\nEndHTML:00000173\r\n"
                       "StartFragment:00000111\r\nEndFragment:00000137\r\n<html><body>\r\n"
                       "<!--StartFragment -->\r\nb\r\n<!--EndFragment-->\r\n</body>\r\n</html>"));
  // Offsets count bytes, not characters.
  const QByteArray block = BuildHtmlClipboardBlock(QString::fromUtf8("<i>值</i>").toUtf8());
  EXPECT_TRUE(block.contains("EndFragment:00000146")) << block.constData();
  EXPECT_EQ(block.indexOf("<!--EndFragment"), 146);
}

}  // namespace
}  // namespace ombrix
