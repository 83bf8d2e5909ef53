// Round trip of QueryNum through ComFpj against fpj-sim, next to a raw write
// and read of the same bytes on the same pseudo-terminal in the same run.
// The two alternate, one exchange each, so both see the same load.
//
//   bench_dispenser [--quick] [--iterations N] [--check]
//
// --check exits 1 when the driver's median exceeds the raw median by more
// than 1 ms. Debug lines of the driver are formatted but not printed.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/ComFpj.h"
#include "sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

const unsigned char kQueryNum[] = {0x02, 0x00, 0x01, 0x11, 0x14};
constexpr size_t kReplyLength = 8;
constexpr double kTargetUs = 1000.0;

double UsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios raw{};
  if (fd >= 0 && tcgetattr(fd, &raw) == 0) {
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
  }
  return fd;
}

// One raw exchange: write the request, read until the whole reply is there.
bool RawExchange(int fd) {
  if (write(fd, kQueryNum, sizeof kQueryNum) != ssize_t(sizeof kQueryNum)) return false;
  unsigned char reply[64];
  size_t got = 0;
  while (got < kReplyLength) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return false;
    const ssize_t n = read(fd, reply + got, sizeof reply - got);
    if (n > 0) got += size_t(n);
  }
  return true;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double Percentile90(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() * 9 / 10];
}

void DropDebug(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type != QtDebugMsg) std::fprintf(stderr, "%s\n", qPrintable(text));
}

bool HasFlag(int argc, char** argv, const char* flag) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], flag) == 0) return true;
  }
  return false;
}

int IntArg(int argc, char** argv, const char* name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
  }
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = HasFlag(argc, argv, "--quick");
  const int iterations = IntArg(argc, argv, "--iterations", quick ? 100 : 1000);
  const auto deadline = Clock::now() + std::chrono::seconds(quick ? 10 : 60);
  qInstallMessageHandler(DropDebug);

  SimProcess sim;
  ComFpj fpj;
  const int raw = sim.started() ? OpenRaw(sim.path()) : -1;
  if (raw < 0 || !fpj.OpenPort(QString::fromStdString(sim.path()))) {
    std::fprintf(stderr, "bench_dispenser: cannot reach the simulator\n");
    return 1;
  }
  for (int i = 0; i < 20; ++i) {  // warm-up
    RawExchange(raw);
    fpj.QueryNum();
  }
  std::vector<double> rawUs, driverUs;
  for (int i = 0; i < iterations && Clock::now() < deadline; ++i) {
    auto start = Clock::now();
    if (!RawExchange(raw)) return 1;
    rawUs.push_back(UsSince(start));
    start = Clock::now();
    if (fpj.QueryNum() != 100) return 1;
    driverUs.push_back(UsSince(start));
  }
  close(raw);

  const double rawMedian = Median(rawUs), driverMedian = Median(driverUs);
  const double added = driverMedian - rawMedian;
  std::printf("QueryNum round trip over a pseudo-terminal, %zu exchanges each\n", rawUs.size());
  std::printf("  raw write/read : median %8.1f us   p90 %8.1f us\n", rawMedian,
              Percentile90(rawUs));
  std::printf("  ComFpj driver  : median %8.1f us   p90 %8.1f us\n", driverMedian,
              Percentile90(driverUs));
  std::printf("  driver adds    : %8.1f us (ratio %.2f), target <= %.0f us: %s\n", added,
              rawMedian > 0 ? driverMedian / rawMedian : 0.0, kTargetUs,
              added <= kTargetUs ? "met" : "NOT met");
  return HasFlag(argc, argv, "--check") && added > kTargetUs ? 1 : 0;
}
