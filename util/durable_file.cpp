#include "util/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
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

// A name beside the target, its own for every replacement of this process.
QString PartialName(const QFileInfo& target) {
  static std::atomic<unsigned> count{0};
  return target.absolutePath() + QStringLiteral("/.") + target.fileName() +
         QStringLiteral(".%1-%2.ombrix-new").arg(getpid()).arg(++count);
}

void SyncFolder(const QString& folder) {
  const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
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
  if (exists && !S_ISREG(old.st_mode)) return ReplaceResult::kNotRegular;
  const QByteArray partial = QFile::encodeName(PartialName(real));
  const int fd = ::open(partial.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return ReplaceResult::kFailed;
  if (exists) {
    ::fchmod(fd, old.st_mode & 07777);
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Only the owner may change; a file of another user becomes the writer's.
    }
  } else if (new_mode >= 0) {
    ::fchmod(fd, mode_t(new_mode) & 07777);
  }
  const bool written = fill(fd) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(partial.constData(), real_path.constData()) != 0) {
    ::unlink(partial.constData());
    return ReplaceResult::kFailed;
  }
  SyncFolder(real.absolutePath());
  return ReplaceResult::kReplaced;
}

}  // namespace ombrix
