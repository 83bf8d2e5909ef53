// The process and tool families from a page of the real shell: programs run and
// waited for, file digests, the settings store and the clipboard.
#include <signal.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <cstdlib>

#include "fixture.h"

namespace e2e {
namespace {

class ToolPageTest : public ShellTest {
 protected:
  void StartPage(const QByteArray& script, const std::vector<std::string>& env = {}) {
    shell_->WriteFile("web/index.html", TestPage(script));
    shell_->WriteManifest(PageManifest("Tools"));
    shell_->StartProgram(shell_->dir() + "/ombrix", {}, QString(), env);
  }

  void WriteProgram(const QString& path, const QByteArray& script) {
    shell_->WriteFile(path, script);
    QFile::setPermissions(shell_->dir() + "/" + path, QFile::ReadOwner | QFile::ExeOwner);
  }

  QByteArray ReadFile(const QString& path) const {
    QFile file(shell_->dir() + "/" + path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  // The never-ending program's id once it has written it; 0 before.
  int EndlessPid() const {
    QFile file(shell_->dir() + "/endless.pid");
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
  }

  void TearDown() override {
    if (const int endless = EndlessPid(); endless > 0) kill(endless, SIGKILL);  // never left over
    ShellTest::TearDown();
  }
};

TEST_F(ToolPageTest, ProcessesCallBackWithExitCodesWhileANeverEndingOneWaits) {
  WriteProgram("launcher.sh", "#!/bin/sh\n(sleep 1; touch \"$1\") &\nexit 4\n");
  // execmd runs programs, by path and by name in PATH, in the app's folder.
  WriteProgram("marker.sh", "#!/bin/sh\npwd > by-path.txt\n");
  WriteProgram("bin/ombrix-test-marker", "#!/bin/sh\necho \"$#\" > by-name.txt\n");
  const QByteArray script = R"(
    const dir = ombrix.app.apppath(), r = {};
    function attempt(name, f) { try { r[name] = f(); } catch (e) { r[name] = 'threw ' + e.message; } }
    // Never ends: its callback waits, nothing else does.
    ombrix.process.runcmd('sh -c "echo $$ > endless.pid; exec sleep 600"', dir,
                          function() { r.endless = 'called'; });
    attempt('waitText', () => ombrix.process.runcmdwaitex('true', '500', function() {}));
    attempt('runNoCallback', () => ombrix.process.runcmd('true', ''));
    attempt('execNumber', () => ombrix.process.execmd(5));
    r.execs = [ombrix.process.execmd(dir + '/marker.sh'), ombrix.process.execmd('ombrix-test-marker'),
               ombrix.process.execmd('no-such-program-anywhere')];
    let left = 3;
    function done() { if (--left === 0) report(r); }
    r.id = ombrix.process.runcmd('sh -c "exit 3"', '', function(ok, code) { r.exit3 = [ok, code]; done(); });
    ombrix.process.runcmd('/nonexistent/program', '', function(ok, code) { r.missing = [ok, code]; done(); });
    ombrix.process.runcmdwaitex(dir + '/launcher.sh ' + dir + '/child-done', 200, function(ok, code) {
      r.launcher = [ok, code, ombrix.file.exist(dir + '/child-done')];
      done();
    });
  )";
  StartPage(script, {"PATH=" + (shell_->dir() + "/bin:").toStdString() + std::getenv("PATH")});
  const QJsonObject r = shell_->WaitForResults();
  EXPECT_GT(r["id"].toInt(), 0);
  EXPECT_EQ(r["execs"].toArray(), (QJsonArray{1, 1, 0}));
  EXPECT_TRUE(WaitFor([&] { return ReadFile("by-path.txt").endsWith('\n'); }, milliseconds(10000)));
  EXPECT_EQ(ReadFile("by-path.txt").trimmed(), QFileInfo(shell_->dir()).canonicalFilePath());
  EXPECT_TRUE(WaitFor([&] { return ReadFile("by-name.txt") == "0\n"; }, milliseconds(10000)));
  EXPECT_EQ(r["exit3"].toArray(), (QJsonArray{true, 3}));
  EXPECT_EQ(r["missing"].toArray(), (QJsonArray{false, 0}));
  EXPECT_EQ(r["launcher"].toArray(), (QJsonArray{true, 4, true}));
  EXPECT_EQ(r["waitText"].toString(),
            QString::fromUtf8("threw 错误的参数，参数列表：cmd,waittime,callback"));
  EXPECT_EQ(r["runNoCallback"].toString(),
            QString::fromUtf8("threw 错误的参数，参数列表：filepath,callback"));
  EXPECT_EQ(r["execNumber"].toString(), QString::fromUtf8("threw 错误的参数，参数列表：filepath"));
  EXPECT_FALSE(r.contains("endless"));
  EXPECT_EQ(shell_->Wait(), 0);
  EXPECT_TRUE(shell_->Output().find("CreateProcess failed (2).") != std::string::npos);

  int endless = 0;
  ASSERT_TRUE(WaitFor([&] { return (endless = EndlessPid()) > 0; }, milliseconds(10000)));
  EXPECT_EQ(kill(endless, SIGKILL), 0);  // left running by the shell's exit, as any program
  QFile::remove(shell_->dir() + "/endless.pid");
}

TEST_F(ToolPageTest, DigestsSettingsAndClipboard) {
  shell_->WriteFile("empty.bin", "");
  ASSERT_EQ(mkfifo((shell_->dir() + "/fifo").toUtf8().constData(), 0600), 0);
  const QByteArray script = R"(
    const dir = ombrix.app.apppath(), r = {}, key = 'HKEY_CURRENT_USER\\Software\\Omx\\E2e';
    function attempt(name, f) { try { r[name] = f(); } catch (e) { r[name] = 'threw ' + e.message; } }
    attempt('set2', () => ombrix.tool.setregval(key, 'a'));
    attempt('set4', () => ombrix.tool.setregval(key, 'a', 'b', 'c'));
    attempt('removeNumber', () => ombrix.tool.removeregval(key, 5));
    attempt('getNone', () => ombrix.tool.getregval());
    attempt('md5NoCallback', () => ombrix.tool.md5file(dir + '/empty.bin'));
    r.set = ombrix.tool.setregval(key, 'Name', '值 ✓ ключ');
    r.setSub = ombrix.tool.setregval(key, 'Sub/Default', 'inner');
    r.setBadRoot = ombrix.tool.setregval('HKEY_NOWHERE\\Software', 'a', 'b');
    r.get = ombrix.tool.getregval(key);
    r.removeAll = ombrix.tool.removeregval(key, '');
    r.getAfter = ombrix.tool.getregval(key);
    attempt('clipNumber', () => ombrix.tool.setclip(5));
    r.clip = ombrix.tool.setclip('<b>粗</b> text', '粗 text');
    ombrix.tool.md5file(dir + '/empty.bin', function(d) {
      r.empty = d;
      ombrix.tool.md5file(dir + '/missing.bin', function(d) {
        r.missing = d;
        // Neither blocks nor reads for ever: no regular file, no digest.
        ombrix.tool.md5file(dir + '/fifo', function(d) {
          r.fifo = d;
          ombrix.tool.md5file('/dev/zero', function(d) { r.zero = d; save(r); });
        });
      });
    });
  )";
  StartPage(script);
  const QJsonObject r = shell_->WaitForResults();
  const QString wrong = QString::fromUtf8("threw 错误的参数，参数列表：");
  EXPECT_EQ(r["set2"].toString(), wrong + "fullpath key value");
  EXPECT_EQ(r["set4"].toString(), wrong + "fullpath key value");
  EXPECT_EQ(r["removeNumber"].toString(), wrong + "fullpath key");
  EXPECT_EQ(r["getNone"].toString(), wrong + "reg key");
  EXPECT_EQ(r["md5NoCallback"].toString(), wrong + "filepath,callback");
  EXPECT_TRUE(r["set"].toBool());
  EXPECT_TRUE(r["setSub"].toBool());
  EXPECT_FALSE(r["setBadRoot"].toBool(true));
  EXPECT_EQ(r["get"].toString(),
            QString::fromUtf8("{\"Name\":\"值 ✓ ключ\",\"Sub/Default\":\"inner\"}"));
  EXPECT_TRUE(r["removeAll"].toBool());
  EXPECT_EQ(r["getAfter"].toString(), "{}");
  EXPECT_FALSE(r.contains("clipNumber"));  // undefined, nothing thrown
  EXPECT_TRUE(r["clip"].toBool());
  EXPECT_EQ(r["empty"].toString(), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(r["missing"].toString(), "");
  EXPECT_EQ(r["fifo"].toString(), "");
  EXPECT_EQ(r["zero"].toString(), "");

  // The shell holds the clipboard (the page saved its results without exiting):
  // both forms, as another program would paste them.
  std::string html;
  EXPECT_TRUE(WaitFor(
      [&] {
        html = x_->X("xclip -o -selection clipboard -t 'HTML Format' 2>/dev/null");
        return !html.empty();
      },
      milliseconds(10000)));
  EXPECT_NE(html.find("StartHTML:00000097\r\n"), std::string::npos) << html;
  EXPECT_NE(html.find("<!--StartFragment -->\r\n<b>\xe7\xb2\x97</b> text\r\n<!--EndFragment-->"),
            std::string::npos)
      << html;
  EXPECT_EQ(x_->X("xclip -o -selection clipboard -t text/html"), "<b>\xe7\xb2\x97</b> text");
  EXPECT_EQ(x_->X("xclip -o -selection clipboard"), "\xe7\xb2\x97 text");
}

}  // namespace
}  // namespace e2e
