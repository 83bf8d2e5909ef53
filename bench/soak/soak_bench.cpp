// A long run of the real shell on a page that keeps calling every family:
// files, digests, the settings store, the clipboard, programs, window calls,
// downloads from a loopback server, IPC both ways with this program, and
// ticket sales against the fpj-sim simulator on a pseudo-terminal, reloading
// itself now and then. The resident memory and open descriptors of the shell
// and its web process are printed as it goes, and their growth after the first
// sample against the target (under 5 MB, no descriptor growth) at the end.
// The run fails only when the shell or its page stops, never on the target.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
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

#include "bench/common/shell_process.h"
#include "fastipc/fastipc.h"
#include "fastipc/qx.h"
#include "loopback_server.h"
#include "sim_process.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

struct Plan {
  seconds length;
  seconds sample_every;
  int reload_every_s;
};

// Answers every GET with the same small body.
class SmallServer {
 public:
  SmallServer()
      : answer_(ombrix_test::ResponseHead(200, 64 * 1024, "application/octet-stream") +
                std::string(64 * 1024, 's')),
        server_([this](int client, const std::string&) { ombrix_test::SendAll(client, answer_); }) {
  }
  int port() const { return server_.port(); }

 private:
  const std::string answer_;
  ombrix_test::LoopbackServer server_;
};

// Counts the messages the page sends to this program's channel.
class Inbox : public fastipc::ReadListener {
 public:
  void onRead(fastipc::MemBlock*) override { ++count; }
  std::atomic<long> count{0};
};

// Sends a message to the page's channel every 50 ms, a client of its own
// each time as another program would; counts what arrived.
void SendToPage(const std::string& channel, const std::atomic<bool>* stop,
                std::atomic<long>* sent) {
  for (long n = 0; !*stop; ++n) {
    fastipc::Client client;
    if (client.create(qx::s2w(channel), 1024) == fastipc::kOk) {
      client.setBlockTimeout(3000);  // a reader gone with a reload never takes its block
      const std::string text = "to the page " + std::to_string(n);
      if (client.write(text.data(), uint32_t(text.size())) == fastipc::kOk) ++*sent;
    }
    std::this_thread::sleep_for(milliseconds(50));  // the traffic's pace
  }
}

// The page: one cycle of calls after another, each family in turn; reloads
// itself every so often and keeps its counts across reloads.
QByteArray SoakPage(const QString& dir, int port, const std::string& to_page,
                    const std::string& from_page, const std::string& device, int reload_every_s) {
  QJsonObject settings{{"dir", dir},
                       {"url", QString("http://127.0.0.1:%1/small").arg(port)},
                       {"toPage", QString::fromStdString(to_page)},
                       {"fromPage", QString::fromStdString(from_page)},
                       {"device", QString::fromStdString(device)},
                       {"reloadMs", reload_every_s * 1000}};
  return "<!DOCTYPE html><meta charset='utf-8'><body><script>\nconst S = " +
         QJsonDocument(settings).toJson(QJsonDocument::Compact) + R"(;
const count = (name) => Number(sessionStorage.getItem(name) || 0);
const c = {loads: count('loads') + 1, cycles: count('cycles'), errors: count('errors'),
           received: count('received'), sold: count('sold')};
let lastError = sessionStorage.getItem('lastError') || '';
const keep = () => { for (const k in c) sessionStorage.setItem(k, c[k]);
                     sessionStorage.setItem('lastError', lastError); };
const check = (ok, what) => { if (!ok) { c.errors++; lastError = what; } };
const wait = (start) => new Promise((done) => start(done));
const store = 'HKEY_CURRENT_USER\\Soak';
const loadedAt = performance.now();
check(ombrix.app.createserver(S.toPage, () => {}, () => check(false, 'createserver'),
                              () => c.received++), 'createserver');
check(ombrix.app.createclient(S.fromPage) === 0, 'createclient');
check(ombrix.fpj.open(S.device) === 0, 'fpj.open');
async function cycle() {
  const a = S.dir + '/a.txt', b = S.dir + '/b.txt';
  check(await wait((d) => ombrix.file.write(a, 'cycle ' + c.cycles + ' ' + 'x'.repeat(4000), d)),
        'file.write');
  check(await wait((d) => ombrix.file.copy(a, b, d)), 'file.copy');
  check(ombrix.file.exist(b), 'file.exist');
  check(await wait((d) => ombrix.file.delete(b, d)), 'file.delete');
  check((await wait((d) => ombrix.tool.md5file(a, d))).length === 32, 'tool.md5file');
  check(ombrix.tool.setregval(store, 'Cycle', String(c.cycles)), 'tool.setregval');
  check(JSON.parse(ombrix.tool.getregval(store)).Cycle === String(c.cycles), 'tool.getregval');
  check(ombrix.tool.setclip('soak ' + c.cycles), 'tool.setclip');
  check(await wait((d) => ombrix.process.runcmd('true', '', (ok, code) => d(ok && code === 0))),
        'process.runcmd');
  check(ombrix.app.sendipcmsg('from the page ' + c.cycles) === 0, 'app.sendipcmsg');
  check(typeof ombrix.app.getappname() === 'string', 'app.getappname');
  ombrix.gui.resizeTo(c.cycles % 2 ? 800 : 820, 600);
  check(await wait((d) => ombrix.requestfile.download(S.url, S.dir + '/got.bin', () => d(true),
                                                       () => d(false), () => d(false), () => {})),
        'requestfile.download');
  const sold = await wait((d) => {
    if (ombrix.fpj.sellbill(1, (code, n) => d(code === 0 ? n : -1)) !== 0) d(-1);
  });
  check(sold === 1, 'fpj.sellbill');
  if (sold > 0) c.sold += sold;
  c.cycles++;
}
function progress() {
  keep();
  return wait((d) => ombrix.file.write(S.dir + '/progress.json',
                                       JSON.stringify(Object.assign({lastError}, c)), d));
}
(async function() {
  while (performance.now() - loadedAt < S.reloadMs) {
    await cycle();
    if (c.cycles % 5 === 0) await progress();
  }
  await progress();
  ombrix.app.closeserver(S.toPage);
  ombrix.fpj.close();
  location.reload();
})();
</script></body>)";
}

