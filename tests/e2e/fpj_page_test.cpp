// Pages drive the ticket dispenser: the fpj-sim simulator on a real pty, the
// real shell, and ombrix.fpj called from page script.
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QFile>
#include <QFileInfo>

#include "fixture.h"

// The simulator runner of the driver tests, with the simulator of this build.
#define FPJ_SIM_PATH OMBRIX_TEST_BIN_DIR "/fpj-sim"
#include "../device/sim_process.cpp"

namespace e2e {
namespace {

class FpjPageTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    ASSERT_TRUE(QFile::exists(FPJ_SIM_PATH)) << "build fpj-sim first";
  }

  // Starts the simulator with options; the page script sees its device as PORT.
  void StartSim(const std::vector<std::string>& options) {
    sim_ = std::make_unique<SimProcess>(options);
    ASSERT_TRUE(sim_->started());
  }

  QByteArray WithPort(const QByteArray& script) const {
    return "const PORT = '" + QByteArray::fromStdString(sim_->path()) + "';\n" + script;
  }

  QJsonObject RunPage(const QByteArray& script) {
    shell_->WriteFile("web/index.html", TestPage(WithPort(script)));
    shell_->WriteManifest(PageManifest("Dispenser"));
    shell_->Start();
    return shell_->WaitForResults(milliseconds(60000));
  }

  std::unique_ptr<SimProcess> sim_;
};

QJsonArray Pair(int first, const QJsonValue& second) { return QJsonArray{first, second}; }

