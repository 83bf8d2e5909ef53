// Silent printing benchmark: a one-page receipt printed by the page's
// window.print() (the shell makes its PDF and hands it to CUPS) until the
// page hears "completed", against lp of the same receipt's PDF, made ahead of
// time, until lpstat shows no job left, on one print server of the run's own
// (cupsd with a cups-pdf queue).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/median.h"
#include "bench/common/shell_process.h"

namespace {

using bench::Median;

using Clock = std::chrono::steady_clock;

// Prints ROUNDS times, each once the one before has completed, and writes
// each print's time in ms (or what went wrong) to results.json.
const char kPage[] = R"(<!DOCTYPE html><html><head><meta charset="utf-8"><title>TITLE</title>
</head><body><p>Receipt 1042</p><p>Coffee 2.50</p><p>Bun 1.80</p><p>Total 4.30</p><script>
const rounds = ROUNDS, times = [];
let start = 0;
function finish(r) {
  ombrix.file.write(ombrix.app.apppath() + '/results.json', JSON.stringify(r),
                    function() { ombrix.app.exitapp(); });
}
function next() { start = performance.now(); window.print(); }
document.addEventListener('printresult', function(e) {
  if (e.detail.state == 'stopped') return;
  if (e.detail.state != 'completed') return finish({error: e.detail.state + ' ' + e.detail.reason});
  times.push(performance.now() - start);
  if (times.length < rounds) setTimeout(next, 0); else finish({ms: times});
});
next();
</script></body></html>)";

std::string Run(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    pclose(pipe);
  }
  return output;
}

// cupsd in a process group of its own, ended with everything it started.
struct PrintServer {
  pid_t pid = -1;
  explicit PrintServer(const QString& dir) {
    pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      const QByteArray log = QFile::encodeName(dir + "/cupsd.out");
      if (!freopen(log.constData(), "w", stdout) || !freopen(log.constData(), "a", stderr)) {
        _exit(126);
      }
      execl(OMBRIX_BENCH_CUPS_SANDBOX, "cups-sandbox", "serve", qPrintable(dir), nullptr);
      _exit(127);
    }
  }
  ~PrintServer() {
    if (pid <= 0) return;
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
};

// The PDFs cups-pdf made of jobs whose titles start with tag, by name.
QStringList Outputs(const QString& tag) {
  QDir out(QDir::homePath() + "/PDF");
  QStringList paths;
  for (const QString& name : out.entryList({tag + "*.pdf"}, QDir::Files, QDir::Name)) {
    paths << out.filePath(name);
  }
  return paths;
}

// Each print's time in ms, timed by the page; empty when the run failed.
std::vector<double> ShellPrints(int rounds, const QString& tag) {
  bench::App app;
  if (!bench::CopyShell(OMBRIX_BENCH_BIN_DIR, app.path())) return {};
  app.Write("receipt.html", QByteArray(kPage)
                                .replace("TITLE", tag.toUtf8())
                                .replace("ROUNDS", QByteArray::number(rounds)));
  const QJsonObject print{{"silent", true}, {"printer", "Q"}, {"paper", "80x200mm"}};
  app.Write(
      "ombrix.json",
      QJsonDocument(QJsonObject{{"first_page", "file://${AppDir}/receipt.html"}, {"print", print}})
          .toJson());
  app.shell = bench::StartShell(app.path());
  const auto limit = Clock::now() + std::chrono::seconds(60 + 20 * rounds);
  while (waitpid(app.shell, nullptr, WNOHANG) != app.shell) {
    if (Clock::now() > limit) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  QFile file(app.path() + "/results.json");
  const QJsonObject results = file.open(QIODevice::ReadOnly)
                                  ? QJsonDocument::fromJson(file.readAll()).object()
                                  : QJsonObject();
  std::vector<double> times;
  for (const QJsonValue& ms : results["ms"].toArray()) times.push_back(ms.toDouble());
  if (times.empty()) {
    std::printf("print: the shell's prints did not finish (%s); its log:\n",
                qPrintable(results["error"].toString("no results")));
    std::fflush(stdout);
    std::system(("tail -20 '" + app.path() + "/shell.log'").toUtf8().constData());
  }
  return times;
}

// Each lp's time in ms until no job is left on Q; empty when one never ended.
std::vector<double> LpPrints(int rounds, const QString& pdf, const QString& tag) {
  std::vector<double> times;
  const std::string lp = "lp -d Q -o media=Custom.80x200mm -t '" + tag.toStdString() + "lp' '" +
                         pdf.toStdString() + "' >/dev/null";
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    if (std::system(lp.c_str()) != 0) return {};
    while (!Run("lpstat -W not-completed -o Q").empty()) {
      if (Clock::now() - start > std::chrono::seconds(60)) return {};
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int rounds = quick ? 1 : 5;
  // cups-pdf names its files after the job's title: these are the run's own.
  const QString tag = QString("ombrixbench%1").arg(getpid());
  // Directly under /tmp: the filters run as lp and must reach the folder.
  QTemporaryDir cups("/tmp/ombrix-cups-XXXXXX");
  if (!cups.isValid()) return 1;
  std::vector<double> shell, lp;
  {
    PrintServer server(cups.path());
    setenv("CUPS_SERVER", qPrintable(cups.path() + "/cups.sock"), 1);
    const std::string queue =
        OMBRIX_BENCH_CUPS_SANDBOX " queue '" + cups.path().toStdString() + "' Q";
    if (std::system(queue.c_str()) != 0) {
      std::printf("print: no print server\n");
      return 1;
    }
    shell = ShellPrints(rounds, tag);
    const QStringList made = Outputs(tag);
    const QString receipt = cups.path() + "/receipt.pdf";
    if (!made.isEmpty() && QFile::copy(made.first(), receipt)) lp = LpPrints(rounds, receipt, tag);
  }
  for (const QString& path : Outputs(tag)) QFile::remove(path);
  const double o = Median(shell), l = Median(lp);
  if (o <= 0 || l <= 0) {
    std::printf("print: a run did not finish (ombrix %.0f ms, lp %.0f ms)\n", o, l);
    return 1;
  }
  std::printf("lp of the receipt's PDF until no job is left (median of %d): %.0f ms\n", rounds, l);
  std::printf("ombrix print() to its printresult \"completed\": %.0f ms, %.2fx lp (target <= 2x)\n",
              o, o / l);
  return 0;
}
