// The content archive and downloads, in one run of the shell on a page of its
// own: a large entry and many small entries at once answered by the client
// scheme against the same files over file://, and a large download through
// ombrix.requestfile against curl into a file of the same folder from the same
// loopback server, with the web process's memory during the download and the
// page's responsiveness (a bound call's time, the gaps between animation
// frames) during one download against the same page without one.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "bench/common/shell_process.h"
#include "loopback_server.h"
#include "scheme/archive_writer.h"

namespace {

struct Sizes {
  int entry_mb;
  int small_entries;
  int download_mb;
  int rounds;
};

// Serves every path with bytes bytes of one repeating piece.
class BlobServer {
 public:
  explicit BlobServer(qint64 bytes)
      : bytes_(bytes),
        piece_(1 << 20, 'b'),
        server_([this](int client, const std::string&) { Answer(client); }) {}
  int port() const { return server_.port(); }

 private:
  void Answer(int client) const {
    bool ok = ombrix_test::SendAll(
        client, ombrix_test::ResponseHead(200, bytes_, "application/octet-stream"));
    for (qint64 left = bytes_; ok && left > 0; left -= qint64(piece_.size())) {
      ok = ombrix_test::SendAll(client, piece_.data(),
                                size_t(std::min<qint64>(left, piece_.size())));
    }
  }

  const qint64 bytes_;
  const std::string piece_;
  ombrix_test::LoopbackServer server_;
};

void WriteFile(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  file.open(QIODevice::WriteOnly | QIODevice::Truncate);
  file.write(data);
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The measured data, written below files/ (served over file://) and
// packed into the archive (served by the client scheme).
void WriteContent(const QString& files, const Sizes& sizes) {
  QByteArray big(sizes.entry_mb << 20, Qt::Uninitialized);
  for (int i = 0; i < big.size(); ++i) big[i] = char(i * 7919 % 251);
  WriteFile(files + "/big.bin", big);
  for (int i = 0; i < sizes.small_entries; ++i) {
    const QByteArray name = "s/" + QByteArray::number(i) + ".js";
    WriteFile(files + "/" + name,
              "window.count = (window.count || 0) + 1; // " + QByteArray(2000, 'x') + "\n");
  }
}

// The page that drives the run, served from the archive.
QByteArray DriverPage(const QString& files, const Sizes& sizes, int port, const QString& dir) {
  return R"(<!DOCTYPE html><meta charset="utf-8"><body><script>
const files = ')" +
         ("file://" + files).toUtf8() + R"(';
const rounds = )" +
         QByteArray::number(sizes.rounds) + R"(;
const dir = ')" +
         dir.toUtf8() + R"(';
const smalls = )" +
         QByteArray::number(sizes.small_entries) + R"(;
const blob = 'http://127.0.0.1:)" +
         QByteArray::number(port) + R"(/blob';
function bytes(url) {
  return new Promise(function(done) {
    const x = new XMLHttpRequest();
    x.open('GET', url);
    x.responseType = 'arraybuffer';
    x.onload = () => done(x.response.byteLength);
    x.onerror = () => done(-1);
    x.send();
  });
}
async function timed(work) {
  const t = performance.now();
  await work();
  return performance.now() - t;
}
const entries = [];
for (let i = 0; i < smalls; ++i) entries.push('s/' + i + '.js');
function write(name, value) {
  return new Promise((done) => ombrix.file.write(dir + '/' + name, JSON.stringify(value), done));
}
function download(i) {
  return new Promise(function(done) {
    const t = performance.now();
    const ok = () => done(performance.now() - t);
    ombrix.requestfile.download(blob, dir + '/got-' + i, ok, () => done(-1), () => done(-1),
                                () => {});
  });
}
// The page's responsiveness until over resolves: the time of a bound call
// (each sample is 2000 calls, as the page's clock counts whole milliseconds;
// in microseconds a call) and the gaps between animation frames, in milliseconds.
function probe(over) {
  return new Promise(function(finish) {
    const calls = [], gaps = [];
    let stop = false, last = -1;
    over.then(() => { stop = true; });
    requestAnimationFrame(function frame() {
      const now = performance.now();
      if (last >= 0) gaps.push(now - last);
      last = now;
      if (!stop) requestAnimationFrame(frame);
    });
    (function sample() {
      if (stop) return finish({calls: calls, gaps: gaps});
      const t = performance.now();
      for (let i = 0; i < 2000; ++i) ombrix.file.exist(dir);
      calls.push((performance.now() - t) / 2);
      setTimeout(sample, 1);
    })();
  });
}
(async function() {
  const r = {entry: {client: [], file: []}, page: {client: [], file: []}, download: []};
  for (let i = 0; i < rounds; ++i) {
    for (const [kind, base] of [['client', 'client:///'], ['file', files + '/']]) {
      r.entry[kind].push(await timed(() => bytes(base + 'big.bin')));
      r.page[kind].push(await timed(() => Promise.all(entries.map((e) => bytes(base + e)))));
    }
  }
  await write('download-start.json', {});
  for (let i = 0; i < rounds; ++i) {
    r.download.push(await download(i));
    await new Promise((done) => ombrix.file.delete(dir + '/got-' + i, done));
  }
  r.idle = await probe(new Promise((done) => setTimeout(done, 1500)));
  r.busy = await probe(download('probed'));
  await write('results.json', r);
  ombrix.app.exitapp();
})();
</script></body>)";
}

