// Replacing files: through links, with the old permissions, kernel settings
// in place, and nothing
// changed when the new content cannot be written, also on a full disk.
#include "util/durable_file.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>

#include "api/file_fun.h"
#include "api/tool_fun.h"

namespace ombrix {
namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool Fill(const QString& path, const QByteArray& data) {
  return ReplaceFile(path, [&](int fd) { return WriteAll(fd, data.constData(), data.size()); }) ==
         ReplaceResult::kReplaced;
}

TEST(ReplaceFile, KeepsLinksAndPermissionsAndLeavesTheOldContentOnFailure) {
  QTemporaryDir dir;
  const QString real = dir.filePath("real.txt");
  const QString link = dir.filePath("link.txt");
  ASSERT_TRUE(Fill(real, "old"));
  ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
  ASSERT_EQ(::symlink("real.txt", QFile::encodeName(link).constData()), 0);

  ASSERT_TRUE(Fill(link, "new"));
  EXPECT_TRUE(QFileInfo(link).isSymLink());  // the link stays a link
  EXPECT_EQ(ReadAll(real), "new");
  struct stat info;
  ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  // A write that fails half way leaves the old content and no file beside it.
  EXPECT_EQ(ReplaceFile(real,
                        [](int fd) {
                          WriteAll(fd, "half", 4);
                          return false;
                        }),
            ReplaceResult::kFailed);
  EXPECT_EQ(ReadAll(real), "new");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);  // real, link

  // No folder, no file; a FIFO is left to be written in place.
  EXPECT_EQ(ReplaceFile(dir.filePath("none/x.txt"), [](int) { return true; }),
            ReplaceResult::kFailed);
  const QString fifo = dir.filePath("fifo");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  EXPECT_EQ(ReplaceFile(fifo, [](int) { return true; }), ReplaceResult::kInPlace);

  // A name as long as a file system allows is still replaced beside itself; a
  // kernel setting (a file of /proc) is written in place.
  EXPECT_TRUE(Fill(dir.filePath(QString(255, 'n')), "long"));
  EXPECT_TRUE(file_ops::Write(QStringLiteral("/proc/thread-self/comm"), QStringLiteral("renamed")));
  EXPECT_TRUE(ReadAll(QStringLiteral("/proc/thread-self/comm")).startsWith("renamed"));
}

// On a full disk a write or a copy fails, the old content stays and nothing
// is left beside it; the file's digest is still right, as hashing only reads
// (a small tmpfs stands in for the disk; it needs root).
TEST(ReplaceFile, FullDiskFailsWriteAndCopyKeepingTheOldContentAndItsDigest) {
  QTemporaryDir dir;
  QTemporaryDir elsewhere;
  const QByteArray mount_point = QFile::encodeName(dir.path());
  if (::mount("tmpfs", mount_point.constData(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "no tmpfs to fill: " << std::strerror(errno);
  }
  struct Unmount {
    const char* path;
    ~Unmount() { ::umount2(path, MNT_DETACH); }
  } unmount{mount_point.constData()};
  const QString target = dir.filePath("state.txt");
  const QByteArray old(100 * 1024, 'o');
  ASSERT_TRUE(Fill(target, old));
  EXPECT_FALSE(Fill(target, QByteArray(300 * 1024, 'n')));
  const QString big = elsewhere.filePath("big.txt");
  ASSERT_TRUE(Fill(big, QByteArray(300 * 1024, 'c')));
  EXPECT_FALSE(file_ops::Copy(big, target));
  EXPECT_EQ(ReadAll(target), old);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

  QFile filler(dir.filePath("filler"));  // the disk to its last byte
  ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
  while (filler.write(QByteArray(4096, 'f')) > 0) {
  }
  EXPECT_EQ(tool_ops::Md5File(target),
            QString::fromLatin1(QCryptographicHash::hash(old, QCryptographicHash::Md5).toHex()));
}

}  // namespace
}  // namespace ombrix
