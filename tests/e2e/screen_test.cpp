// The screen of a counter machine: kept on while the shell runs, given back
// after it, and its pointer hidden after a pause in the pointer's motion.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fixture.h"

namespace e2e {
namespace {

// What the X server tells of the screen saver and the pointer, waited for in
// one run: "saver-stays-off S" (off unless it comes on within S seconds),
// "saver-on S", "blank S" and "shown S" (the pointer's image, within S seconds).
const char kXState[] = R"(
import sys, time
from Xlib import display
d = display.Display()
root = d.screen().root
d.xfixes_query_version()

def saver_on():
    return root.screensaver_query_info().state == 1

def blank():
    return not any(pixel >> 24 for pixel in d.xfixes_get_cursor_image(root).cursor_image)

what, end = sys.argv[1], time.monotonic() + float(sys.argv[2])
if what == 'saver-stays-off':
    while time.monotonic() < end and not saver_on():
        time.sleep(0.05)
    print('on' if saver_on() else 'off')
elif what == 'saver-on':
    while time.monotonic() < end and not saver_on():
        time.sleep(0.05)
    print('on' if saver_on() else 'off')
else:
    while time.monotonic() < end and blank() != (what == 'blank'):
        time.sleep(0.05)
    print('blank' if blank() else 'shown')
)";

// A desktop's screen saver on the session bus, as python-dbusmock plays it;
// each call goes to its log.
const char kStandIn[] = R"(
BUS_NAME = 'org.freedesktop.ScreenSaver'
MAIN_OBJ = '/org/freedesktop/ScreenSaver'
MAIN_IFACE = 'org.freedesktop.ScreenSaver'
SYSTEM_BUS = False

def load(mock, parameters):
    mock.AddMethods(MAIN_IFACE, [('Inhibit', 'ss', 'u', 'ret = 7'), ('UnInhibit', 'u', '', '')])
)";

// The page ends the shell once the test writes "go" (no input needed).
const char kPage[] = R"(
  let clicks = 0;
  document.addEventListener('mousedown', function() {
    clicks++;
    document.body.style.cursor = 'text';  // the engine sets the new cursor itself
  });
  const wait = setInterval(function() {
    if (!ombrix.file.exist(ombrix.app.apppath() + '/go')) return;
    clearInterval(wait);
    report({clicks: clicks});
  }, 50);
)";

// A program of the test's own, in a process group of its own, ended with it.
class Helper {
 public:
  Helper(const std::vector<std::string>& argv, const std::string& env, const std::string& log) {
    pid_ = fork();
    if (pid_ != 0) return;
    setpgid(0, 0);
    if (!freopen(log.c_str(), "a", stdout) || !freopen(log.c_str(), "a", stderr)) _exit(127);
    putenv(strdup(env.c_str()));
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  ~Helper() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

// "NAME=value" from the environment the shell was started with.
std::string EnvironmentOf(pid_t pid, const std::string& name) {
  QFile file(QStringLiteral("/proc/%1/environ").arg(pid));
  if (!file.open(QIODevice::ReadOnly)) return std::string();
  for (const QByteArray& entry : file.readAll().split('\0'))
    if (entry.startsWith(QByteArray::fromStdString(name + "="))) return entry.toStdString();
  return std::string();
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class ScreenTest : public ShellTest {
 protected:
  void WriteApp(const QJsonObject& kiosk, const QString& title) {
    shell_->WriteFile("xstate.py", kXState);
    shell_->WriteFile("web/index.html", TestPage(kPage));
    QJsonObject manifest = PageManifest(title, {{"launch_state", "maximized"}});
    manifest["kiosk"] = kiosk;
    shell_->WriteManifest(manifest);
  }

  std::string XState(const std::string& what, double seconds) const {
    std::string answer = x_->X("/usr/bin/python3 " + shell_->dir().toStdString() + "/xstate.py " +
                               what + " " + std::to_string(seconds));
    while (!answer.empty() && answer.back() == '\n') answer.pop_back();
    return answer;
  }

  std::string ReadFile(const QString& name) const {
    QFile file(shell_->dir() + "/" + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
  }
};

TEST_F(ScreenTest, KeepScreenOnHoldsOffTheScreenSaverAndInhibitsTheSessionsUntilItEnds) {
  WriteApp({{"keep_screen_on", true}}, "Kept");
  shell_->WriteFile("standin.py", kStandIn);
  const std::string settings = x_->X("xset q");
  shell_->Start();
  ASSERT_NE(shell_->WaitForWindow("Kept"), 0u);
  // A desktop's screen saver that comes after the shell is inhibited too.
  const std::string bus = EnvironmentOf(shell_->pid(), "DBUS_SESSION_BUS_ADDRESS");
  ASSERT_FALSE(bus.empty());
  const std::string log = (shell_->dir() + "/standin.log").toStdString();
  Helper stand_in({"/usr/bin/python3", "-m", "dbusmock", "--template",
                   (shell_->dir() + "/standin.py").toStdString(), "-l", log},
                  bus, (shell_->dir() + "/standin.out").toStdString());
  ASSERT_TRUE(WaitFor([&] { return ReadFile("standin.log").find("Inhibit ") != std::string::npos; },
                      milliseconds(20000)))
      << ReadFile("standin.out");
  EXPECT_NE(ReadFile("standin.log").find("Inhibit \"Kept\""), std::string::npos);
  // The X server's settings stay the user's (Xvfb has no DPMS to show).
  EXPECT_EQ(x_->X("xset q"), settings);
  // Without input the saver would come on after a second; it stays off.
  x_->X("xset s 1 1");
  EXPECT_EQ(XState("saver-stays-off", 3), "off");

  // A service manager's stop: all of it is given back, and the shell still
  // ends by the signal.
  kill(shell_->pid(), SIGTERM);
  EXPECT_EQ(shell_->Wait(), 128 + SIGTERM);
  const std::string calls = ReadFile("standin.log");
  EXPECT_EQ(Count(calls, " Inhibit "), 1u) << calls;
  EXPECT_EQ(Count(calls, "UnInhibit 7"), 1u) << calls;
  EXPECT_EQ(XState("saver-on", 10), "on");  // its timer runs again
}

TEST_F(ScreenTest, HideCursorSecondsHidesThePointerUntilItMoves) {
  WriteApp({{"hide_cursor_seconds", 2}}, "Pointer");
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Pointer");
  ASSERT_NE(window, 0u);
  const Geometry g = shell_->GetGeometry(window);
  const int x = g.x + g.width / 2;
  const int y = g.y + g.height / 2;
  // A motion over the window shows the pointer; after 2 s without one it is blank.
  const auto moved = Clock::now();
  x_->X("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
  EXPECT_EQ(XState("shown", 5), "shown");
  EXPECT_EQ(XState("blank", 10), "blank");
  EXPECT_GE(Clock::now() - moved, milliseconds(1500));
  // A click still reaches the page, and the cursor the page sets meanwhile stays hidden.
  x_->X("xdotool click 1");
  EXPECT_EQ(XState("shown", 1.5), "blank");
  // The next motion shows it again, and the next pause hides it again.
  x_->X("xdotool mousemove " + std::to_string(x + 40) + " " + std::to_string(y + 30));
  EXPECT_EQ(XState("shown", 5), "shown");
  EXPECT_EQ(XState("blank", 10), "blank");

  shell_->WriteFile("go", "");
  EXPECT_EQ(shell_->WaitForResults()["clicks"].toInt(), 1);
  EXPECT_EQ(shell_->Wait(), 0);
}

}  // namespace
}  // namespace e2e
