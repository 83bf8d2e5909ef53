// A locked-down counter stays the app's: the window manager cannot close it, a
// right click shows nothing, the tools do not open, the page cannot be taken
// to another site or zoomed; only the technician's chord and PIN end it.
#include <QFile>
#include <QJsonArray>
#include <algorithm>

#include "fixture.h"

namespace e2e {
namespace {

using LockdownTest = ShellTest;

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

size_t VisibleShellWindows(const XServer& x) {
  const std::string shown = x.X("xdotool search --onlyvisible --class ombrix");
  return size_t(std::count(shown.begin(), shown.end(), '\n'));
}

TEST_F(LockdownTest, WindowPageAndAddressesStayTheApps) {
  shell_->WriteFile("web/index.html", TestPage(R"(
    const keys = [];
    document.addEventListener('keydown', function(e) {
      keys.push((e.ctrlKey ? 'ctrl+' : '') + (e.shiftKey ? 'shift+' : '') + e.key.toLowerCase());
      if (e.key.toLowerCase() !== 'i') return;
      // Three ways to the open web, each refused; the page stays.
      const link = document.createElement('a');
      link.href = 'https://example.invalid/link';
      document.body.appendChild(link);
      link.click();
      setTimeout(function() { location.href = 'https://example.invalid/location'; }, 100);
      setTimeout(function() { window.open('https://example.invalid/popup'); }, 200);
      const wait = setInterval(function() {
        if (!ombrix.file.exist(ombrix.app.apppath() + '/go')) return;
        clearInterval(wait);
        sessionStorage.setItem('keys', JSON.stringify(keys));
        location.href = 'second.html';  // inside the list: it goes
      }, 50);
    });
  )"));
  shell_->WriteFile("web/second.html", TestPage(R"(
    report({keys: JSON.parse(sessionStorage.getItem('keys')), scale: visualViewport.scale,
            ratio: devicePixelRatio, tools: typeof ombrix});
  )"));
  QJsonObject manifest = PageManifest("Locked", {{"launch_width", 600}, {"launch_height", 400}});
  manifest["kiosk"] = QJsonObject{{"lockdown", true}};
  shell_->WriteManifest(manifest);
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Locked");
  ASSERT_NE(window, 0u);
  const std::string id = std::to_string(window);
  // The window manager's close, by key and by request.
  x_->X("xdotool windowactivate --sync " + id + " key alt+F4");
  x_->X("wmctrl -i -c " + id);
  ASSERT_TRUE(WaitFor([&] { return Count(shell_->Output(), "refused to close") >= 2; },
                      milliseconds(10000)));
  EXPECT_TRUE(shell_->Running());
  // A right click: no menu window appears.
  x_->X("xdotool windowactivate --sync " + id + " mousemove --window " + id + " 200 200 click 3");
  EXPECT_FALSE(WaitFor([&] { return VisibleShellWindows(*x_) >= 2; }, milliseconds(2000)));
  // The tools' shortcut is the page's key, and starts its three tries.
  x_->X("xdotool key ctrl+plus ctrl+shift+i");
  x_->X("xdotool keydown ctrl click 4 click 4 keyup ctrl");
  ASSERT_TRUE(
      WaitFor([&] { return Count(shell_->Output(), "refused ") >= 5; }, milliseconds(15000)))
      << shell_->Output();
  EXPECT_EQ(Count(shell_->Output(), "refused navigation to \"https://example.invalid\""), 2u);
  EXPECT_EQ(Count(shell_->Output(), "refused a pop-up to \"https://example.invalid\""), 1u);
  EXPECT_EQ(VisibleShellWindows(*x_), 1u);
  shell_->WriteFile("go", "");
  const QJsonObject r = shell_->WaitForResults();
  EXPECT_TRUE(r["keys"].toArray().contains("ctrl+shift+i")) << r["keys"].toArray().size();
  EXPECT_TRUE(r["keys"].toArray().contains("ctrl+shift++"));  // ctrl+plus reached the page too
  EXPECT_EQ(r["scale"].toDouble(), 1.0);
  EXPECT_EQ(r["ratio"].toDouble(), 1.0);
  EXPECT_TRUE(x_->X("xdotool search --name '^DevTools$'").empty());
  EXPECT_EQ(shell_->Wait(), 0);
}

TEST_F(LockdownTest, TechniciansChordEndsAHungPageOnlyWithTheRightPin) {
  // The page hangs when told to, once its window shows (a page that hangs
  // while it loads never shows one).
  shell_->WriteFile("web/index.html", TestPage(R"(
    const dir = ombrix.app.apppath();
    const poll = setInterval(function() {
      if (!ombrix.file.exist(dir + '/hang')) return;
      clearInterval(poll);
      save({}, 'hung.json', function() { while (true) {} });
    }, 50);
  )"));
  QJsonObject manifest = PageManifest("Hung", {{"launch_width", 600}, {"launch_height", 400}});
  manifest["kiosk"] = QJsonObject{{"lockdown", true},
                                  {"hang_seconds", 0},
                                  {"exit_keys", "ctrl+alt+shift+e"},
                                  {"exit_pin", "4711"}};
  shell_->WriteManifest(manifest);
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Hung");
  ASSERT_NE(window, 0u);
  shell_->WriteFile("hang", "");
  ASSERT_TRUE(
      WaitFor([&] { return QFile::exists(shell_->dir() + "/hung.json"); }, milliseconds(20000)));
  const auto prompt = [&] { return x_->X("xdotool search --onlyvisible --name '^Exit PIN$'"); };
  // The prompt has the keyboard, as a person would click into it.
  const auto type = [&](const std::string& pin) {
    const std::string id = prompt();
    x_->X("xdotool windowactivate --sync " + id.substr(0, id.find('\n')) + " type --delay 20 " +
          pin);
    x_->X("xdotool key Return");
  };
  x_->X("xdotool windowactivate --sync " + std::to_string(window) + " key ctrl+alt+shift+e");
  ASSERT_TRUE(WaitFor([&] { return !prompt().empty(); }, milliseconds(10000)));
  for (int i = 0; i < 3; ++i) type("1234");
  ASSERT_TRUE(WaitFor([&] { return prompt().empty(); }, milliseconds(10000)))  // three wrong PINs
      << shell_->Output();
  EXPECT_EQ(Count(shell_->Output(), "wrong exit PIN"), 3u);
  EXPECT_TRUE(shell_->Running());
  x_->X("xdotool windowactivate --sync " + std::to_string(window) + " key ctrl+alt+shift+e");
  ASSERT_TRUE(WaitFor([&] { return !prompt().empty(); }, milliseconds(10000)));
  type("4711");
  EXPECT_EQ(shell_->Wait(), 0);
}

}  // namespace
}  // namespace e2e
