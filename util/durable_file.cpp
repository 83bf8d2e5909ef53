#include "util/durable_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>

namespace ombrix {
namespace {

// The file a path names, following symbolic links (a dangling link names the
// file it points to, which is then created).
QString RealTarget(const QString& target) {
  QFileInfo info(target);
  for (int hops = 0; info.isSymLink() && hops < 40; ++hops) {
    QString next = info.symLinkTarget();
    if (next.isEmpty()) break;
    info = QFileInfo(next);
  }
  return info.absoluteFilePath();
}

// A name beside the target for a replacement's new content: hidden, short
// enough for any target name, and its own for every try of this process (a
// leftover of an earlier run with the same process number is passed over).
QByteArray PartialName(const QFileInfo& target, unsigned attempt) {
  static std::atomic<unsigned> count{0};
  return QFile::encodeName(
      target.absolutePath() + QStringLiteral("/.") + target.fileName().left(64) +
      QStringLiteral(".%1-%2-%3.ombrix-new").arg(getpid()).arg(++count).arg(attempt));
}

// Creates the file for the new content, readable by its writer alone until it
// has its final owner and bits; -1 with errno set when it could not.
int CreatePartial(const QFileInfo& target, QByteArray* name) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    *name = PartialName(target, attempt);
    const int fd = ::open(name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The process's file mode mask, read without changing it (umask() can only be
// read by setting it, which would race with files other threads create).
mode_t ReadProcessUmask() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (status.open(QIODevice::ReadOnly)) {
    for (const QByteArray& line : status.readAll().split('\n')) {
      if (line.startsWith("Umask:")) return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
    }
  }
  return 022;
}

// ombrix never changes its mask, so it is read once.
mode_t ProcessUmask() {
  static const mode_t mask = ReadProcessUmask();
  return mask;
}

// Gives the new file the old one's owner (where allowed) and bits, or new_mode
// for a new target. The owner goes first: changing it clears set-id bits.
bool TakeOver(int fd, const struct stat* old, int new_mode) {
  if (old) {
    if (::fchown(fd, old->st_uid, old->st_gid) != 0) {
      // Only root may give a file away; a file of another user becomes the writer's.
    }
    return ::fchmod(fd, old->st_mode & 07777) == 0;
  }
  return ::fchmod(fd, new_mode >= 0 ? mode_t(new_mode) & 07777 : 0666 & ~ProcessUmask()) == 0;
}

// Files of the kernel's own file systems (/proc, /sys and the like) are
// settings, not stored data: they can only be written in place.
bool OnKernelFileSystem(const QByteArray& path) {
  struct statfs fs;
  if (::statfs(path.constData(), &fs) != 0) return false;
  switch (fs.f_type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case 0x62656570:  // configfs
      return true;
    default:
      return false;
  }
}

void SyncFolder(const QString& folder) {
  const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Whether a replacement that the folder refused may still write the target in
// place: it exists and its writer may write it.
bool RefusedByFolder(int error, bool exists) {
  return exists && (error == EACCES || error == EPERM || error == EROFS);
}

}  // namespace

bool WriteAll(int fd, const char* data, qint64 size) {
  for (qint64 done = 0; done < size;) {
    const ssize_t n = ::write(fd, data + done, size_t(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

ReplaceResult ReplaceFile(const QString& target, const std::function<bool(int fd)>& fill,
                          int new_mode) {
  const QFileInfo real(RealTarget(target));
  const QByteArray real_path = QFile::encodeName(real.absoluteFilePath());
  struct stat old;
  const bool exists = ::stat(real_path.constData(), &old) == 0;
  if (exists && ::access(real_path.constData(), W_OK) != 0) return ReplaceResult::kFailed;
  if (exists && (!S_ISREG(old.st_mode) || OnKernelFileSystem(real_path))) {
    return ReplaceResult::kInPlace;
  }
  QByteArray partial;
  const int fd = CreatePartial(real, &partial);
  if (fd < 0)
    return RefusedByFolder(errno, exists) ? ReplaceResult::kInPlace : ReplaceResult::kFailed;
  const bool written =
      TakeOver(fd, exists ? &old : nullptr, new_mode) && fill(fd) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    ::unlink(partial.constData());
    return ReplaceResult::kFailed;
  }
  if (::rename(partial.constData(), real_path.constData()) != 0) {
    const int error = errno;  // e.g. another user's file in a sticky folder such as /tmp
    ::unlink(partial.constData());
    return RefusedByFolder(error, exists) ? ReplaceResult::kInPlace : ReplaceResult::kFailed;
  }
  SyncFolder(real.absolutePath());
  return ReplaceResult::kReplaced;
}

}  // namespace ombrix
