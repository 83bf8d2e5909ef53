// Apps served from the content archive through the client scheme, and files
// downloaded by pages from a real HTTP server on loopback.
#include <poll.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "fixture.h"
#include "scheme/archive_writer.h"

namespace e2e {
namespace {

using ombrix::ArchiveWriter;
using Method = ArchiveWriter::Method;

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ContentTest : public ShellTest {
 protected:
  // Writes the archive beside the shell (replacing any older one in one step).
  void WriteArchive(const QByteArray& info_json) {
    const QString partial = shell_->dir() + "/ombrix.data.new";
    ArchiveWriter writer;
    ASSERT_TRUE(writer.Open(partial));
    writer.Add("index.html", TestPage(kScript, kHead), Method::kDeflated, true);
    writer.Add("js/app.js", "window.fromArchive = 42;", Method::kDeflated, true);
    writer.Add("css/style.css", "h1 { color: rgb(200, 0, 0); }", Method::kStored, false);
    writer.Add("img/icon.png", ReadAll(OMBRIX_TEST_SOURCE_DIR "/demo/web/icon.png"),
               Method::kStored, true);
    writer.Add("data/info.json", info_json, Method::kDeflated, true);
    writer.Add("data/large.bin", Large(), Method::kDeflated, true);  // streamed, not held whole
    writer.Add(QString::fromUtf8("data/价格 表.json"), "[1]", Method::kDeflated, true);
    writer.Add("data/empty.txt", "", Method::kDeflated, true);
    ASSERT_TRUE(writer.Close());
    ASSERT_EQ(::rename(partial.toUtf8().constData(), (shell_->dir() + "/ombrix.data").toUtf8()), 0);
  }

  static QByteArray Large() {
    QByteArray large(9 << 20, Qt::Uninitialized);  // above what is answered from one buffer
    for (int i = 0; i < large.size(); ++i) large[i] = char(i % 253);
    return large;
  }

  static constexpr const char* kHead =
      "<link rel=\"stylesheet\" href=\"css/style.css\"><script src=\"js/app.js\"></script>";
  static constexpr const char* kScript = R"(
    document.write('<h1>archive</h1><img id="icon" src="img/icon.png">');
    const status = (url) => fetch(url).then((r) => r.status);
    const saved = (url, name) => new Promise(function(done) {
      let last = null;
      const end = (what) => () => done([what, last]);
      ombrix.requestfile.download(url, ombrix.app.apppath() + '/saved/' + name, end('complete'),
          end('error'), end('abort'), (received, total) => { last = [received, total]; });
    });
    window.addEventListener('load', async function() {
      const info = await fetch('data/info.json');
      const xhr = await new Promise(function(done) {
        const x = new XMLHttpRequest();
        x.open('GET', 'data/info.json');
        x.onload = () => done(x.status + ' ' + x.getResponseHeader('Content-Type'));
        x.send();
      });
      save({
        script: window.fromArchive,
        css: getComputedStyle(document.querySelector('h1')).color,
        image: document.getElementById('icon').naturalWidth,
        status: info.status,
        type: info.headers.get('Content-Type'),
        info: await info.json(),
        xhr: xhr,
        capitals: await status('DATA/INFO.JSON'),
        query: await status('data/info.json?v=2'),
        missing: await status('nothing.txt'),
        named: await status('data/价格 表.json'),
        empty: await fetch('data/empty.txt').then(async (r) => r.status + ' ' + (await r.text()).length),
        odd: [await status('x'.repeat(100000)), await status('data%2Finfo.json'),
              await status('../data/info.json')],
        large: await fetch('data/large.bin').then((r) => r.arrayBuffer()).then(function(b) {
          const bytes = new Uint8Array(b);
          return bytes.length === 9 << 20 && bytes.every((v, i) => v === i % 253);
        }),
        // Entries saved to disk as any download, with progress; file: stays refused.
        downloads: [await saved('client:///data/info.json', 'info.json'),
                    await saved('client:///data/large.bin', 'large.bin'),
                    await saved('client:///nothing.txt', 'nothing.txt'),
                    await saved('file:///etc/hostname', 'hostname')],
      }, 'first.json');
      // Until the archive is replaced, the same entry gives the old content.
      const poll = setInterval(async function() {
        const now = await fetch('data/info.json').then((r) => r.json());
        if (now.v === 2) { clearInterval(poll); report({replaced: now}); }
      }, 100);
    });
  )";
};

TEST_F(ContentTest, PageFromTheArchiveLoadsItsFilesAndSeesAReplacedArchive) {
  WriteArchive(R"({"v": 1, "text": "数据"})");
  QJsonObject manifest = PageManifest("Archive");
  manifest["first_page"] = "client:///index.html";
  shell_->WriteManifest(manifest);
  shell_->Start();
  const QJsonObject r = shell_->WaitForResults(milliseconds(30000), "first.json");
  EXPECT_EQ(r["script"].toInt(), 42);
  EXPECT_EQ(r["css"].toString(), "rgb(200, 0, 0)");
  EXPECT_EQ(r["image"].toInt(), 64);
  EXPECT_EQ(r["status"].toInt(), 200);
  EXPECT_EQ(r["type"].toString(), "application/json");
  EXPECT_EQ(r["info"].toObject()["text"].toString(), "数据");
  EXPECT_EQ(r["xhr"].toString(), "200 application/json");
  EXPECT_EQ(r["capitals"].toInt(), 200);
  EXPECT_EQ(r["query"].toInt(), 404);  // a query string is part of the entry name
  EXPECT_EQ(r["missing"].toInt(), 404);
  EXPECT_EQ(r["named"].toInt(), 200);  // the engine asks for it percent-encoded
  EXPECT_EQ(r["empty"].toString(), "200 0");
  EXPECT_EQ(r["odd"].toArray(), (QJsonArray{404, 404, 200}));  // "../" is resolved by the URL
  EXPECT_TRUE(r["large"].toBool());
  const QJsonArray downloads = r["downloads"].toArray();
  EXPECT_EQ(downloads[0].toArray()[0].toString(), "complete");
  EXPECT_EQ(ReadAll(shell_->dir() + "/saved/info.json"), R"({"v": 1, "text": "数据"})");
  const double large = 9 << 20;
  EXPECT_EQ(downloads[1].toArray(), (QJsonArray{"complete", QJsonArray{large, large}}));
  EXPECT_EQ(ReadAll(shell_->dir() + "/saved/large.bin"), Large());
  EXPECT_EQ(downloads[2].toArray()[0].toString(), "error");
  EXPECT_EQ(downloads[3].toArray()[0].toString(), "error");

  WriteArchive(R"({"v": 2})");
  EXPECT_EQ(shell_->WaitForResults()["replaced"].toObject()["v"].toInt(), 2);
  EXPECT_NE(shell_->Output().find("zip file is exists"), std::string::npos);
}

// A loopback HTTP server: /big (20 MB), /missing (404 with a body), /cut (ends
// after a tenth of what it announced), /slow (sends a piece, then waits for the
// client to go), /agent (the User-Agent sent; 403, as some servers do, without one).
class HttpServer {
 public:
  explicit HttpServer(QByteArray big)
      : big_(big.toStdString()),
        server_([this](int client, const std::string& path, const std::string& head) {
          Answer(client, path, head);
        }) {}
  int port() const { return server_.port(); }
  int slow_left() const { return slow_left_; }

