#include "shared_block.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fastipc {

namespace {

constexpr int kOpenAttempts = 5;

// The reader mark's byte: far beyond any block, so it never touches the
// layout that other programs map (a lock may lie past the end of a file).
constexpr off_t kReaderMarkOffset = off_t(1) << 30;

struct flock readerMark(short type) {
  struct flock mark = {};
  mark.l_type = type;
  mark.l_whence = SEEK_SET;
  mark.l_start = kReaderMarkOffset;
  mark.l_len = 1;
  return mark;  // l_pid stays 0, as open-file-description locks require
}

int flockRetrying(int fd, int operation) {
  int rc;
  do {
    rc = flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

}  // namespace

SharedBlock::~SharedBlock() { close(); }

bool SharedBlock::stillNamed(const std::string& name) const {
  const int fd = shm_open(name.c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  struct stat named, held;
  const bool same = fstat(fd, &named) == 0 && fstat(fd_, &held) == 0 &&
                    named.st_ino == held.st_ino && named.st_dev == held.st_dev;
  ::close(fd);
  return same;
}

// Takes the exclusive lock when no server holds the object, otherwise a shared
// one. Another program may have removed the name meanwhile; then the caller
// opens the name again.
bool SharedBlock::lockForServer(const std::string& name, bool* alone) {
  *alone = flockRetrying(fd_, LOCK_EX | LOCK_NB) == 0;
  if (!*alone && flockRetrying(fd_, LOCK_SH) != 0) return false;
  return stillNamed(name);
}

bool SharedBlock::reserve(size_t bytes) {
  struct stat st;
  if (fstat(fd_, &st) != 0) return false;
  if (static_cast<size_t>(st.st_size) < bytes && ftruncate(fd_, static_cast<off_t>(bytes)) != 0) {
    return false;
  }
  // Reserve the pages now: a full tmpfs then fails here instead of raising
  // SIGBUS on the first write into the mapping.
  return posix_fallocate(fd_, 0, static_cast<off_t>(bytes)) == 0;
}

bool SharedBlock::openForServer(const std::string& name, size_t bytes, bool* alone) {
  close();
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    fd_ = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return false;
    if (lockForServer(name, alone)) break;
    close();
  }
  if (fd_ < 0) return false;
  return reserve(bytes);
}

void SharedBlock::shareLock() { flockRetrying(fd_, LOCK_SH); }

bool SharedBlock::markReader() {
  // Shared, so that every server of a channel holds it at the same time.
  struct flock mark = readerMark(F_RDLCK);
  return fd_ >= 0 && fcntl(fd_, F_OFD_SETLK, &mark) == 0;
}

bool SharedBlock::readerPresent() const {
  if (fd_ < 0) return false;
  // A write lock would conflict with any reader's mark; the kernel only
  // reports whether one is there and takes nothing. The client opened the
  // object itself, so even a server in its own process counts.
  struct flock probe = readerMark(F_WRLCK);
  if (fcntl(fd_, F_OFD_GETLK, &probe) != 0) return true;
  return probe.l_type != F_UNLCK;
}

bool SharedBlock::openExisting(const std::string& name) {
  close();
  fd_ = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
  return fd_ >= 0;
}

unsigned char* SharedBlock::map(size_t bytes) {
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0 || static_cast<size_t>(st.st_size) < bytes) return nullptr;
  void* view = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (view == MAP_FAILED) return nullptr;
  if (view_ != nullptr) munmap(view_, view_bytes_);
  view_ = static_cast<unsigned char*>(view);
  view_bytes_ = bytes;
  return view_;
}

void SharedBlock::close() {
  if (view_ != nullptr) munmap(view_, view_bytes_);
  view_ = nullptr;
  view_bytes_ = 0;
  const int fd = fd_;
  fd_ = -1;
  if (fd >= 0) ::close(fd);
}

}  // namespace fastipc
