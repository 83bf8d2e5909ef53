// Metrics benchmark: the cost of a bound page call (ombrix.file.exist, as in
// bench/bridge) in the real shell with its metrics endpoint on and scraped
// ten times a second, against the same shell without metrics, in one run;
// and how long a scrape of /metrics takes.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/median.h"
#include "bench/common/shell_process.h"
#include "tests/support/loopback_server.h"

namespace {

using bench::Median;

using Clock = std::chrono::steady_clock;

// Measures the bound call in rounds and writes the median per call (in µs)
// to results.json, then ends the shell.
const char kPage[] = R"(<!DOCTYPE html><html><body><script>
const rounds = ROUNDS, batch = 20000;
const times = [];
let sink = 0;
for (let r = 0; r < rounds; ++r) {
  const start = performance.now();
  for (let i = 0; i < batch; ++i) sink ^= ombrix.file.exist('/nonexistent/ombrix-bench');
  times.push((performance.now() - start) * 1000 / batch);
}
times.sort((a, b) => a - b);
ombrix.file.write(ombrix.app.apppath() + '/results.json',
                  JSON.stringify({us: times[times.length >> 1]}),
                  function() { ombrix.app.exitapp(); });
</script></body></html>)";

int FreePort() {
  ombrix_test::LoopbackServer probe([](int, const std::string&) {});
  return probe.port();
}

// One GET /metrics; its time in ms, or -1 when nothing came back.
double Scrape(int port) {
  const auto start = Clock::now();
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval limit{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const char request[] = "GET /metrics HTTP/1.0\r\n\r\n";
    if (send(fd, request, sizeof request - 1, MSG_NOSIGNAL) > 0) {
      char buffer[8192];
      for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
    }
  }
  close(fd);
  if (answer.find("ombrix_build_info") == std::string::npos) return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The page's median call cost in µs (-1 on failure); with port > 0 the shell
// serves metrics there and is scraped ten times a second meanwhile.
double CallCost(int rounds, int port, std::vector<double>* scrapes) {
  QTemporaryDir dir;
  const QString app = dir.path();
  if (!bench::CopyShell(OMBRIX_BENCH_BIN_DIR, app)) return -1;
  QFile page(app + "/page.html");
  if (!page.open(QIODevice::WriteOnly)) return -1;
  page.write(QByteArray(kPage).replace("ROUNDS", QByteArray::number(rounds)));
  page.close();
  QJsonObject manifest{{"first_page", "${AppDir}/page.html"}, {"disable_debug_log", true}};
  if (port > 0) manifest["metrics"] = QJsonObject{{"listen", QString("127.0.0.1:%1").arg(port)}};
  QFile file(app + "/ombrix.json");
  if (!file.open(QIODevice::WriteOnly)) return -1;
  file.write(QJsonDocument(manifest).toJson());
  file.close();

  const pid_t shell = bench::StartShell(app);
  std::atomic<bool> done{false};
  std::thread scraper([&] {
    while (port > 0 && !done) {
      const double ms = Scrape(port);
      if (ms >= 0) scrapes->push_back(ms);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  int status = 0;
  const auto limit = Clock::now() + std::chrono::seconds(120);
  while (waitpid(shell, &status, WNOHANG) != shell && Clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  done = true;
  scraper.join();
  kill(-shell, SIGKILL);
  waitpid(shell, nullptr, WNOHANG);
  QFile results(app + "/results.json");
  if (!results.open(QIODevice::ReadOnly)) return -1;
  return QJsonDocument::fromJson(results.readAll()).object()["us"].toDouble(-1);
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int rounds = quick ? 20 : 200;
  const int pairs = quick ? 1 : 3;
  std::vector<double> off, on, scrapes;
  for (int i = 0; i < pairs; ++i) {
    off.push_back(CallCost(rounds, 0, nullptr));
    on.push_back(CallCost(rounds, FreePort(), &scrapes));
  }
  const double o = Median(off), m = Median(on), s = Median(scrapes);
  if (o <= 0 || m <= 0 || s < 0) {
    std::printf("metrics: a run did not finish (off %.3f us, on %.3f us, %zu scrapes)\n", o, m,
                scrapes.size());
    return 1;
  }
  std::printf("bound call, metrics off:               %8.3f us\n", o);
  std::printf("bound call, metrics on, scraped 10x/s: %8.3f us  (%.3fx; target <= 1.05x)\n", m,
              m / o);
  std::printf("scrape of /metrics: median %.3f ms of %zu (target < 2 ms)\n", s, scrapes.size());
  return 0;
}