 private:
  void Answer(int client, const std::string& path, const std::string& head) {
    using ombrix_test::ResponseHead;
    using ombrix_test::SendAll;
    if (path == "/agent") {  // answers with the client's User-Agent
      const std::string agent = ombrix_test::HeaderValue(head, "User-Agent");
      SendAll(client, ResponseHead(agent.empty() ? 403 : 200, agent.size()) + agent);
    } else if (path == "/%E6%95%B0%E6%8D%AE") {  // "数据", as a browser sends it
      SendAll(client, ResponseHead(200, 7) + "encoded");
    } else if (path == "/big") {
      SendAll(client, ResponseHead(200, big_.size()) + big_);
    } else if (path == "/paced") {  // 2 MB in 64 KB pieces, 15 ms apart (about 500 ms)
      bool ok = SendAll(client, ResponseHead(200, 32 * 65536));
      for (int i = 0; ok && i < 32; ++i) {
        ok = SendAll(client, std::string(65536, 'p'));
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
      }
    } else if (path == "/cut") {
      SendAll(client, ResponseHead(200, 1000000) + std::string(100000, 'c'));
    } else if (path == "/slow") {
      SendAll(client, ResponseHead(200, 10000000) + std::string(65536, 's'));
      pollfd wait{client, POLLIN, 0};
      if (poll(&wait, 1, 30000) == 1) ++slow_left_;  // the client went
    } else {
      SendAll(client, ResponseHead(404, 8) + "not here");
    }
  }

