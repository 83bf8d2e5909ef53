// fpj-sim: a ticket dispenser on a pseudo-terminal, for running and testing
// pages without hardware.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "fpj_sim_core.h"

namespace {

void SleepMs(int ms) {
  if (ms <= 0) return;
  timespec t{ms / 1000, long(ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

// Opens the master side, unlocks the slave and keeps one slave descriptor
// open for the simulator's lifetime: the master then never sees a hang-up
// while no client has the port open. The slave starts in raw mode.
int OpenPty(std::string& slavePath, int& slaveFd) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const char* name = ptsname(master);
  if (!name) return -1;
  slavePath = name;
  slaveFd = open(name, O_RDWR | O_NOCTTY);
  if (slaveFd < 0) return -1;
  termios raw{};
  if (tcgetattr(slaveFd, &raw) == 0) {
    cfmakeraw(&raw);
    tcsetattr(slaveFd, TCSANOW, &raw);
  }
  return master;
}

bool WriteAll(int fd, const fpjsim::Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

void LogFrame(FILE* log, const fpjsim::Bytes& frame) {
  if (!log) return;
  std::fprintf(log, "%s\n", fpjsim::HexLine(frame).c_str());
  std::fflush(log);
}

void Answer(int master, const fpjsim::Options& options, fpjsim::DeviceState& state,
            const fpjsim::Bytes& request) {
  const fpjsim::Reply reply = fpjsim::Respond(state, options, request);
  SleepMs(reply.dispenseMs);
  bool first = true;
  for (const fpjsim::Bytes& piece : fpjsim::SplitPieces(reply.bytes, options.pieces)) {
    if (!first) SleepMs(options.pieceGapMs);
    first = false;
    if (!piece.empty()) WriteAll(master, piece);
  }
}

int Serve(int master, const fpjsim::Options& options, FILE* log) {
  fpjsim::DeviceState state;
  state.stock = options.stock;
  fpjsim::RequestSplitter splitter;
  uint8_t buffer[512];
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return 1;
    splitter.Feed(buffer, size_t(n));
    fpjsim::Bytes request;
    while (splitter.Next(request)) {
      LogFrame(log, request);
      Answer(master, options, state, request);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  fpjsim::Options options;
  std::string error;
  if (!fpjsim::ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "fpj-sim: %s\n\n%s", error.c_str(), fpjsim::Usage().c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(fpjsim::Usage().c_str(), stdout);
    return 0;
  }
  std::signal(SIGPIPE, SIG_IGN);
  FILE* log = nullptr;
  if (!options.logPath.empty() && !(log = std::fopen(options.logPath.c_str(), "a"))) {
    std::perror(options.logPath.c_str());
    return 1;
  }
  std::string path;
  int slaveFd = -1;
  const int master = OpenPty(path, slaveFd);
  if (master < 0) {
    std::perror("fpj-sim: pseudo-terminal");
    return 1;
  }
  std::printf("%s\n", path.c_str());
  std::fflush(stdout);
  return Serve(master, options, log);
}
