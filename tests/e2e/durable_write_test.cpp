// Writes survive the shell being killed at any moment: a page writes two
// contents in turn as fast as it can, to a file and to the settings store, the
// shell and its web process are killed at random moments, and the file and the
// store always hold one of the two whole.
#include <signal.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <random>
#include <thread>

#include "fixture.h"

namespace e2e {
namespace {

class DurableWriteTest : public ShellTest {};

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

TEST_F(DurableWriteTest, KilledWhileWritingLeavesTheOldOrTheNewContentWhole) {
  QTemporaryDir keep;
  const QString target = keep.filePath("state.txt");
  const QByteArray first = QByteArray(300000, 'a') + "\r\n";
  const QByteArray second = QByteArray(300000, 'b') + "\r\n";
  {
    QFile old(target);  // a kill before the page's first write finds this
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write(first) == first.size());
  }
  std::mt19937 random(20261208);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    shell_ = std::make_unique<Shell>(*x_);
    shell_->WriteFile("web/index.html", TestPage(R"(
      const target = ')" + target.toUtf8() + R"(';
      const contents = ['a'.repeat(300000), 'b'.repeat(300000)];
      let n = 0;
      function store() {
        ombrix.tool.setregval('HKEY_CURRENT_USER\\Durable', 'Value', contents[n % 2].slice(0, 20000));
      }
      function next() { store(); ombrix.file.write(target, contents[n++ % 2], next); }
      store();
      save({}, 'started.json', next);
    )"));
    shell_->WriteManifest(PageManifest("Durable"));
    shell_->Start();
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(shell_->dir() + "/started.json"); },
                        milliseconds(30000)));
    // The kill falls at a random moment of the writing: that is the point.
    std::this_thread::sleep_for(milliseconds(20 + random() % 400));
    e2e::Run("pkill -9 -P " + std::to_string(shell_->pid()));
    kill(shell_->pid(), SIGKILL);
    shell_->Wait();
    const QByteArray now = ReadAll(target);
    EXPECT_TRUE(now == first || now == second) << now.size() << " bytes";
    QSettings settings(shell_->dir() + "/.xdg/config/ombrix/HKEY_CURRENT_USER.conf",
                       QSettings::IniFormat);
    const QString stored = settings.value("Durable/Value").toString();
    EXPECT_EQ(settings.status(), QSettings::NoError);
    EXPECT_TRUE(stored == QString(20000, 'a') || stored == QString(20000, 'b')) << stored.size();
  }
}

// A kiosk saving its state after every sale: each write, copy and delete of a
// file lands in the order the page asked for it, from the page and its frame,
// however long the earlier one takes.
TEST_F(DurableWriteTest, OperationsOnOneFileLandInTheOrderTheyWereAskedFor) {
  shell_->WriteFile("web/frame.html", R"(<script>
    parent.frameWrite = (p, text, done) => ombrix.file.write(p, text, done);
  </script>)");
  shell_->WriteFile("web/index.html", TestPage(R"(
    const dir = ombrix.app.apppath(), p = dir + '/sale.txt', r = {rounds: 0};
    const big = 'x'.repeat(2 << 20);
    let left = 0;
    const done = () => { if (--left === 0) check(); };
    function round(i) {
      left = 5;
      ombrix.file.write(p, big + ' sale ' + i + ' A', done);
      ombrix.file.copy(p, dir + '/copy.txt', done);
      ombrix.file.delete(dir + '/copy.txt', done);
      frameWrite(p, 'sale ' + i + ' B', done);
      ombrix.file.write(dir + '/copy.txt', 'after ' + i, done);
    }
    function check() {
      if (++r.rounds < 6) return round(r.rounds);
      report(r);
    }
    window.onload = () => round(0);
  )",
                                               "") +
                                          "<iframe src=\"frame.html\"></iframe>");
  shell_->WriteManifest(PageManifest("Order"));
  shell_->Start();
  const QJsonObject r = shell_->WaitForResults(milliseconds(60000));
  EXPECT_EQ(r["rounds"].toInt(), 6);
  EXPECT_EQ(ReadAll(shell_->dir() + "/sale.txt"), "sale 5 B\r\n");
  EXPECT_EQ(ReadAll(shell_->dir() + "/copy.txt"), "after 5\r\n");
}

}  // namespace
}  // namespace e2e
