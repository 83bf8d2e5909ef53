// The app family from a page of the real shell: channels to and from other
// programs (the ipc tools), killing and starting programs.
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <cstdlib>
#include <vector>

#include "fastipc/fastipc.h"
#include "fixture.h"

namespace e2e {
namespace {

const std::string kBin = OMBRIX_TEST_BIN_DIR;

// A channel name of this test program. A channel's names outlive its readers;
// those of every name handed out are removed when the program ends.
std::string Channel(const char* what) {
  static int counter = 0;
  static auto* handed_out = new std::vector<std::string>;  // never destroyed: read at exit
  static const bool removed_at_exit = [] {
    std::atexit([] {
      for (const std::string& name : *handed_out) {
        sem_unlink(("/" + name + "_w").c_str());
        sem_unlink(("/" + name + "_r").c_str());
        shm_unlink(("/" + name + "_m").c_str());
      }
    });
    return true;
  }();
  (void)removed_at_exit;
  handed_out->push_back("omx-e2e-" + std::string(what) + "-" + std::to_string(getpid()) + "-" +
                        std::to_string(++counter));
  return handed_out->back();
}

// Sends text with ombrix-ipc-send; returns its exit status.
int IpcSend(const std::string& channel, const std::string& text) {
  const std::string out =
      Run(kBin + "/ombrix-ipc-send " + channel + " '" + text + "' >/dev/null 2>&1; echo $?");
  return std::stoi(out.empty() ? "-1" : out);
}

QString ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class AppPageTest : public ShellTest {
 protected:
  void StartPage(const QByteArray& script) {
    shell_->WriteFile("web/index.html", TestPage(script));
    shell_->WriteManifest(PageManifest("App"));
    shell_->Start();
  }
};

TEST_F(AppPageTest, ServerGetsSuccessThenEachBlockAndStopsWhenClosed) {
  const std::string data = Channel("data");
  const std::string control = Channel("control");
  const QByteArray script = R"(
    const r = {success: 0, reads: [], args3: ombrix.app.createserver('DATA', function() {}, function() {})};
    function ready() { save({ready: true}, 'ready.json'); }
    ombrix.app.createserver('CONTROL', function() {}, function() { r.failed = 'control'; },
                            function() { report(r); });
    r.started = ombrix.app.createserver('DATA', function() { r.success++; ready(); },
        function() { r.failed = 'data'; report(r); },
        function(text) {
          r.reads.push(text);
          if (r.reads.length < 5) return;
          r.close1 = ombrix.app.closeserver('DATA');
          r.close2 = ombrix.app.closeserver('DATA');
          save({closed: true}, 'closed.json');
        });
  )";
  StartPage(QByteArray(script)
                .replace("'DATA'", ("'" + data + "'").c_str())
                .replace("'CONTROL'", ("'" + control + "'").c_str()));
  ASSERT_FALSE(shell_->WaitForResults(milliseconds(30000), "ready.json").isEmpty());

  const std::string accents = "h\xc3\xa9llo \xe4\xb8\xad\xe6\x96\x87 \xe2\x9c\x93";
  EXPECT_EQ(IpcSend(data, "hello"), 0);
  EXPECT_EQ(IpcSend(data, accents), 0);
  EXPECT_EQ(IpcSend(data, std::string(3000, 'x')), 0);
  ASSERT_FALSE(shell_->WaitForResults(milliseconds(30000), "closed.json").isEmpty());
  // The channel has no reader any more.
  EXPECT_NE(IpcSend(data, "late"), 0);
  ASSERT_EQ(IpcSend(control, "finish"), 0);