void WriteFile(const QString& path, const QByteArray& data) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(data);
}

QJsonObject ReadJson(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                        : QJsonObject();
}

struct Sample {
  bench::Usage shell;
  bench::Usage web;
  long cycles = 0;
};

void PrintSample(long elapsed_s, const Sample& s, const QJsonObject& p) {
  std::printf(
      "%3ld:%02ld  shell %6.1f MB %4d fds   web process %6.1f MB %4d fds (%d)   "
      "cycles %5ld, loads %3d, tickets %5d, errors %d%s%s\n",
      elapsed_s / 60, elapsed_s % 60, s.shell.rss_kb / 1024.0, s.shell.fds, s.web.rss_kb / 1024.0,
      s.web.fds, s.web.processes, s.cycles, p["loads"].toInt(), p["sold"].toInt(),
      p["errors"].toInt(), p["lastError"].toString().isEmpty() ? "" : ", last: ",
      p["lastError"].toString().toUtf8().constData());
  std::fflush(stdout);
}

// Growth from the first sample to the last, against the target.
void PrintGrowth(const Sample& first, const Sample& last, bool quick) {
  const double shell_mb = (last.shell.rss_kb - first.shell.rss_kb) / 1024.0;
  const double web_mb = (last.web.rss_kb - first.web.rss_kb) / 1024.0;
  std::printf("growth after the first %s:\n", quick ? "10 s" : "minute");
  std::printf(
      "memory:       shell %+6.1f MB, web process %+6.1f MB  (%.2fx; target < 1x of 5 MB)\n",
      shell_mb, web_mb, std::max(shell_mb, web_mb) / 5.0);
  std::printf("descriptors:  shell %+4d, web process %+4d  (target: no growth)\n",
              last.shell.fds - first.shell.fds, last.web.fds - first.web.fds);
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const Plan plan =
      quick ? Plan{seconds(60), seconds(10), 15} : Plan{seconds(600), seconds(60), 60};
  QTemporaryDir dir;
  const QString app = dir.path();
  SimProcess sim({"--stock", "65535", "--ticket-ms", "1"});
  if (!bench::CopyShell(OMBRIX_BENCH_BIN_DIR, app) || !sim.started()) return 1;
  SmallServer server;

  // One name for every run: a channel's names outlive it, and runs never overlap.
  const std::string tag = "run";
  const std::string to_page = "omx-soak-to-page-" + tag;
  const std::string from_page = "omx-soak-from-page-" + tag;
  Inbox inbox;
  fastipc::Server listener;
  if (listener.create(qx::s2w(from_page), 1024) != fastipc::kOk) return 1;
  listener.setListener(&inbox);
  std::thread reader([&listener] { listener.startRead(); });

  WriteFile(app + "/index.html",
            SoakPage(app, server.port(), to_page, from_page, sim.path(), plan.reload_every_s));
  WriteFile(app + "/ombrix.json", R"({"first_page": "file://${AppDir}/index.html",
    "application_title": "soak", "window": {"launch_width": 800, "launch_height": 600}})");
  const pid_t shell = bench::StartShell(app);
  std::atomic<bool> stop{false};
  std::atomic<long> sent{0};
  std::thread sender(SendToPage, to_page, &stop, &sent);

  const auto start = steady_clock::now();
  std::vector<Sample> samples;
  QJsonObject last_progress;
  bool alive = true;
  for (auto next = start + plan.sample_every; alive && next <= start + plan.length;
       next += plan.sample_every) {
    std::this_thread::sleep_until(next);  // the sampling period
    const QJsonObject progress = ReadJson(app + "/progress.json");
    Sample sample{bench::UsageOf(std::to_string(shell)), bench::WebProcessesOf(shell),
                  long(progress["cycles"].toInt())};
    // The page went on since the last sample (a slow machine may not have
    // written its first progress by the first sample).
    const bool went_on = progress != last_progress || (samples.empty() && progress.isEmpty());
    alive = waitpid(shell, nullptr, WNOHANG) == 0 && sample.web.processes > 0 && went_on;
    last_progress = progress;
    PrintSample(std::chrono::duration_cast<seconds>(next - start).count(), sample, progress);
    samples.push_back(sample);
  }
  stop = true;
  sender.join();
  kill(-shell, SIGKILL);
  waitpid(shell, nullptr, 0);
  listener.close();
  reader.join();

  std::printf("IPC: %ld messages to the page, %ld from it\n", long(sent), long(inbox.count));
  if (!alive) {
    dir.setAutoRemove(false);
    std::fprintf(stderr, "the shell or its page stopped (see %s/shell.log)\n",
                 app.toLocal8Bit().constData());
    return 1;
  }
  PrintGrowth(samples.front(), samples.back(), quick);
  return 0;
}
