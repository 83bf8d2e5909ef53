#include "scheme/entry_stream.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <vector>

#include "scheme/content_archive.h"

namespace ombrix {
namespace {

constexpr int kPiece = 256 * 1024;

bool SendAll(int fd, const char* data, qint64 n) {
  for (qint64 sent = 0; sent < n;) {
    const ssize_t done = send(fd, data + sent, size_t(n - sent), MSG_NOSIGNAL);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    sent += done;
  }
  return true;
}

// Sends the rest of the open entry; ends when the reader goes away. The last
// piece is held back until the entry's CRC has been checked: a damaged entry
// (or a password that only seemed to fit) ends short, so the reader never
// takes it for whole.
void Pump(std::unique_ptr<ContentArchive> archive, int fd) {
  std::vector<char> piece(kPiece);
  std::vector<char> held(kPiece);
  qint64 held_size = 0;
  for (qint64 n; (n = archive->ReadEntry(piece.data(), kPiece)) > 0;) {
    if (held_size > 0 && !SendAll(fd, held.data(), held_size)) {
      close(fd);
      return;
    }
    piece.swap(held);
    held_size = n;
  }
  if (held_size > 0 && archive->EntryWhole()) SendAll(fd, held.data(), held_size);
  close(fd);
}

}  // namespace

int StreamEntry(std::unique_ptr<ContentArchive> archive) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return -1;
  // Room for several pieces in flight, so the pump rarely waits on the reader.
  const int room = 4 * kPiece;
  setsockopt(ends[0], SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
  try {
    std::thread(Pump, std::move(archive), ends[1]).detach();
  } catch (const std::system_error&) {
    close(ends[0]);
    close(ends[1]);
    return -1;
  }
  return ends[0];
}

}  // namespace ombrix