  const QJsonObject r = shell_->WaitForResults();
  EXPECT_FALSE(r["args3"].toBool(true));
  EXPECT_TRUE(r["started"].toBool());
  EXPECT_EQ(r["success"].toInt(), 1);
  EXPECT_FALSE(r.contains("failed"));
  const QJsonArray reads = r["reads"].toArray();
  ASSERT_EQ(reads.size(), 5);
  EXPECT_EQ(reads[0].toString(), "hello");
  EXPECT_EQ(reads[1].toString(), QString::fromStdString(accents));
  EXPECT_EQ(reads[2].toString(), QString(1024, 'x'));
  EXPECT_EQ(reads[3].toString(), QString(1024, 'x'));
  EXPECT_EQ(reads[4].toString(), QString(952, 'x'));
  EXPECT_TRUE(r["close1"].toBool());
  EXPECT_TRUE(r["close2"].toBool());
  EXPECT_EQ(shell_->Wait(), 0);
}

TEST_F(AppPageTest, ClientKillAndRunReachOtherPrograms) {
  QTemporaryDir dir;
  const std::string channel = Channel("listen");
  const QString out = dir.path() + "/listen.out";
  const QString err = dir.path() + "/listen.err";
  const int listener =
      std::stoi("0" + e2e::Run(kBin + "/ombrix-ipc-listen " + channel + " --count 1 >" +
                               out.toStdString() + " 2>" + err.toStdString() + " & echo $!"));
  ASSERT_GT(listener, 0);
  ASSERT_TRUE(WaitFor([&] { return ReadAll(err).contains("listening on"); }, milliseconds(10000)));

  // A program to kill, under a name nothing else has.
  const std::string victim = Channel("victim");
  const QString victim_path = dir.path() + "/" + QString::fromStdString(victim);
  ASSERT_TRUE(QFile::copy("/bin/sleep", victim_path));
  const pid_t pid = fork();
  if (pid == 0) {
    execl(victim_path.toLocal8Bit().constData(), victim.c_str(), "120", nullptr);
    _exit(127);
  }
  ASSERT_TRUE(WaitFor(
      [&] {
        return QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == victim_path;
      },
      milliseconds(10000)));

  const QString ran = dir.path() + "/ran";
  QByteArray script = R"(
    const r = {};
    r.early = ombrix.app.sendipcmsg('too early');
    r.client = ombrix.app.createclient('CHANNEL');
    r.sent = ombrix.app.sendipcmsg('from the page ü中');
    r.killed = ombrix.app.killapp('VICTIM');
    r.run = typeof ombrix.app.runapp('touch RAN');
    report(r);
  )";
  script.replace("CHANNEL", channel.c_str())
      .replace("VICTIM", victim.c_str())
      .replace("RAN", ran.toUtf8());
  StartPage(script);
  const QJsonObject r = shell_->WaitForResults();
  EXPECT_EQ(r["early"].toInt(), 101);
  EXPECT_EQ(r["client"].toInt(), 0);
  EXPECT_EQ(r["sent"].toInt(), 0);
  EXPECT_TRUE(r["killed"].toBool());
  EXPECT_EQ(r["run"].toString(), "undefined");

  EXPECT_TRUE(WaitFor([&] { return ReadAll(out) == QString::fromUtf8("from the page ü中\n"); },
                      milliseconds(10000)))
      << ReadAll(out).toStdString();
  int status = 0;
  if (!r["killed"].toBool()) kill(pid, SIGKILL);
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_TRUE(WaitFor([&] { return QFile::exists(ran); }, milliseconds(10000)));
  EXPECT_EQ(shell_->Wait(), 0);
  // The listener ends after its one message; if it did not come, end it here.
  if (!WaitFor([&] { return kill(listener, 0) != 0; }, milliseconds(5000))) kill(listener, SIGTERM);
}

