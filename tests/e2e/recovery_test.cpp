// A counter that never stays stuck: a hung page starts again, a web process
// over its memory limit starts again, a first page whose server is down is
// tried until the server is back.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <memory>

#include "fixture.h"

namespace e2e {
namespace {

using RecoveryTest = ShellTest;

int Loads(const Shell& shell) {
  return QDir(shell.dir()).entryList({"loaded-*.json"}, QDir::Files).size();
}

TEST_F(RecoveryTest, HungPageStartsAgainAtTheFirstPage) {
  // The first load marks itself and loops for ever; the second reports.
  shell_->WriteFile("web/index.html", TestPage(R"(
    const dir = ombrix.app.apppath();
    if (!ombrix.file.exist(dir + '/loaded-1.json')) {
      save({}, 'loaded-1.json', function() { while (true) {} });
    } else {
      save({}, 'loaded-2.json', function() { report({again: location.pathname}); });
    }
  )"));
  QJsonObject manifest = PageManifest("Hang");
  manifest["kiosk"] = QJsonObject{{"hang_seconds", 5}};
  shell_->WriteManifest(manifest);
  shell_->Start();
  ASSERT_TRUE(WaitFor([&] { return Loads(*shell_) == 1; }, milliseconds(20000)));
  const auto hung_at = std::chrono::steady_clock::now();
  const QJsonObject r = shell_->WaitForResults(milliseconds(20000));
  const auto restarted_in = std::chrono::steady_clock::now() - hung_at;
  EXPECT_TRUE(r["again"].toString().endsWith("/web/index.html"));
  EXPECT_LT(restarted_in, std::chrono::seconds(8));
  EXPECT_EQ(Loads(*shell_), 2);
  EXPECT_NE(shell_->Output().find("web process ended: hang"), std::string::npos);
  EXPECT_EQ(shell_->Wait(), 0);
}

TEST_F(RecoveryTest, PageOverItsMemoryLimitStartsAgain) {
#ifdef OMBRIX_TEST_PRELOAD
  // The sanitizer's runtime in the web process (its shadow memory and
  // quarantine) defeats the engine's memory accounting: the page would grow
  // without end instead of being ended at the limit.
  GTEST_SKIP() << "not in the sanitizer build";
#endif
  shell_->WriteFile("web/index.html", TestPage(R"(
    const dir = ombrix.app.apppath();
    if (ombrix.file.exist(dir + '/loaded-1.json')) {
      report({again: true});
    } else {
      save({}, 'loaded-1.json', function() {
        const hoard = [];
        setInterval(function() {
          if (hoard.length >= 48) return;  // 1.5 GB at most, should the limit fail
          const block = new Uint8Array(32 << 20);
          block.fill(7);
          hoard.push(block);
        }, 50);
      });
    }
  )"));
  QJsonObject manifest = PageManifest("Memory");
  manifest["kiosk"] = QJsonObject{{"memory_limit_mb", 300}};
  shell_->WriteManifest(manifest);
  shell_->Start();
  EXPECT_TRUE(shell_->WaitForResults(milliseconds(60000))["again"].toBool());
  EXPECT_NE(shell_->Output().find("web process ended: memory limit"), std::string::npos);
  EXPECT_EQ(shell_->Wait(), 0);
}

// A port nothing listens on yet: a server started later takes it.
int FreePort() {
  ombrix_test::LoopbackServer probe([](int, const std::string&) {});
  return probe.port();
}

TEST_F(RecoveryTest, FirstPageIsTriedAgainUntilItsServerIsBack) {
  const int port = FreePort();
  const QString address = QString("http://127.0.0.1:%1/kiosk").arg(port);
  const QByteArray page = TestPage("report({served: location.href});");
  const auto serve = [&page](int client, const std::string&) {
    ombrix_test::SendAll(
        client, ombrix_test::ResponseHead(200, page.size(), "text/html") + page.toStdString());
  };
  // With the shell's own notice.
  QJsonObject manifest = PageManifest("Retry");
  manifest["first_page"] = address;
  manifest["kiosk"] = QJsonObject{{"retry_failed_load", true}};
  shell_->WriteManifest(manifest);
  shell_->Start();
  const std::string waiting = "load failed: " + address.toStdString() + " retry in 2 s";
  ASSERT_TRUE(WaitFor([&] { return shell_->Output().find(waiting) != std::string::npos; },
                      milliseconds(20000)));
  ASSERT_NE(shell_->WaitForWindow("Retry"), 0u);  // placed and shown once, with the notice
  {
    ombrix_test::LoopbackServer server(serve, port);
    EXPECT_EQ(shell_->WaitForResults()["served"].toString(), address);
    EXPECT_EQ(shell_->Wait(), 0);
  }
  // With an offline page of the app's: it is told the address and the wait.
  QFile::remove(shell_->dir() + "/results.json");
  shell_->WriteFile("web/offline.html", TestPage(R"(
    const query = new URLSearchParams(location.search);
    save({url: query.get('url'), retry: query.get('retry')}, 'offline.json');
  )"));
  manifest["kiosk"] =
      QJsonObject{{"retry_failed_load", true}, {"offline_page", "${AppDir}/web/offline.html"}};
  shell_->WriteManifest(manifest);
  shell_->Start();
  const QJsonObject offline = shell_->WaitForResults(milliseconds(20000), "offline.json");
  EXPECT_EQ(offline["url"].toString(), address);
  EXPECT_EQ(offline["retry"].toString(), "2");
  ombrix_test::LoopbackServer server(serve, port);
  EXPECT_EQ(shell_->WaitForResults(milliseconds(30000))["served"].toString(), address);
  EXPECT_EQ(shell_->Wait(), 0);
}

}  // namespace
}  // namespace e2e
