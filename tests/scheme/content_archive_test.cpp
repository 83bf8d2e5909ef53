// The content archive reader on archives the packer writes, and the rules that
// turn a client URL into an entry name and a type.
#include "scheme/content_archive.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

#include "scheme/archive_writer.h"

namespace ombrix {
namespace {

using Method = ArchiveWriter::Method;

class ContentArchiveTest : public ::testing::Test {
 protected:
  QString Path(const QString& name) const { return dir_.filePath(name); }

  QString Build(const std::function<void(ArchiveWriter&)>& fill) {
    const QString path = Path("app.data");
    ArchiveWriter writer;
    EXPECT_TRUE(writer.Open(path));
    fill(writer);
    EXPECT_TRUE(writer.Close());
    return path;
  }

  QTemporaryDir dir_;
};

TEST_F(ContentArchiveTest, ReadsStoredDeflatedAndEncryptedEntriesWhateverTheLetterCase) {
  QByteArray large;
  for (int i = 0; i < 300000; ++i) large.append(char('a' + i * 7 % 26));
  const QString path = Build([&](ArchiveWriter& w) {
    w.Add("stored.txt", "plain bytes", Method::kStored, false);
    w.Add("Sub/Deflated.JS", large, Method::kDeflated, false);
    w.Add("secret/界面.html", "<p>locked</p>", Method::kDeflated, true);
    w.Add("secret/stored.bin", QByteArray("\0\1\2", 3), Method::kStored, true);
    w.Add("empty.css", "", Method::kDeflated, true);
  });
  ContentArchive archive;
  ASSERT_TRUE(archive.Open(path));
  EXPECT_EQ(archive.Read("stored.txt", 1 << 20), "plain bytes");
  EXPECT_EQ(archive.Read("sub/deflated.js", 1 << 20), large);
  EXPECT_EQ(archive.Read("SECRET/界面.HTML", 1 << 20), "<p>locked</p>");
  EXPECT_EQ(archive.Read("secret/stored.bin", 1 << 20), QByteArray("\0\1\2", 3));
  EXPECT_EQ(archive.OpenEntry("empty.css"), 0);
  EXPECT_EQ(archive.OpenEntry("missing.txt"), -1);
  EXPECT_EQ(archive.OpenEntry("stored.txt?v=2"), -1);  // a query is part of the name
  // Read in pieces, an entry comes whole.
  ASSERT_EQ(archive.OpenEntry("sub/deflated.js"), large.size());
  QByteArray pieces;
  char piece[1000];
  for (qint64 n; (n = archive.ReadEntry(piece, sizeof piece)) > 0;) pieces.append(piece, int(n));
  EXPECT_EQ(pieces, large);
}

TEST_F(ContentArchiveTest, MissingDamagedOrForeignArchivesFindNothing) {
  ContentArchive missing;
  EXPECT_FALSE(missing.Open(Path("none.data")));
  EXPECT_EQ(missing.OpenEntry("index.html"), -1);

  QFile text(Path("text.data"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("this is no archive at all");
  text.close();
  ContentArchive foreign;
  EXPECT_FALSE(foreign.Open(Path("text.data")));
  EXPECT_EQ(foreign.Read("index.html", 100), QByteArray());

  // Cut in the middle of its data: what remains is read without a crash.
  const QString path = Build(
      [](ArchiveWriter& w) { w.Add("a.txt", QByteArray(100000, 'x'), Method::kStored, true); });
  QFile::resize(path, 50000);
  ContentArchive truncated;
  truncated.Open(path);
  EXPECT_LE(truncated.Read("a.txt", 1 << 20).size(), 100000);
}

// Archives that vendors make with Info-ZIP's zip -P (sizes after the data,
// so the password check byte is the time's) read as ours do; another password
// finds nothing.
TEST_F(ContentArchiveTest, ReadsArchivesOfInfoZip) {
  QFile text(Path("note.txt"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write(QByteArray(5000, 'z') + "end");
  text.close();
  const auto zip = [&](const char* password, const char* archive) {
    return std::system(("cd '" + dir_.path().toStdString() + "' && zip -q -P " + password + " " +
                        archive + " note.txt")
                           .c_str());
  };
  ASSERT_EQ(zip("718206", "right.zip"), 0);
  ASSERT_EQ(zip("000000", "wrong.zip"), 0);
  ContentArchive right;
  ASSERT_TRUE(right.Open(Path("right.zip")));
  EXPECT_EQ(right.Read("NOTE.TXT", 1 << 20), QByteArray(5000, 'z') + "end");
  EXPECT_TRUE(right.EntryWhole());
  ContentArchive wrong;
  ASSERT_TRUE(wrong.Open(Path("wrong.zip")));
  // The check byte stops another password 255 times in 256; the CRC the rest.
  const bool refused = wrong.OpenEntry("note.txt") < 0;
  if (!refused) wrong.ReadRest(1 << 20);
  EXPECT_TRUE(refused || !wrong.EntryWhole());
}

// Every file of a folder is served under its own name, or the packer refuses it.
TEST_F(ContentArchiveTest, PackedNamesWithSpacesAndChineseAndEmptyFilesAreServed) {
  QDir().mkpath(Path("app/数据"));
  for (const char* name : {"app/price list.html", "app/数据/表.json", "app/empty.txt"}) {
    QFile file(Path(QString::fromUtf8(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(name[4] == 'e' ? "" : "x");
  }
  QString error;
  ASSERT_EQ(PackFolder(Path("app"), Path("app.data"), &error), 3) << error.toStdString();
  ContentArchive archive;
  ASSERT_TRUE(archive.Open(Path("app.data")));
  // As the engine asks for them: spaces and non-ASCII percent-encoded.
  EXPECT_EQ(archive.OpenEntry(EntryNameFromUrl("client:///price%20list.html")), 1);
  EXPECT_EQ(archive.OpenEntry(EntryNameFromUrl("client:///%E6%95%B0%E6%8D%AE/%E8%A1%A8.json")), 1);
  EXPECT_EQ(archive.OpenEntry(EntryNameFromUrl("client:///empty.txt")), 0);
  EXPECT_TRUE(archive.ReadRest(10).isEmpty());
  EXPECT_TRUE(archive.EntryWhole());

  QFile odd(Path("app/50%.png"));
  ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
  odd.close();
  QFile hash(Path("app/a#b.html"));
  ASSERT_TRUE(hash.open(QIODevice::WriteOnly));
  hash.close();
  EXPECT_EQ(PackFolder(Path("app"), Path("next.data"), &error), -1);
  EXPECT_TRUE(error.contains("\n  50%.png") && error.contains("\n  a#b.html"))
      << error.toStdString();
  EXPECT_FALSE(QFile::exists(Path("next.data")));
}

TEST(ClientUrlTest, EntryNameAndTypeFollowTheUrl) {
  EXPECT_EQ(EntryNameFromUrl("client:///index.html"), "index.html");
  EXPECT_EQ(EntryNameFromUrl("client:///js/app.js?v=3"), "js/app.js?v=3");
  EXPECT_EQ(EntryNameFromUrl("client:///a%20b%2Fc%2fd%zz%4"), "a b%2Fc%2fd%zz%4");
  EXPECT_EQ(ChooseMimeType("index.html"), "text/html");
  EXPECT_EQ(ChooseMimeType("js/app.js?v=1.2.zip"), "text/javascript");
  EXPECT_EQ(ChooseMimeType("data.json#part.png"), "application/json");
  EXPECT_EQ(ChooseMimeType("IMG/LOGO.PNG"), "image/png");
  EXPECT_EQ(ChooseMimeType("fonts/a.woff2"), "font/woff2");
  EXPECT_EQ(ChooseMimeType("doc.rtf"), "application/rtf");  // beyond the web's usual types
  EXPECT_EQ(ChooseMimeType("README"), "text/html");
  EXPECT_EQ(ChooseMimeType("file.unknownext"), "text/html");
  EXPECT_EQ(ChooseMimeType("dir.v2/readme"), "text/html");
}

}  // namespace
}  // namespace ombrix
