// Pages and the ombrix object: the tree, its functions, callbacks across
// navigation and frames, the file family, window requests and state events.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QJsonArray>
#include <QUrl>
#include <fstream>

#include "fixture.h"

namespace e2e {
namespace {

class BridgeTest : public ShellTest {
 protected:
  QJsonObject RunPage(const QByteArray& script, const QByteArray& head = "",
                      QJsonObject window = {}) {
    shell_->WriteFile("web/index.html", TestPage(script, head));
    shell_->WriteManifest(PageManifest("Bridge", window));
    shell_->Start();
    return shell_->WaitForResults();
  }

  QByteArray ReadBytes(const QString& relative) const {
    QFile file(shell_->dir() + "/" + relative);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
  }

  // Opens a FIFO for reading and drains it, which lets a blocked writer finish.
  void Drain(const QString& relative) const {
    std::ifstream fifo((shell_->dir() + "/" + relative).toStdString());
    std::string content((std::istreambuf_iterator<char>(fifo)), std::istreambuf_iterator<char>());
  }

  void MakeFifo(const QString& relative) const {
    ASSERT_EQ(mkfifo((shell_->dir() + "/" + relative).toLocal8Bit().constData(), 0600), 0);
  }
};

TEST_F(BridgeTest, TreeIsThereBeforeTheFirstScriptAndItsFunctionsStay) {
  const QByteArray head =
      "<script>window.early = typeof ombrix + ':' + "
      "typeof (window.ombrix && ombrix.file && ombrix.file.exist);</script>";
  const QJsonObject r = RunPage(R"(
    const r = {early: window.early, keys: Object.keys(ombrix).join(',')};
    r.counts = Object.keys(ombrix).map(k => Object.keys(ombrix[k]).length).join(',');
    delete ombrix.app.runapp;
    ombrix.app.runapp = 5;
    r.runapp = typeof ombrix.app.runapp;
    const d = Object.getOwnPropertyDescriptor(ombrix.file, 'write');
    r.writable = d.writable; r.configurable = d.configurable;
    ombrix.app.extra = 1;
    r.extra = ombrix.app.extra;
    r.query = typeof cefQuery + ',' + typeof cefQueryCancel;
    r.name = ombrix.app.getappname();
    r.path = ombrix.app.apppath();
    r.param = ombrix.app.runparam();
    cefQuery({request: 'nobody takes this', onSuccess: function() { r.q = 'success'; report(r); },
              onFailure: function(code, text) { r.q = code + ' ' + text; report(r); }});
  )",
                                head);
  EXPECT_EQ(r["early"].toString(), "object:function");
  EXPECT_EQ(r["keys"].toString(), "app,process,gui,tool,requestfile,fpj,file");
  EXPECT_EQ(r["counts"].toString(), "14,3,5,7,2,15,5");
  EXPECT_EQ(r["runapp"].toString(), "function");
  EXPECT_FALSE(r["writable"].toBool());
  EXPECT_FALSE(r["configurable"].toBool());
  EXPECT_EQ(r["extra"].toInt(), 1);
  EXPECT_EQ(r["query"].toString(), "function,function");
  EXPECT_EQ(r["q"].toString(), "-1 The query has been canceled");
  EXPECT_EQ(r["name"].toString(), "ombrix");
  EXPECT_EQ(r["path"].toString(), shell_->dir());
  EXPECT_EQ(r["param"].toString(), "");
  EXPECT_EQ(shell_->Wait(), 0);
}

TEST_F(BridgeTest, RunParamIsTheWholeCommandLine) {
  shell_->WriteFile("web/index.html", TestPage("report({param: ombrix.app.runparam()});"));
  shell_->WriteManifest(PageManifest("Param"), "app.json");
  shell_->Start({"app.json", "one", "二"});
  EXPECT_EQ(shell_->WaitForResults()["param"].toString(), "app.json one 二");
}

TEST_F(BridgeTest, PageThatOwnsOmbrixKeepsIt) {
  const QByteArray head = "<script>var ombrix = {mine: true};</script>";
  shell_->WriteFile("web/index.html", "<html><head>" + head +
                                          "</head><body>"
                                          "<iframe src=\"frame.html\"></iframe></body></html>");
  // The child frame reports, since the page's own `ombrix` has no functions.
  shell_->WriteFile("web/frame.html", TestPage("report({parent: JSON.stringify(parent.ombrix)});"));
  shell_->WriteManifest(PageManifest("Owned"));
  shell_->Start();
  EXPECT_EQ(shell_->WaitForResults()["parent"].toString(), "{\"mine\":true}");
}

TEST_F(BridgeTest, WrongArgumentsThrowTheFamilyText) {
  const QJsonObject r = RunPage(R"(
    function attempt(f) { try { return 'returned ' + String(f()); } catch (e) { return e.message; } }
    const noop = function() {};
    report({
      copy: attempt(() => ombrix.file.copy('a', 5, noop)),
      del: attempt(() => ombrix.file.delete('a')),
      write: attempt(() => ombrix.file.write()),
      existNumber: attempt(() => ombrix.file.exist(5)),
      resize: attempt(() => ombrix.gui.resizeTo()),
      tray: attempt(() => ombrix.app.showtray(1)),
    });
  )");
  const QString text = QStringLiteral("错误的参数，参数列表：filepath,callback");
  EXPECT_EQ(r["copy"].toString(), text);
  EXPECT_EQ(r["del"].toString(), text);
  EXPECT_EQ(r["write"].toString(), text);
  EXPECT_EQ(r["existNumber"].toString(), "returned undefined");
  EXPECT_EQ(r["resize"].toString(), "returned undefined");
  EXPECT_EQ(r["tray"].toString(), "returned false");
}

TEST_F(BridgeTest, FileFamilyCopiesWritesDeletesAndTests) {
  shell_->WriteFile("src.txt", "new content");
  shell_->WriteFile("existing.txt", "old content");
  shell_->WriteFile("keep.txt", "keep me");
  const QJsonObject r = RunPage(R"(
    const dir = ombrix.app.apppath();
    const r = {ids: []};
    let pending = 9;
    function done(key) { return function(ok) { r[key] = ok; if (--pending === 0) report(r); }; }
    r.ids.push(ombrix.file.copy(dir + '/src.txt', dir + '/existing.txt', done('replace')));
    r.ids.push(ombrix.file.copy(dir + '/src.txt', dir + '/new/deeper/copy.txt', done('intoNew')));
    r.ids.push(ombrix.file.copy(dir + '/missing.txt', dir + '/keep.txt', done('missingSource')));
    r.ids.push(ombrix.file.write(dir + '/ab.txt', 'a\nb', done('write')));
    r.ids.push(ombrix.file.write(dir + '/no/such/folder/x.txt', 'x', done('writeNoFolder')));
    r.ids.push(ombrix.file.delete(dir + '/nothing-here.txt', done('deleteMissing')));
    r.ids.push(ombrix.file.write(dir + '/名字 ü.txt', '文字 😀', done('unicode')));
    // A NUL ends the path for the kernel: such a path names no file at all.
    r.ids.push(ombrix.file.write(dir + '/nul.txt\u0000junk', 'x', done('writeNul')));
    r.ids.push(ombrix.file.copy(dir + '/src.txt\u0000junk', dir + '/nulcopy.txt', done('copyNul')));
    r.existNul = ombrix.file.exist('/etc/passwd\u0000junk');
    r.existFolder = ombrix.file.exist(dir);
    r.existMissing = ombrix.file.exist(dir + '/missing.txt');
  )");
  EXPECT_TRUE(r["replace"].toBool());
  EXPECT_TRUE(r["intoNew"].toBool());
  EXPECT_FALSE(r["missingSource"].toBool());
  EXPECT_TRUE(r["write"].toBool());
  EXPECT_FALSE(r["writeNoFolder"].toBool());
  EXPECT_FALSE(r["deleteMissing"].toBool());
  EXPECT_TRUE(r["unicode"].toBool());
  EXPECT_TRUE(r["existFolder"].toBool());
  EXPECT_FALSE(r["existMissing"].toBool());
  EXPECT_FALSE(r["writeNul"].toBool());
  EXPECT_FALSE(r["copyNul"].toBool());
  EXPECT_FALSE(r["existNul"].toBool());
  EXPECT_FALSE(QFile::exists(shell_->dir() + "/nul.txt"));
  EXPECT_FALSE(QFile::exists(shell_->dir() + "/nulcopy.txt"));
  const QJsonArray ids = r["ids"].toArray();
  ASSERT_EQ(ids.size(), 9);
  for (int i = 1; i < ids.size(); ++i) EXPECT_EQ(ids[i].toInt(), ids[i - 1].toInt() + 1);
  EXPECT_EQ(ReadBytes("existing.txt"), "new content");
  EXPECT_EQ(ReadBytes("new/deeper/copy.txt"), "new content");
  EXPECT_EQ(ReadBytes("keep.txt"), "keep me");  // a failed copy leaves the target alone
  EXPECT_EQ(ReadBytes("ab.txt"), "a\r\nb\r\n");
  EXPECT_EQ(ReadBytes("名字 ü.txt"), "文字 😀\r\n");
}

// A file manager on the session bus that takes every ShowItems call, notes its
// URIs in shown.log and never answers, as a slow one would; it writes fm-ready
// once it owns its name and ends with the bus.
constexpr char kSlowFileManager[] = R"(
import os, sys
import gi
gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib
address, folder = sys.argv[1], sys.argv[2]
XML = """<node><interface name="org.freedesktop.FileManager1">
<method name="ShowItems"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
</interface></node>"""
loop = GLib.MainLoop()
held = []
def call(conn, sender, path, interface, method, params, invocation):
    with open(os.path.join(folder, "shown.log"), "a") as log:
        log.write("".join(uri + "\n" for uri in params.unpack()[0]))
    held.append(invocation)
conn = Gio.DBusConnection.new_for_address_sync(address,
    Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
    Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
conn.connect("closed", lambda *args: loop.quit())
node = Gio.DBusNodeInfo.new_for_xml(XML)
conn.register_object("/org/freedesktop/FileManager1", node.interfaces[0], call, None, None)
Gio.bus_own_name_on_connection(conn, "org.freedesktop.FileManager1", Gio.BusNameOwnerFlags.NONE,
    lambda *args: open(os.path.join(folder, "fm-ready"), "w").close(), lambda *args: loop.quit())
loop.run()
)";

// The session bus a running process was given.
std::string BusAddressOf(pid_t pid) {
  std::ifstream env_file("/proc/" + std::to_string(pid) + "/environ");
  const std::string key = "DBUS_SESSION_BUS_ADDRESS=";
  for (std::string entry; std::getline(env_file, entry, '\0');) {
    if (entry.rfind(key, 0) == 0) return entry.substr(key.size());
  }
  return std::string();
}

// Revealing a file never holds the page: the request goes to the bus and the
// call returns true at once, with no file manager on the bus and with one that
// takes its time, which gets the file's URI.
TEST_F(BridgeTest, OpenDirAndPosFileHandsTheRequestOverAtOnce) {
  shell_->WriteFile("shown file ü.txt", "x");
  shell_->WriteFile("fm.py", kSlowFileManager);
  shell_->WriteFile("web/index.html", TestPage(R"(
    const dir = ombrix.app.apppath();
    function timed(path) {
      const start = performance.now();
      const ok = ombrix.file.OpenDirAndPosFile(path);
      return [ok, performance.now() - start];
    }
    const r = {};
    r.alone = timed(dir + '/shown file ü.txt');
    r.empty = ombrix.file.OpenDirAndPosFile('');
    r.nul = ombrix.file.OpenDirAndPosFile(dir + '/shown file ü.txt\u0000junk');
    save(r, 'alone.json', function() {
      const watch = setInterval(function() {
        if (!ombrix.file.exist(dir + '/fm-ready')) return;
        clearInterval(watch);
        r.slow = timed(dir + '/shown file ü.txt');
        report(r);
      }, 50);
    });
  )"));
  shell_->WriteManifest(PageManifest("Bridge"));
  shell_->Start();
  ASSERT_FALSE(shell_->WaitForResults(milliseconds(30000), "alone.json").isEmpty());

  const std::string address = BusAddressOf(shell_->pid());
  ASSERT_FALSE(address.empty());
  const std::string script = (shell_->dir() + "/fm.py").toStdString();
  const std::string folder = shell_->dir().toStdString();
  const pid_t manager = fork();
  if (manager == 0) {
    execl("/usr/bin/python3", "python3", script.c_str(), address.c_str(), folder.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(manager, 0);
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  } reaper{manager};

  const QJsonObject r = shell_->WaitForResults();
  const QJsonArray alone = r["alone"].toArray();
  EXPECT_TRUE(alone[0].toBool());
  EXPECT_LT(alone[1].toDouble(), 1000);
  EXPECT_FALSE(r["empty"].toBool());
  EXPECT_FALSE(r["nul"].toBool());
  const QJsonArray slow = r["slow"].toArray();
  EXPECT_TRUE(slow[0].toBool());
  EXPECT_LT(slow[1].toDouble(), 1000);  // the file manager has not answered yet
  const QByteArray uri = QUrl::fromLocalFile(shell_->dir() + "/shown file ü.txt").toEncoded();
  EXPECT_TRUE(WaitFor([&] { return ReadBytes("shown.log") == uri + "\n"; }, milliseconds(10000)))
      << ReadBytes("shown.log").toStdString() << " instead of " << uri.toStdString();
  EXPECT_EQ(shell_->Wait(), 0);
}

TEST_F(BridgeTest, ErrorThrownInACallbackReachesWindowOnerror) {
  // The page sees the error like any uncaught one, and later callbacks still run.
  const QJsonObject r = RunPage(R"(
    const r = {onerror: [], events: []};
    function check() { if (r.onerror.length && r.later) report(r); }
    window.addEventListener('error', function(e) { r.events.push(String(e.error.message)); });
    window.onerror = function(message) { r.onerror.push(String(message)); check(); };
    const dir = ombrix.app.apppath();
    ombrix.file.write(dir + '/one.txt', '1', function() { throw new Error('thrown in a callback'); });
    ombrix.file.write(dir + '/two.txt', '2', function() { r.later = true; check(); });
  )");
  ASSERT_EQ(r["onerror"].toArray().size(), 1);
  EXPECT_TRUE(r["onerror"][0].toString().contains("thrown in a callback"))
      << r["onerror"][0].toString().toStdString();
  EXPECT_EQ(r["events"][0].toString(), "thrown in a callback");
  EXPECT_TRUE(r["later"].toBool());
}

TEST_F(BridgeTest, LogShowsAtMost64CharactersOfAFileAndNothingWithDebugLogOff) {
  // report() writes results.json, whose text the shell's debug line shows in part.
  shell_->WriteFile("web/index.html", TestPage("report({text: 'a'.repeat(100) + 'TAIL'});"));
  shell_->WriteManifest(PageManifest("Loud"));
  shell_->Start();
  ASSERT_EQ(shell_->Wait(), 0);
  const std::string loud = shell_->Output();
  EXPECT_NE(loud.find("write"), std::string::npos) << loud;
  EXPECT_NE(loud.find(std::string(40, 'a')), std::string::npos) << loud;
  EXPECT_EQ(loud.find(std::string(60, 'a')), std::string::npos) << loud;
  EXPECT_NE(loud.find("AppTitle"), std::string::npos) << loud;  // the page side's line

  QFile::remove(shell_->dir() + "/results.json");
  QJsonObject manifest = PageManifest("Quiet");
  manifest["disable_debug_log"] = true;
  shell_->WriteManifest(manifest);
  shell_->Start();
  ASSERT_EQ(shell_->Wait(), 0);
  EXPECT_FALSE(shell_->WaitForResults().isEmpty());  // the page did write its file
  const std::string quiet = shell_->Output().substr(loud.size());
  EXPECT_EQ(quiet.find("aaaa"), std::string::npos) << quiet;
  EXPECT_EQ(quiet.find("AppTitle"), std::string::npos) << quiet;
  // Lines logged before the manifest was read are dropped too.
  EXPECT_EQ(quiet.find("\"ombrix.json\""), std::string::npos) << quiet;
  EXPECT_EQ(quiet.find("APP \""), std::string::npos) << quiet;
}

TEST_F(BridgeTest, ResultAfterNavigationCallsNothing) {
  MakeFifo("slow1");
  MakeFifo("slow2");
  shell_->WriteFile("web/second.html", TestPage(R"(
    const dir = ombrix.app.apppath();
    save({second: true}, 'second.json');
    // Finishes after the first page's write, which the test releases first.
    ombrix.file.write(dir + '/slow2', 'x', function() {
      report({late: ombrix.file.exist(dir + '/late.json'), second: true});
    });
  )"));
  const QByteArray first = R"(
    const dir = ombrix.app.apppath();
    ombrix.file.write(dir + '/slow1', 'x', function() { save({late: true}, 'late.json'); });
    location.href = 'second.html';
  )";
  shell_->WriteFile("web/index.html", TestPage(first));
  shell_->WriteManifest(PageManifest("Navigate"));
  shell_->Start();
  ASSERT_FALSE(shell_->WaitForResults(milliseconds(30000), "second.json").isEmpty());
  Drain("slow1");
  // The first page's result has reached the page side and found nobody waiting.
  ASSERT_TRUE(
      WaitFor([&] { return shell_->Output().find("no page waits for call") != std::string::npos; },
              milliseconds(30000)));
  Drain("slow2");
  const QJsonObject r = shell_->WaitForResults();
  EXPECT_TRUE(r["second"].toBool());
  EXPECT_FALSE(r["late"].toBool());
}

TEST_F(BridgeTest, FramesHaveTheirOwnTreeAndKeepTheirOwnCallbacks) {
  MakeFifo("slow");
  shell_->WriteFile("web/frame.html", TestPage("parent.frameTree = ombrix; parent.frameReady();"));
  shell_->WriteFile("web/index.html", TestPage(R"(
    const dir = ombrix.app.apppath();
    const r = {};
    window.frameReady = function() {
      r.ownTree = window.frameTree !== ombrix && typeof frameTree.file.exist === 'function';
      ombrix.file.write(dir + '/slow', 'x', function(ok) { r.mainCallback = ok; report(r); });
      document.getElementById('f').remove();  // the frame's context goes away
      setTimeout(function() { save({removed: true}, 'removed.json'); }, 100);
    };
    const frame = document.createElement('iframe');
    frame.id = 'f';
    frame.src = 'frame.html';
    document.body.appendChild(frame);
  )"));
  shell_->WriteManifest(PageManifest("Frames"));
  shell_->Start();
  ASSERT_FALSE(shell_->WaitForResults(milliseconds(30000), "removed.json").isEmpty());
  Drain("slow");
  const QJsonObject r = shell_->WaitForResults();
  EXPECT_TRUE(r["ownTree"].toBool());
  EXPECT_TRUE(r["mainCallback"].toBool());
}

TEST_F(BridgeTest, ResizeToKeepsTheCornerAndTakesTheSize) {
  // The page asks once its window is shown (earlier, the launch placement wins).
  shell_->WriteFile("web/index.html", TestPage(R"(
    window.addEventListener('windowstate', function(e) {
      if (e.detail.state !== 'windowstate.show') return;
      ombrix.gui.resizeTo(800, 600);
      ombrix.gui.setInTitleBar([{left: 0, top: 0, width: 800, height: 30}]);
    });
  )"));
  shell_->WriteManifest(PageManifest(
      "Resize",
      {{"launch_x", 10}, {"launch_y", 20}, {"launch_width", 400}, {"launch_height", 300}}));
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Resize");
  ASSERT_NE(window, 0u);
  EXPECT_TRUE(WaitFor(
      [&] {
        const Geometry g = shell_->GetGeometry(window);
        return g.width == 800 && g.height == 600;
      },
      milliseconds(10000)));
  EXPECT_EQ(shell_->GetGeometry(window).x, 10);  // resizing keeps the top-left corner
  EXPECT_NE(shell_->Output().find("width :800 height :600"), std::string::npos);
}

TEST_F(BridgeTest, HugeResizeIsHeldToTheMonitorAndThePageLives) {
  shell_->WriteFile("web/index.html", TestPage(R"(
    window.addEventListener('windowstate', function(e) {
      if (e.detail.state !== 'windowstate.show') return;
      window.addEventListener('resize', function() {
        if (innerWidth === 1280) report({width: innerWidth, height: innerHeight});
      });
      ombrix.gui.resizeTo(40000, 40000);
    });
  )"));
  shell_->WriteManifest(
      PageManifest("Huge resize", {{"launch_width", 400}, {"launch_height", 300}}));
  shell_->Start();
  const QJsonObject r = shell_->WaitForResults();
  EXPECT_EQ(r["width"].toInt(), 1280);  // the test display is 1280 x 1024
  EXPECT_EQ(r["height"].toInt(), 1024);
  EXPECT_EQ(shell_->Wait(), 0);
}

TEST_F(BridgeTest, MoveCenterCentresTheWindow) {
  shell_->WriteFile("web/index.html", TestPage(R"(
    window.addEventListener('windowstate', function(e) {
      if (e.detail.state === 'windowstate.show') ombrix.gui.movecenter();
    });
  )"));
  shell_->WriteManifest(PageManifest(
      "Centre",
      {{"launch_x", 10}, {"launch_y", 20}, {"launch_width", 600}, {"launch_height", 400}}));
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Centre");
  ASSERT_NE(window, 0u);
  EXPECT_TRUE(WaitFor(
      [&] {
        const Geometry g = shell_->GetGeometry(window);
        return g.x == 340 && g.y == 312;  // (1280 - 600) / 2, (1024 - 400) / 2
      },
      milliseconds(10000)))
      << shell_->GetGeometry(window).x << "," << shell_->GetGeometry(window).y;
}

TEST_F(BridgeTest, WindowStateEventsCarryTheState) {
  shell_->WriteFile("web/index.html", TestPage(R"(
    const states = [];
    window.addEventListener('windowstate', function(e) {
      states.push(e.detail.state);
      const restored = states.indexOf('windowstate.min') >= 0 &&
                       e.detail.state === 'windowstate.normal';
      if (restored) report({states: states, e: typeof window.e});
      if (e.detail.state === 'windowstate.min') throw new Error('a listener that throws');
    });
  )"));
  shell_->WriteManifest(PageManifest("States", {{"launch_width", 400}, {"launch_height", 300}}));
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("States");
  ASSERT_NE(window, 0u);
  const std::string id = std::to_string(window);
  x_->X("xdotool windowminimize --sync " + id);
  // The shell reads the state when it handles the window manager's note of it:
  // a restore before then would leave no minimise to see.
  ASSERT_TRUE(WaitFor([&] { return shell_->Output().find("\nmin") != std::string::npos; },
                      milliseconds(10000)));
  x_->X("xdotool windowactivate --sync " + id);
  const QJsonObject r = shell_->WaitForResults(milliseconds(20000));
  const QJsonArray states = r["states"].toArray();
  QStringList seen;
  for (const auto& state : states) seen << state.toString();
  EXPECT_TRUE(seen.contains("windowstate.show")) << seen.join(",").toStdString();
  EXPECT_TRUE(seen.contains("windowstate.min")) << seen.join(",").toStdString();
  EXPECT_EQ(r["e"].toString(), "undefined");  // the event touches no global of the page's
}

}  // namespace
}  // namespace e2e