  std::string big_;
  std::atomic<int> slow_left_{0};
  ombrix_test::LoopbackServer server_;  // last: it ends first, while the rest still stands
};

TEST_F(ContentTest, DownloadsCompleteFailAndAbortEachOnce) {
  QByteArray big(20 * 1000 * 1000, Qt::Uninitialized);
  for (int i = 0; i < big.size(); ++i) big[i] = char(i % 251 * 131 % 251);
  HttpServer server(big);
  const QByteArray base = "http://127.0.0.1:" + QByteArray::number(server.port()) + "/";
  // A disk that fills up mid-download: a small tmpfs where the system lets us mount one.
  const QByteArray full = QFile::encodeName(shell_->dir() + "/full");
  QDir().mkpath(shell_->dir() + "/full");
  const bool mounted = ::mount("tmpfs", full.constData(), "tmpfs", 0, "size=1m") == 0;
  struct Unmount {
    const char* path;
    bool mounted;
    ~Unmount() {
      if (mounted) ::umount2(path, MNT_DETACH);
    }
  } unmount{full.constData(), mounted};
  shell_->WriteFile("web/index.html", TestPage(R"(
    const base = ')" + base + R"(';
    const full = )" + QByteArray(mounted ? "true" : "false") +
                                               R"(;
    const dir = ombrix.app.apppath() + '/got';
    const r = {events: {}, progress: []};
    try {
      ombrix.requestfile.download(base + 'big', dir + '/x', () => {}, () => {}, () => {});
    } catch (e) { r.five = e.message; }
    r.agent = navigator.userAgent;
    let pending = full ? 13 : 12;
    function start(name, onprogress, target) {
      r.events[name] = [];
      const on = (what) => () => {
        r.events[name].push(what);
        if (r.events[name].length === 1 && --pending === 0) settle();
      };
      const url = name === 'unreachable' ? 'http://127.0.0.1:1/' :
                  name === 'unparsable' ? 'http://[::1/x' : base + name.split('-')[0];
      return ombrix.requestfile.download(url, target || dir + '/new/' + name, on('complete'),
          on('error'), on('abort'), onprogress || (() => {}));
    }
    // Another family's identifier is no download: abort leaves it alone.
    ombrix.requestfile.abort(ombrix.file.write(ombrix.app.apppath() + '/note.txt', 'kept', () => {}));
    start('big', (received, total) => r.progress.push([received, total]));
    r.truncatedAtOnce = ombrix.file.exist(dir + '/new/big');
    r.paced = [];
    start('paced', (received, total) => r.paced.push([received, total, performance.now()]));
    start('missing');
    start('unreachable');
    start('cut');
    start('agent');
    start('数据');  // sent as UTF-8, percent-encoded
    start('unparsable');
    // A target that cannot be written fails before anything is fetched.
    start('big-folder', () => { r.folderProgress = true; }, dir);
    start('big-unwritable', null, '/proc/ombrix-nowhere/big');  // no file can be made there
    if (full) start('big-full', null, ombrix.app.apppath() + '/full/big');
    const slow = start('slow', () => {
      if (!r.aborted) { r.aborted = true; r.abortGives = typeof ombrix.requestfile.abort(slow); }
    });
    // A target a running download writes: this one fails, that one goes on.
    start('big-twice', null, dir + '/new/slow');
    // One more round trip lets any late second callback arrive before the report.
    function settle() {
      ombrix.requestfile.download(base + 'missing', dir + '/last', () => report(r), () => report(r),
                                  () => {}, () => {});
    }
  )"));
  shell_->WriteManifest(PageManifest("Downloads"));
  shell_->Start();
  const QJsonObject r = shell_->WaitForResults(milliseconds(60000));
  EXPECT_EQ(r["five"].toString(), "下载文件失败，请传入正确的参数");
  EXPECT_TRUE(r["truncatedAtOnce"].toBool());
  const QJsonObject events = r["events"].toObject();
  EXPECT_EQ(events["big"].toArray(), QJsonArray({"complete"}));
  EXPECT_EQ(ReadAll(shell_->dir() + "/got/new/big"), big);
  const QJsonArray progress = r["progress"].toArray();
  ASSERT_FALSE(progress.isEmpty());
  for (int i = 1; i < progress.size(); ++i) {
    EXPECT_GT(progress[i][0].toDouble(), progress[i - 1][0].toDouble());
  }
  EXPECT_EQ(progress.last().toArray(), QJsonArray({big.size(), big.size()}));
  // A body that comes in many small pieces (32, 15 ms apart) is reported at most
  // every 50 ms, and once more at its end. A report may reach a busy page late,
  // so the gaps are judged by their median, over enough of them (about ten)
  // that a few late ones arriving together do not move it.
  EXPECT_EQ(events["paced"].toArray(), QJsonArray({"complete"}));
  const QJsonArray paced = r["paced"].toArray();
  ASSERT_GE(paced.size(), 2);
  const double span = paced.last()[2].toDouble() - paced.first()[2].toDouble();
  EXPECT_LE(paced.size(), span / 50 + 3) << span;
  std::vector<double> gaps;
  for (int i = 1; i + 1 < paced.size(); ++i) {
    gaps.push_back(paced[i][2].toDouble() - paced[i - 1][2].toDouble());
  }
  std::sort(gaps.begin(), gaps.end());
  if (!gaps.empty()) {
    EXPECT_GE(gaps[gaps.size() / 2], 35.0) << span;
  }
  EXPECT_EQ(paced.last()[0].toInt(), 32 * 65536);
  EXPECT_EQ(paced.last()[1].toInt(), 32 * 65536);
  // A 404 is an error; its body is still written.
  EXPECT_EQ(events["missing"].toArray(), QJsonArray({"error"}));
  EXPECT_EQ(ReadAll(shell_->dir() + "/got/new/missing"), "not here");
  EXPECT_EQ(events["unreachable"].toArray(), QJsonArray({"error"}));
  // The engine's own User-Agent, as the page's requests send it.
  EXPECT_EQ(events["agent"].toArray(), QJsonArray({"complete"}));
  EXPECT_EQ(events[QString::fromUtf8("数据")].toArray(), QJsonArray({"complete"}));
  EXPECT_EQ(ReadAll(shell_->dir() + QString::fromUtf8("/got/new/数据")), "encoded");
  EXPECT_EQ(events["unparsable"].toArray(), QJsonArray({"error"}));
  EXPECT_EQ(events["big-folder"].toArray(), QJsonArray({"error"}));
  EXPECT_FALSE(r.contains("folderProgress"));
  EXPECT_EQ(events["big-twice"].toArray(), QJsonArray({"error"}));
  EXPECT_EQ(QString::fromUtf8(ReadAll(shell_->dir() + "/got/new/agent")), r["agent"].toString());
  EXPECT_EQ(events["big-unwritable"].toArray(), QJsonArray({"error"}));
  if (mounted) {
    EXPECT_EQ(events["big-full"].toArray(), QJsonArray({"error"}));
  }
  EXPECT_EQ(events["cut"].toArray(), QJsonArray({"error"}))
      << QJsonDocument(events).toJson().toStdString();
  // An abort gives exactly one of onabort and onerror, and abort returns nothing.
  const QJsonArray slow = events["slow"].toArray();
  ASSERT_EQ(slow.size(), 1);
  EXPECT_TRUE(slow[0] == "abort" || slow[0] == "error");
  EXPECT_EQ(r["abortGives"].toString(), "undefined");
  EXPECT_EQ(ReadAll(shell_->dir() + "/note.txt"), "kept\r\n");
}

// A vendor's first page named by its path, and scripts from the app's own
// server kept in the disk cache from one start to the next.
TEST_F(ContentTest, PathFirstPageOpensAndServerScriptsComeFromTheCache) {
  std::atomic<int> fetched{0};
  ombrix_test::LoopbackServer server([&fetched](int client, const std::string& path) {
    if (path != "/app.js") {
      ombrix_test::SendAll(client, ombrix_test::ResponseHead(404, 0));
      return;
    }
    const std::string body = "window.served = " + std::to_string(++fetched) + ";";
    ombrix_test::SendAll(client, ombrix_test::ResponseHead(200, body.size(), "text/javascript",
                                                           "Cache-Control: max-age=3600\r\n") +
                                     body);
  });
  const QByteArray script = "http://127.0.0.1:" + QByteArray::number(server.port()) + "/app.js";
  // The first start only saves: it ends once the engine has stored the script.
  shell_->WriteFile(QString::fromUtf8("web #1/首页.html"),
                    TestPage(R"(
    window.addEventListener('load', function() {
      const r = {served: window.served, protocol: location.protocol,
                 names: [ombrix.app.runapp.name, ombrix.file.exist.name]};
      ombrix.file.exist(ombrix.app.apppath() + '/second') ? report(r) : save(r);
    });
  )",
                             "<script src=\"" + script + "\"></script>"));
  QJsonObject manifest = PageManifest("Path page");
  manifest["first_page"] = QString::fromUtf8("${AppDir}/web #1/首页.html");
  manifest["cache_path"] = "${AppDir}/cache";
  shell_->WriteManifest(manifest);
  const auto stored = [this] {
    QDirIterator records(shell_->dir() + "/cache", QDir::Files, QDirIterator::Subdirectories);
    while (records.hasNext()) {
      if (records.next().contains("/Records/")) return true;
    }
    return false;
  };
  shell_->Start();
  QJsonObject r = shell_->WaitForResults();
  EXPECT_EQ(r["protocol"].toString(), "file:");
  EXPECT_EQ(r["served"].toInt(), 1);
  EXPECT_EQ(r["names"].toArray(), QJsonArray({"runapp", "exist"}));
  EXPECT_TRUE(WaitFor(stored, milliseconds(20000)));
  shell_->Kill();
  QFile::remove(shell_->dir() + "/results.json");
  shell_->WriteFile("second", "");
  shell_->Start();
  r = shell_->WaitForResults();
  EXPECT_EQ(r["served"].toInt(), 1);  // from the cache: the server saw one request
  EXPECT_EQ(fetched, 1);
  EXPECT_EQ(shell_->Wait(), 0);
}

TEST_F(ContentTest, LeavingThePageEndsItsDownloads) {
  HttpServer server("");
  shell_->WriteFile("web/index.html", TestPage(R"(
    let left = false;
    ombrix.requestfile.download('http://127.0.0.1:)" +
                                               QByteArray::number(server.port()) + R"(/slow',
        ombrix.app.apppath() + '/slow', () => {}, () => {}, () => {}, function() {
          if (!left) { left = true; location.href = 'about:blank'; }
        });
  )"));
  shell_->WriteManifest(PageManifest("Leaving"));
  shell_->Start();
  EXPECT_TRUE(WaitFor([&] { return server.slow_left() == 1; }, milliseconds(20000)));
  EXPECT_TRUE(shell_->Running());
}

}  // namespace
}  // namespace e2e
