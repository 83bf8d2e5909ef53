// The shell on Wayland kiosk compositors: weston's kiosk shell and cage, both
// headless. The page calls a function of every family, the window fills the
// output, what Wayland leaves to the compositor (placing windows) has no effect
// and says so, and "keep_screen_on" holds an idle inhibitor where the
// compositor offers one (cage; weston 10 has none).
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>

#include "fixture.h"

namespace e2e {
namespace {

// One call of each family; the results go to results.json once every
// callback has answered, and the shell ends.
const QByteArray kFamilies = R"(
  const r = {events: []};
  addEventListener('windowstate', e => r.events.push(e.detail.state.replace('windowstate.', '')));
  const dir = ombrix.app.apppath();
  // The report waits for the window to fill the output too (10 s at most):
  // the compositor's configure may come after the callbacks.
  let pending = 6;
  function done() { if (--pending === 0) { r.size = [innerWidth, innerHeight]; report(r); } }
  function filled() { return innerWidth === screen.width && innerHeight === screen.height; }
  const started = Date.now();
  const fill = setInterval(() => {
    if (filled() || Date.now() - started > 10000) { clearInterval(fill); done(); }
  }, 50);
  r.name = ombrix.app.getappname();
  ombrix.gui.movecenter();
  r.reg = ombrix.tool.setregval('HKEY_CURRENT_USER\\Software\\Wl', 'a', 'b');
  r.exist = ombrix.file.exist(dir + '/ombrix.json');
  r.fpj = ombrix.fpj.getappversion();
  r.port = ombrix.fpj.open(dir + '/no-such-port');
  window.cefQuery({request: 'WindowTest.Position:10,20,300,300',
                   onSuccess: () => { r.position = 'ok'; done(); },
                   onFailure: (code, text) => { r.position = text; done(); }});
  ombrix.tool.md5file(dir + '/ombrix.json', md5 => { r.md5 = md5.length; done(); });
  ombrix.process.runcmd('sh -c "exit 3"', dir, (ok, code) => { r.run = [ok, code]; done(); });
  ombrix.file.copy(dir + '/ombrix.json', dir + '/copy.json', ok => { r.copy = ok; done(); });
  ombrix.requestfile.download(URL, dir + '/got.txt', () => { r.download = 'complete'; done(); },
      () => { r.download = 'error'; done(); }, () => { r.download = 'abort'; done(); }, () => {});
)";

class WaylandTest : public ShellTest {
 protected:
  // The app's folder with the page and a manifest asking for a 600 x 400
  // window at (100, 100) and the screen kept on; the compositor's socket
  // folder inside it.
  void WriteApp() {
    shell_->WriteFile(
        "web/index.html",
        TestPage(QByteArray(kFamilies).replace(
            "URL", "'http://127.0.0.1:" + QByteArray::number(server_.port()) + "/price.txt'")));
    QJsonObject manifest = PageManifest(
        "Wayland",
        {{"launch_x", 100}, {"launch_y", 100}, {"launch_width", 600}, {"launch_height", 400}});
    manifest.insert("kiosk", QJsonObject{{"keep_screen_on", true}});
    shell_->WriteManifest(manifest);
    runtime_ = (shell_->dir() + "/runtime").toStdString();
    mkdir(runtime_.c_str(), 0700);
  }

  // Checks what the page reported and what the shell said about it.
  // state: what the page hears of the compositor's state for its window.
  void ExpectFamiliesAnswered(int width, int height, const char* state) {
    const QJsonObject r = shell_->WaitForResults(milliseconds(60000));
    ASSERT_FALSE(r.isEmpty()) << shell_->Output();
    EXPECT_EQ(r["name"].toString(), "ombrix");
    EXPECT_TRUE(r["reg"].toBool());
    EXPECT_TRUE(r["exist"].toBool());
    EXPECT_EQ(r["fpj"].toString(), "1.0");
    EXPECT_EQ(r["port"].toInt(), -100);
    EXPECT_EQ(r["position"].toString(), "ok");  // answered as on X11
    EXPECT_EQ(r["md5"].toInt(), 32);
    EXPECT_EQ(r["run"].toArray(), (QJsonArray{true, 3}));
    EXPECT_TRUE(r["copy"].toBool());
    EXPECT_EQ(r["download"].toString(), "complete");
    // The window fills the output, whatever the manifest asked.
    EXPECT_EQ(r["size"].toArray().at(0).toInt(), width);
    EXPECT_EQ(r["size"].toArray().at(1).toInt(), height);
    const QJsonArray events = r["events"].toArray();
    EXPECT_EQ(events.first().toString(), "show");
    EXPECT_TRUE(events.contains(QString::fromLatin1(state))) << state;
    EXPECT_EQ(shell_->Wait(), 0);  // exitapp
    const std::string output = shell_->Output();
    for (const char* call : {"movecenter", "WindowTest.Position", "launch_x and launch_y"}) {
      EXPECT_NE(
          output.find(std::string("on Wayland the compositor places windows; no effect: ") + call),
          std::string::npos)
          << call;
    }
  }