// Seconds curl takes to fetch url into target (the median of rounds): a file in
// the folder the shell downloads into, as the shell writes one (removed after
// each round), or /dev/null for the figure of a transfer that writes nothing.
double CurlSeconds(const std::string& url, const QString& target, int rounds) {
  std::vector<double> times;
  const std::string file = "'" + target.toStdString() + "'";
  for (int i = 0; i < rounds; ++i) {
    QElapsedTimer timer;
    timer.start();
    if (std::system(("curl -s -o " + file + " " + url).c_str()) != 0) return -1;
    times.push_back(timer.nsecsElapsed() / 1e9);
    if (target != QLatin1String("/dev/null")) QFile::remove(target);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

double Percentile(QJsonArray values, double fraction) {
  std::vector<double> v;
  for (const auto& value : values) v.push_back(value.toDouble());
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(fraction * double(v.size())))];
}

double Longest(QJsonArray values) { return Percentile(values, 1.0); }

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const Sizes sizes = quick ? Sizes{1, 50, 20, 2} : Sizes{5, 200, 200, 5};
  QTemporaryDir dir;
  const QString app = dir.path();
  if (!bench::CopyShell(OMBRIX_BENCH_BIN_DIR, app)) return 1;
  BlobServer server(qint64(sizes.download_mb) << 20);
  const QString files = app + "/files";
  WriteContent(files, sizes);
  WriteFile(files + "/index.html", DriverPage(files, sizes, server.port(), app));
  QString error;
  if (ombrix::PackFolder(files, app + "/ombrix.data", &error) < 0) {
    std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
    return 1;
  }
  WriteFile(app + "/ombrix.json", R"({"first_page": "client:///index.html",
    "application_title": "bench", "window": {"launch_width": 800, "launch_height": 600}})");

  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/blob";
  const double curl_before = CurlSeconds(url, app + "/curl-got", sizes.rounds);
  const pid_t shell = bench::StartShell(app);
  long idle = 0, peak = 0;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(quick ? 1 : 5);
  while (!QFile::exists(app + "/results.json") && std::chrono::steady_clock::now() < limit) {
    const long rss = bench::WebProcessesOf(shell).rss_kb;
    if (!idle && QFile::exists(app + "/download-start.json")) idle = rss;
    if (idle) peak = std::max(peak, rss);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a sampling period
  }
  int status = 0;
  if (waitpid(shell, &status, WNOHANG) == 0) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    kill(shell, SIGKILL);
    waitpid(shell, &status, 0);
  }
  const double curl_after = CurlSeconds(url, app + "/curl-got", sizes.rounds);
  const double curl_discarding = CurlSeconds(url, "/dev/null", sizes.rounds);
  const QJsonObject r = QJsonDocument::fromJson(ReadFile(app + "/results.json")).object();
  if (r.isEmpty()) {
    dir.setAutoRemove(false);
    std::fprintf(stderr, "the bench page gave no results (see %s/shell.log)\n",
                 app.toLocal8Bit().constData());
    return 1;
  }
  const auto line = [](const char* what, const QJsonObject& pair) {
    const double client = Percentile(pair["client"].toArray(), 0.5);
    const double file = Percentile(pair["file"].toArray(), 0.5);
    std::printf("%-26s client %7.1f ms, file %7.1f ms  (%.2fx; target <= 1.3x)\n", what, client,
                file, client / file);
  };
  line(QString("%1 MB entry:").arg(sizes.entry_mb).toUtf8().constData(), r["entry"].toObject());
  line(QString("%1 small entries at once:").arg(sizes.small_entries).toUtf8().constData(),
       r["page"].toObject());
  const double ours = Percentile(r["download"].toArray(), 0.5) / 1000;
  const double curl = (curl_before + curl_after) / 2;
  const double megabytes = sizes.download_mb;
  std::printf(
      "download %d MB:            ombrix %7.1f MB/s, curl %7.1f MB/s  (%.2fx; target >= 0.95x)\n",
      sizes.download_mb, megabytes / ours, megabytes / curl, curl / ours);
  std::printf("  (curl writing nothing:   %7.1f MB/s, ombrix %.2fx)\n",
              megabytes / curl_discarding, curl_discarding / ours);
  const QJsonObject idle_page = r["idle"].toObject(), busy_page = r["busy"].toObject();
  const double idle_p99 = Percentile(idle_page["calls"].toArray(), 0.99);
  const double busy_p99 = Percentile(busy_page["calls"].toArray(), 0.99);
  std::printf(
      "bound call p99:            %.2f us during a download, %.2f us without  "
      "(%.2fx; target <= 2x)\n",
      busy_p99, idle_p99, busy_p99 / idle_p99);
  std::printf(
      "longest frame gap:         %.1f ms during a download, %.1f ms without  "
      "(target <= 50 ms)\n",
      Longest(busy_page["gaps"].toArray()), Longest(idle_page["gaps"].toArray()));
  std::printf("web process memory:        %ld MB at the start of the downloads, peak %+ld MB\n",
              idle / 1024, (peak - idle) / 1024);
  return ours > 0 ? 0 : 1;
}
