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

// Sends the rest of the open entry; ends when the reader goes away.
void Pump(std::unique_ptr<ContentArchive> archive, int fd) {
  std::vector<char> piece(kPiece);
  for (qint64 n; (n = archive->ReadEntry(piece.data(), kPiece)) > 0;) {
    for (qint64 sent = 0; sent < n;) {
      const ssize_t done = send(fd, piece.data() + sent, size_t(n - sent), MSG_NOSIGNAL);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) {
        close(fd);
        return;
      }
      sent += done;
    }
  }
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