// A write to a channel whose reader has gone fails with 205 at once (a live
// reader that takes nothing is waited for 3 s a block), and the client keeps
// working once a reader is back.
TEST_F(AppPageTest, WriteToAGoneReaderGivesUpWithinABlocksTimeAndTheClientStaysOpen) {
  QTemporaryDir dir;
  const std::string channel = Channel("gone");
  const std::string control = Channel("control");
  // Starts a reader of the channel; its output goes to dir/NAME.out.
  auto listen = [&](const QString& name, const std::string& options) {
    const QString files = dir.path() + "/" + name;
    const pid_t pid = std::stoi("0" + e2e::Run(kBin + "/ombrix-ipc-listen " + channel + " " +
                                               options + " >" + files.toStdString() + ".out 2>" +
                                               files.toStdString() + ".err & echo $!"));
    const bool listening = WaitFor([&] { return ReadAll(files + ".err").contains("listening on"); },
                                   milliseconds(10000));
    return listening ? pid : 0;
  };
  // The reader dies without closing: the channel's names stay, nobody reads.
  const pid_t gone = listen("gone", "");
  ASSERT_GT(gone, 0);
  ASSERT_EQ(kill(gone, SIGKILL), 0);
  ASSERT_TRUE(WaitFor(
      [&] {
        const QString stat = ReadAll(QStringLiteral("/proc/%1/stat").arg(gone));
        return stat.isEmpty() || stat.contains(") Z ");
      },
      milliseconds(10000)));

  QByteArray script = R"(
    const r = {};
    ombrix.app.createserver('CONTROL', function() {
      r.client = ombrix.app.createclient('CHANNEL');
      const start = Date.now();
      r.big = ombrix.app.sendipcmsg('z'.repeat(1024 * 1024));
      r.ms = Date.now() - start;
      save(r, 'gave-up.json');
    }, function() { r.failed = 'control'; report(r); }, function() {
      r.after = ombrix.app.sendipcmsg('after');
      r.visible = ombrix.app.IsWindowVisible('visible');
      report(r);
    });
  )";
  StartPage(script.replace("CONTROL", control.c_str()).replace("CHANNEL", channel.c_str()));
  const QJsonObject first = shell_->WaitForResults(milliseconds(30000), "gave-up.json");
  ASSERT_FALSE(first.isEmpty()) << "the page is still blocked in sendipcmsg";
  EXPECT_EQ(first["client"].toInt(), 0);
  EXPECT_EQ(first["big"].toInt(), 205);
  EXPECT_LT(first["ms"].toInt(), 6000);

  // A reader is back on the same channel; the page's client reaches it.
  const pid_t back = listen("back", "--count 2");
  ASSERT_GT(back, 0);
  ASSERT_EQ(IpcSend(control, "go"), 0);
  const QJsonObject r = shell_->WaitForResults();
  EXPECT_FALSE(r.contains("failed"));
  EXPECT_EQ(r["after"].toInt(), 0);
  EXPECT_EQ(r["visible"].toInt(), 0);
  EXPECT_TRUE(WaitFor([&] { return ReadAll(dir.path() + "/back.out") == "after\nvisible\n"; },
                      milliseconds(10000)))
      << ReadAll(dir.path() + "/back.out").toStdString();
  EXPECT_EQ(shell_->Wait(), 0);
  if (!WaitFor([&] { return kill(back, 0) != 0; }, milliseconds(5000))) kill(back, SIGTERM);
}

// A program that opened the page's channel once (a till) keeps talking to it
// across a page reload, closeserver and createserver, and a restart of the
// shell: every message arrives.
TEST_F(AppPageTest, APeerThatOpenedTheChannelOnceReachesEveryLaterReader) {
  const std::string channel = Channel("peer");
  QByteArray script = R"(
    function listen() {
      ombrix.app.createserver('CHANNEL', function() { save({}, 'ready.json'); },
          function() { save({}, 'failed.json'); },
          function(text) {
            save({text: text}, 'got-' + text + '.json', function() {
              const action = text.split('-')[1];
              if (action === 'reload') location.reload();
              if (action === 'reopen') { ombrix.app.closeserver('CHANNEL'); listen(); }
              if (action === 'exit') ombrix.app.exitapp();
            });
          });
    }
    listen();
  )";
  StartPage(script.replace("CHANNEL", channel.c_str()));
  // Waits for the page's next reader, then takes its mark away for the one after.
  const QString ready = shell_->dir() + "/ready.json";
  const auto reader_up = [&] {
    const bool up = WaitFor([&] { return QFile::exists(ready); }, milliseconds(30000));
    QFile::remove(ready);
    return up;
  };
  const auto arrived = [&](const QString& text) {
    return shell_->WaitForResults(milliseconds(30000), "got-" + text + ".json")["text"]
               .toString() == text;
  };
  ASSERT_TRUE(reader_up());
  fastipc::Client peer;  // opened once
  ASSERT_EQ(peer.create(QString::fromStdString(channel).toStdWString(), 1024), 0);
  peer.setBlockTimeout(10000);

  EXPECT_EQ(peer.write("1-reload", 8), 0u);
  ASSERT_TRUE(arrived("1-reload"));
  ASSERT_TRUE(reader_up());  // the reloaded page's
  EXPECT_EQ(peer.write("2-reopen", 8), 0u);
  ASSERT_TRUE(arrived("2-reopen"));
  ASSERT_TRUE(reader_up());  // after closeserver and createserver
  EXPECT_EQ(peer.write("3-exit", 6), 0u);
  ASSERT_TRUE(arrived("3-exit"));
  ASSERT_EQ(shell_->Wait(), 0);

  shell_->Start();
  ASSERT_TRUE(reader_up());  // the restarted shell's
  EXPECT_EQ(peer.write("4-exit", 6), 0u);
  ASSERT_TRUE(arrived("4-exit"));
  EXPECT_EQ(shell_->Wait(), 0);
  EXPECT_FALSE(QFile::exists(shell_->dir() + "/failed.json"));
}

}  // namespace
}  // namespace e2e