// The sales show in the shell's metrics, read while the page waits for "go".
TEST_F(FpjPageTest, SaleCallsBackAndEverythingElseWaitsForIt) {
  StartSim({"--stock", "10", "--ticket-ms", "600"});
  const int port = ombrix_test::LoopbackServer([](int, const std::string&) {}).port();
  QJsonObject manifest = PageManifest("Dispenser");
  manifest["metrics"] = QJsonObject{{"listen", QString("127.0.0.1:%1").arg(port)}};
  shell_->WriteFile("web/index.html", TestPage(WithPort(R"(
    const r = {};
    r.open = ombrix.fpj.open(PORT);
    r.status = ombrix.fpj.getportstatus();
    r.appversion = ombrix.fpj.getappversion();
    r.first = ombrix.fpj.sellbill(2, function(code, sold) {
      r.sale = [code, sold];
      r.lastAfter = ombrix.fpj.getlastcode();
      // Free again inside its own callback.
      r.again = ombrix.fpj.sellbill(1, function(code, sold) {
        r.againSale = [code, sold];
        ombrix.fpj.querybillnum(function(left) {
          r.left = left;
          r.closed = ombrix.fpj.close();
          r.statusAfterClose = ombrix.fpj.getportstatus();
          save(r, 'results.json', function() {
            setInterval(function() {
              if (ombrix.file.exist(ombrix.app.apppath() + '/go')) ombrix.app.exitapp();
            }, 50);
          });
        });
      });
    });
    r.second = ombrix.fpj.sellbill(2, function() { r.secondCalled = true; });
    r.resetBusy = ombrix.fpj.reset(function() { r.resetCalled = true; });
    r.lastBusy = ombrix.fpj.getlastcode();
    r.closeBusy = ombrix.fpj.close();
  )")));
  shell_->WriteManifest(manifest);
  shell_->Start();
  const QJsonObject r = shell_->WaitForResults(milliseconds(60000));
  // 2 + 1 tickets; the latest command, querybillnum, answered the stock left.
  const std::string metrics = "curl -s -m 5 http://127.0.0.1:" + std::to_string(port) + "/metrics";
  std::string text;
  EXPECT_TRUE(WaitFor(
      [&] {
        text = e2e::Run(metrics);
        return text.find("\nombrix_dispenser_last_code 7\n") != std::string::npos;
      },
      milliseconds(10000)))
      << text;
  EXPECT_NE(text.find("\nombrix_dispenser_tickets_total 3\n"), std::string::npos);
  shell_->WriteFile("go", "");
  EXPECT_EQ(r["open"].toInt(), 0);
  EXPECT_EQ(r["status"].toInt(), 0);
  EXPECT_EQ(r["appversion"].toString(), "1.0");
  EXPECT_EQ(r["first"].toInt(), 0);
  EXPECT_EQ(r["second"].toInt(), -200);
  EXPECT_EQ(r["resetBusy"].toInt(), -200);
  EXPECT_EQ(r["lastBusy"].toInt(), -200);
  EXPECT_EQ(r["closeBusy"].toInt(), -200);
  EXPECT_EQ(r["sale"].toArray(), Pair(0, 2));
  EXPECT_EQ(r["lastAfter"].toInt(), 0);
  EXPECT_EQ(r["again"].toInt(), 0);
  EXPECT_EQ(r["againSale"].toArray(), Pair(0, 1));
  EXPECT_EQ(r["left"].toInt(), 7);
  EXPECT_TRUE(r["closed"].toBool());
  EXPECT_EQ(r["statusAfterClose"].toInt(), -100);
  EXPECT_FALSE(r.contains("secondCalled"));
  EXPECT_FALSE(r.contains("resetCalled"));
  EXPECT_EQ(sim_->Frames(), (std::vector<std::string>{"02 02 01 02 00 02 09",
                                                      "02 02 01 02 00 01 08", "02 00 01 11 14"}));
  EXPECT_EQ(shell_->Wait(), 0);
}

TEST_F(FpjPageTest, WrongArgumentsThrowAndVersionBeforeOpenIsMinus100) {
  StartSim({"--ticket-ms", "0", "--version", "V2.31"});
  const QJsonObject r = RunPage(R"(
    const r = {};
    function thrown(f) { try { f(); return 'no error'; } catch (e) { return e.message; } }
    r.sell = thrown(() => ombrix.fpj.sellbill('2', function() {}));
    r.reset = thrown(() => ombrix.fpj.reset());
    r.open = thrown(() => ombrix.fpj.open(5));
    r.hole = thrown(() => ombrix.fpj.setholenum(1.5, function() {}));
    r.range = thrown(() => ombrix.fpj.setrange(4));
    r.exit = thrown(() => ombrix.fpj.exitbill('cb'));
    r.count = thrown(() => ombrix.fpj.setbillnum(null, function() {}));
    r.last = ombrix.fpj.getlastcode();
    r.start = ombrix.fpj.queryversion(function(code, text) {
      r.early = [code, text];
      r.opened = ombrix.fpj.open(PORT);
      ombrix.fpj.setrange(-1, function(code) {
        r.rangeCode = code;
        ombrix.fpj.setholenum(300, function(code) {
          r.holeCode = code;
          ombrix.fpj.queryversion(function(code, text) { r.version = [code, text]; report(r); });
        });
      });
    });
  )");
  EXPECT_EQ(r["sell"].toString(), "错误的参数，参数列表：发票张数, 回调函数");
  EXPECT_EQ(r["reset"].toString(), "错误的参数，参数列表：callback");
  EXPECT_EQ(r["open"].toString(), "错误的参数，参数列表：串口端口");
  EXPECT_EQ(r["hole"].toString(), "错误的参数，参数列表：孔数， 回调函数");
  EXPECT_EQ(r["range"].toString(), "错误的参数，参数列表：补偿距离，以0.25mm为单位, 回调函数");
  EXPECT_EQ(r["exit"].toString(), "错误的参数，参数列表：回调函数");
  EXPECT_EQ(r["count"].toString(), "错误的参数，参数列表：发票张数, 回调函数");
  EXPECT_EQ(r["last"].toInt(), 0);
  EXPECT_EQ(r["start"].toInt(), 0);
  EXPECT_EQ(r["early"].toArray(), Pair(-100, ""));
  EXPECT_EQ(r["opened"].toInt(), 0);
  EXPECT_EQ(r["rangeCode"].toInt(), 0);
  EXPECT_EQ(r["holeCode"].toInt(), 0);
  EXPECT_EQ(r["version"].toArray(), Pair(0, "V2.31"));
  EXPECT_EQ(sim_->Frames(), (std::vector<std::string>{"02 02 01 22 FF FF 25", "02 01 01 20 2C 50",
                                                      "02 00 01 15 18"}));
}

// A page that goes mid-sale lets the port go at once: the next page opens it
// within 3 s, whatever the old page waited for, and the old sale's late reply
// is never taken for the next page's answer.
TEST_F(FpjPageTest, NavigatingDuringASaleLeavesThePortToTheNextPage) {
  StartSim({"--ticket-ms", "1000"});
  shell_->WriteFile("web/second.html", TestPage(WithPort(R"(
    const dir = ombrix.app.apppath();
    let tries = 0, asks = 0;
    function tryOpen() {
      ++tries;
      if (ombrix.fpj.open(PORT) === 0) return ask();
      ombrix.fpj.close();
      if (tries < 200) setTimeout(tryOpen, 100); else report({tries: tries});
    }
    // The dispenser finishes the old sale first: until then it does not answer.
    function ask() {
      ++asks;
      ombrix.fpj.querybillnum(function(left) {
        if (left === -109 && asks < 5) return ask();
        report({tries: tries, left: left, late: ombrix.file.exist(dir + '/late.json')});
      });
    }
    tryOpen();
  )")));
  shell_->WriteFile("web/index.html", TestPage(WithPort(R"(
    ombrix.fpj.open(PORT);
    ombrix.fpj.sellbill(4, function() { save({late: true}, 'late.json'); });
    setTimeout(() => { location.href = 'second.html'; }, 300);
  )")));
  shell_->WriteManifest(PageManifest("Navigate"));
  shell_->Start();
  const QJsonObject r = shell_->WaitForResults(milliseconds(60000));
  EXPECT_LE(r["tries"].toInt(), 30);  // open within 3 s of leaving, the sale still running
  EXPECT_EQ(r["left"].toInt(), 96);   // the sale's own reply was not taken for the count
  EXPECT_FALSE(r["late"].toBool());
  const std::vector<std::string> frames = sim_->Frames();
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(frames.front().rfind("02 02 01 02 00 04", 0), 0u) << frames.front();
  EXPECT_EQ(frames.back(), "02 00 01 11 14");
  EXPECT_EQ(shell_->Wait(), 0);
}

// A reply that never comes fails that one command and nothing more: the port
// stays open and the next command is answered. A dispenser that goes away (its
// cable pulled) shows in getportstatus as -100 without any command, and the
// commands then fail at once.
TEST_F(FpjPageTest, FailedCommandLeavesThePortOpenAndAVanishedDeviceShows) {
  // Each reply comes 5.1 s after its request: after the 5 s a query waits,
  // within the 10 s of cuttertest.
  StartSim({"--delay", "5100"});
  shell_->WriteFile("web/index.html", TestPage(WithPort(R"(
    const r = {};
    r.open = ombrix.fpj.open(PORT);
    ombrix.fpj.querybillnum(function(left) {
      r.failed = left;
      r.statusAfterFailure = ombrix.fpj.getportstatus();
      r.lastAfterFailure = ombrix.fpj.getlastcode();
      ombrix.fpj.cuttertest(function(code) {
        r.next = code;
        r.statusAfterNext = ombrix.fpj.getportstatus();
        save(r, 'answered.json', function() {
          const watch = setInterval(function() {
            if (ombrix.fpj.getportstatus() !== -100) return;
            clearInterval(watch);
            const start = Date.now();
            ombrix.fpj.reset(function(code) { r.afterGone = [code, Date.now() - start]; report(r); });
          }, 50);
        });
      });
    });
  )")));
  shell_->WriteManifest(PageManifest("Dispenser"));
  shell_->Start();
  ASSERT_FALSE(shell_->WaitForResults(milliseconds(60000), "answered.json").isEmpty());
  sim_->Kill();  // the device goes away while the page only watches the port
  const QJsonObject r = shell_->WaitForResults(milliseconds(30000));
  EXPECT_EQ(r["open"].toInt(), 0);
  EXPECT_EQ(r["failed"].toInt(), -109);
  EXPECT_EQ(r["statusAfterFailure"].toInt(), 0);
  EXPECT_EQ(r["lastAfterFailure"].toInt(), -109);
  EXPECT_EQ(r["next"].toInt(), 0);
  EXPECT_EQ(r["statusAfterNext"].toInt(), 0);
  const QJsonArray afterGone = r["afterGone"].toArray();
  EXPECT_EQ(afterGone[0].toInt(), -109);
  EXPECT_LT(afterGone[1].toInt(), 1000);
  EXPECT_EQ(sim_->Frames(), (std::vector<std::string>{"02 00 01 11 14", "02 00 01 A1 A4"}));
  EXPECT_EQ(shell_->Wait(), 0);
}

// The example page of the simulator's README, as written there.
QByteArray ReadmeExample() {
  QFile readme(OMBRIX_TEST_SOURCE_DIR "/tools/fpj-sim/README.md");
  if (!readme.open(QIODevice::ReadOnly)) return QByteArray();
  const QByteArray text = readme.readAll();
  const int start = text.indexOf("<body><script>");
  const int end = text.indexOf("</script></body>", start);
  if (start < 0 || end < 0) return QByteArray();
  QByteArray script = text.mid(start + 14, end - start - 14);
  return script.replace("\n    ", "\n");
}

TEST_F(FpjPageTest, ReadmeExampleWorks) {
  StartSim({"--stock", "50", "--ticket-ms", "300"});
  QByteArray example = ReadmeExample();
  ASSERT_FALSE(example.isEmpty());
  example.replace("/dev/pts/4", QByteArray::fromStdString(sim_->path()));
  const QJsonObject r = RunPage(example + R"(
    const watch = setInterval(function() {
      if (document.body.innerText.indexOf('left in stock') < 0) return;
      clearInterval(watch);
      report({text: document.body.innerText, status: ombrix.fpj.getportstatus()});
    }, 50);
  )");
  EXPECT_EQ(r["text"].toString().trimmed(), "sell: code 0, tickets 2\nleft in stock: 48");
  EXPECT_EQ(r["status"].toInt(), -100);  // closed
}

TEST_F(FpjPageTest, LeavingWhileJobsRunEndsWithStatusZero) {
  // The web processes outlive the shell for a moment: they become this test's
  // children, so a crash of theirs during exit is seen here.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  struct Reaper {
    pid_t group = 0;
    ~Reaper() {
      if (group > 0) kill(-group, SIGKILL);  // helpers the desktop libraries started (D-Bus)
      while (group > 0 && waitpid(-group, nullptr, 0) > 0) {
      }
      prctl(PR_SET_CHILD_SUBREAPER, 0);
    }
  } reaper;
  StartSim({"--stock", "10", "--ticket-ms", "2000"});
  // A channel of this test's own; its names outlive the page, so the test removes them.
  const auto Channel = [this] { return QFileInfo(shell_->dir()).fileName().toUtf8(); };
  struct Unlink {
    QByteArray name;
    ~Unlink() {
      for (const char* end : {"_m", "_r", "_w"}) {
        const QByteArray object = "/" + name + end;
        if (end[1] == 'm') {
          shm_unlink(object.constData());
        } else {
          sem_unlink(object.constData());
        }
      }
    }
  } unlink_channel{Channel()};
  const QString fifo = shell_->dir() + "/blocked";
  ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  shell_->WriteFile("web/index.html", TestPage(WithPort(R"(
    const dir = ombrix.app.apppath();
    ombrix.fpj.open(PORT);
    ombrix.fpj.sellbill(5, function() {});
    ombrix.app.createserver(')" + Channel() + R"(', function() {
      ombrix.file.write(dir + '/blocked', 'never read', function() {});
      save({started: true}, 'started.json');
      setInterval(function() { if (ombrix.file.exist(dir + '/go')) ombrix.app.exitapp(); }, 50);
    }, function() {}, function() {});
  )")));
  shell_->WriteManifest(PageManifest("Leaving"));
  shell_->Start();
  ASSERT_FALSE(shell_->WaitForResults(milliseconds(30000), "started.json").isEmpty());
  reaper.group = shell_->pid();
  const std::string web = e2e::Run("pgrep -P " + std::to_string(reaper.group) + " WebKitWebProces");
  ASSERT_FALSE(web.empty());
  const pid_t web_pid = pid_t(std::stol(web));
  shell_->WriteFile("go", "");
  EXPECT_EQ(shell_->Wait(), 0);
  // The web process ends after the shell (it notices the shell has gone), so it
  // is this test's to collect.
  int status = 0;
  pid_t collected = 0;
  WaitFor([&] { return (collected = waitpid(web_pid, &status, WNOHANG)) != 0; },
          milliseconds(20000));
  ASSERT_EQ(collected, web_pid) << "the web process ended before the shell or never";
  EXPECT_TRUE(WIFEXITED(status)) << "the web process died of signal " << WTERMSIG(status);
}

}  // namespace
}  // namespace e2e
