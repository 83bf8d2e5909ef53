// Idle reset benchmark: how long a counter left alone takes from its reset to
// the first page shown again with its storage empty, against a plain reload
// of the same page in the same run. Each load finds 1 MB in localStorage and
// 200 cookies left by the load before it (none after a reset) and fills them
// again; every load leaves a file saying what it found.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/median.h"
#include "bench/common/shell_process.h"
#include "tests/support/loopback_server.h"

namespace {

using bench::Median;

using Clock = std::chrono::steady_clock;

// Load N writes loaded-N ("empty" or "full") once the page is filled; a file
// "reload-N" makes load N reload the page.
const char kPage[] = R"(<!DOCTYPE html><html><body><h1>Idle</h1><script>
  const dir = ombrix.app.apppath();
  let n = 1;
  while (ombrix.file.exist(dir + '/loaded-' + n)) n++;
  const found = localStorage.getItem('basket') === null && document.cookie === '' ? 'empty' : 'full';
  localStorage.setItem('basket', 'x'.repeat(512 * 1024));  // 1 MB in UTF-16
  for (let i = 0; i < 200; i++) document.cookie = 'c' + i + '=' + i + '; max-age=3600';
  ombrix.file.write(dir + '/loaded-' + n, found, function() {});
  setInterval(function() { if (ombrix.file.exist(dir + '/reload-' + n)) location.reload(); }, 5);
</script></body></html>)";

QString Found(const QString& app, int n) {
  QFile file(app + "/loaded-" + QString::number(n));
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

// Milliseconds from `from` until load n has said what it found; -1 past the limit.
double UntilLoad(const QString& app, int n, Clock::time_point from, QString* found) {
  while ((*found = Found(app, n)).isEmpty()) {
    if (Clock::now() - from > std::chrono::seconds(60)) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

int Resets(const QString& app) {
  QFile log(app + "/shell.log");
  return log.open(QIODevice::ReadOnly) ? log.readAll().count("idle reset\r\n") : 0;
}

using bench::App;

std::unique_ptr<App> StartApp(int port, const char* kiosk) {
  auto app = std::make_unique<App>();
  if (!bench::CopyShell(OMBRIX_BENCH_BIN_DIR, app->path())) return nullptr;
  app->Write("ombrix.json", "{\"first_page\": \"http://127.0.0.1:" + QByteArray::number(port) +
                                "/page.html\", \"window\": {\"launch_width\": 800, "
                                "\"launch_height\": 600}, \"kiosk\": " +
                                kiosk + "}");
  app->shell = bench::StartShell(app->path());
  return app;
}

// Each figure in ms: a reload of a filled page until it has filled itself again.
std::vector<double> Reloads(int port, int rounds) {
  std::vector<double> times;
  auto app = StartApp(port, "{}");
  QString found;
  if (!app || UntilLoad(app->path(), 1, Clock::now(), &found) < 0) return times;
  for (int n = 1; n <= rounds; ++n) {
    const auto asked = Clock::now();
    app->Write("reload-" + QString::number(n), "");
    const double ms = UntilLoad(app->path(), n + 1, asked, &found);
    if (ms < 0 || found != "full") return {};
    times.push_back(ms);
  }
  return times;
}

// Each figure in ms: from the shell's "idle reset" line to the first page
// filled again, which must have found its storage and cookies empty.
std::vector<double> IdleResets(int port, int rounds) {
  std::vector<double> times;
  auto app = StartApp(port, "{\"idle_reset_seconds\": 2, \"idle_warning_seconds\": 0}");
  QString found;
  if (!app || UntilLoad(app->path(), 1, Clock::now(), &found) < 0) return times;
  for (int n = 1; n <= rounds; ++n) {
    const auto waiting = Clock::now();
    while (Resets(app->path()) < n) {
      if (Clock::now() - waiting > std::chrono::seconds(30)) return {};
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double ms = UntilLoad(app->path(), n + 1, Clock::now(), &found);
    if (ms < 0 || found != "empty") {
      std::printf("idle: load %d found %s\n", n + 1, qPrintable(found));
      return {};
    }
    times.push_back(ms);
  }
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int rounds = quick ? 1 : 5;
  const std::string page = kPage;
  ombrix_test::LoopbackServer server([&page](int client, const std::string& path) {
    const bool known = path == "/page.html";
    const std::string body = known ? page : "not here";
    ombrix_test::SendAll(
        client, ombrix_test::ResponseHead(known ? 200 : 404, body.size(), "text/html") + body);
  });
  const double reload = Median(Reloads(server.port(), rounds));
  const double reset = Median(IdleResets(server.port(), rounds));
  if (reload <= 0 || reset <= 0) {
    std::printf("idle: a run did not finish (reload %.0f, reset %.0f)\n", reload, reset);
    return 1;
  }
  std::printf("plain reload of a filled page (median of %d): %.0f ms\n", rounds, reload);
  std::printf(
      "idle reset to the first page, storage empty: %.0f ms, %.2fx a reload (target <= 1.5x)\n",
      reset, reset / reload);
  return 0;
}