  PageServer server_{{{"/price.txt", QByteArray("coffee 2.40\n")}}};
  std::string runtime_;
};

TEST_F(WaylandTest, WestonKioskShellRunsEveryFamilyFullScreen) {
  WriteApp();
  Background weston({"weston", "--backend=headless-backend.so", "--shell=kiosk-shell.so",
                     "--socket=ombrix-wl", "--width=1280", "--height=800", "--idle-time=0"},
                    {"XDG_RUNTIME_DIR=" + runtime_}, runtime_ + "/../weston.log");
  ASSERT_TRUE(WaitFor([&] { return access((runtime_ + "/ombrix-wl").c_str(), F_OK) == 0; },
                      milliseconds(20000)));
  shell_->StartProgram(
      shell_->dir() + "/ombrix", {}, QString(),
      {"GDK_BACKEND=wayland", "WAYLAND_DISPLAY=ombrix-wl", "XDG_RUNTIME_DIR=" + runtime_});
  ExpectFamiliesAnswered(1280, 800, "normal");  // its full screen
  // weston 10 has no idle inhibit; a later one may.
  const std::string output = shell_->Output();
  EXPECT_TRUE(
      output.find("keep_screen_on: the compositor offers no idle inhibit") != std::string::npos ||
      output.find("keep_screen_on: the compositor's idle is inhibited") != std::string::npos);
}

TEST_F(WaylandTest, CageRunsEveryFamilyAndHoldsOffIdle) {
#ifdef OMBRIX_TEST_PRELOAD
  GTEST_SKIP() << "cage runs the shell as nobody, who may not read the sanitizers' suppression "
                  "files; the weston test runs the sanitizer build on Wayland";
#endif
  WriteApp();
  // cage refuses to run as root: it, the session bus and the shell run as
  // nobody, who then owns the app's folder. The page side's IPC library comes
  // along: nobody may not read the build tree where the library looks for it.
  QDir().mkpath(shell_->dir() + "/lib");
  ASSERT_TRUE(QFile::copy(QStringLiteral(OMBRIX_TEST_BIN_DIR "/libfastipc.so.0"),
                          shell_->dir() + "/lib/libfastipc.so.0"));
  const std::string dir = shell_->dir().toStdString();
  ASSERT_EQ(e2e::Run("chown -R 65534:65534 '" + dir + "' && chmod 0755 '" + dir + "' && echo ok"),
            "ok\n");
  shell_->StartProgram(
      "setpriv",
      {"--reuid=65534", "--regid=65534", "--clear-groups", "env", "HOME=" + shell_->dir(),
       "dbus-run-session", "--", "cage", "--", "env", "GDK_BACKEND=wayland", "WAYLAND_DEBUG=client",
       "LD_LIBRARY_PATH=" + shell_->dir() + "/lib", shell_->dir() + "/ombrix"},
      QString(),
      {"XDG_RUNTIME_DIR=" + runtime_, "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1",
       "WLR_RENDERER=pixman"});
  ExpectFamiliesAnswered(1280, 720, "max");
  const std::string output = shell_->Output();
  EXPECT_NE(output.find(".create_inhibitor("), std::string::npos);
  EXPECT_NE(output.find("keep_screen_on: the compositor's idle is inhibited"), std::string::npos);
}

}  // namespace
}  // namespace e2e
