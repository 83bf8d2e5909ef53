// The borderless window as a user handles it: dragged by the page's caption
// regions, resized by its edges, maximised to the work area, its state changes
// told to the page, and put away in the tray (a system tray's icon or a
// StatusNotifierItem).
#include <signal.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "fixture.h"

namespace e2e {
namespace {

// A page with a 40-pixel caption bar: two caption regions with a button
// between them that is not caption, and buttons on the page below. Every
// window-state event, button and mouse press lands in events.json, one write
// at a time so a slow write never replaces a newer one.
const QByteArray kFramePage = R"(<!DOCTYPE html><html><head><meta charset="utf-8"><style>
  body { margin: 0; }
  button { position: absolute; width: 80px; height: 30px; }
  #bar { position: fixed; left: 0; top: 0; right: 0; height: 40px; background: #246; }
</style></head><body>
<div id="bar"><button id="max" style="left: 200px; top: 5px">max</button></div>
<button id="resize" style="left: 20px; top: 100px">resize</button>
<button id="unlock" style="left: 120px; top: 100px">unlock</button>
<script>
const log = {events: [], downs: [], ups: []};
let writing = false, dirty = false;
function flush() {
  if (writing) { dirty = true; return; }
  writing = true;
  dirty = false;
  ombrix.file.write(ombrix.app.apppath() + '/events.json', JSON.stringify(log), function() {
    writing = false;
    if (dirty) flush();
  });
}
function note(what) { log.events.push(what); flush(); }
window.addEventListener('windowstate', e => note(e.detail.state.replace('windowstate.', '')));
document.addEventListener('mousedown', e => { log.downs.push([e.clientX, e.clientY]); flush(); });
document.addEventListener('mouseup', e => { log.ups.push([e.clientX, e.clientY]); flush(); });
let big = false;
document.getElementById('resize').onclick = () => {
  note('resizeTo');
  big = !big;
  ombrix.gui.resizeTo(big ? 520 : 560, big ? 360 : 380);
};
document.getElementById('max').onclick = () => { note('maxwin'); ombrix.gui.maxwin(); };
document.getElementById('unlock').onclick = () => { note('unlock'); ombrix.gui.disableResize(false); };
ombrix.gui.setInTitleBar([{left: 0, top: 0, width: 190, height: 40},
                          {left: 290, top: 0, width: 4000, height: 40}]);
SCRIPT
</script></body></html>)";

class FrameTest : public ShellTest {
 protected:
  // Starts the frame page in a 600 x 400 window at (100, 100).
  void StartFrame(const QByteArray& script = "", QJsonObject window = {}) {
    shell_->WriteFile("web/index.html", QByteArray(kFramePage).replace("SCRIPT", script));
    window.insert("launch_x", 100);
    window.insert("launch_y", 100);
    window.insert("launch_width", 600);
    window.insert("launch_height", 400);
    shell_->WriteManifest(PageManifest("Frame", window));
    shell_->Start();
    window_ = shell_->WaitForWindow("Frame");
    ASSERT_NE(window_, 0u);
    ASSERT_TRUE(At(100, 100, 600, 400));
    ASSERT_TRUE(WaitEvents([](const QJsonObject& log) { return Count(log, "show") == 1; }));
  }

  QJsonObject Events() const {
    QFile file(shell_->dir() + "/events.json");
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(file.readAll()).object();
  }

  bool WaitEvents(const std::function<bool(const QJsonObject&)>& condition) const {
    return WaitFor([&] { return condition(Events()); }, milliseconds(20000));
  }

  static int Count(const QJsonObject& log, const QString& what) {
    int n = 0;
    for (const auto& event : log["events"].toArray()) n += event.toString() == what;
    return n;
  }

  static bool Has(const QJsonObject& log, const char* list, int x, int y) {
    return log[list].toArray().contains(QJsonArray{x, y});
  }

  // The events from the first `from` on, joined with spaces. A repeated report
  // counts once: a maximise or restore may arrive as a state change and a size
  // change, each reported with the state after it.
  QString EventsFrom(const QString& from) const {
    QStringList events;
    for (const auto& event : Events()["events"].toArray()) {
      if (events.isEmpty() || events.last() != event.toString()) events << event.toString();
    }
    const int start = events.indexOf(from);
    return start < 0 ? QString() : events.mid(start).join(' ');
  }

  // Waits until the events from `from` on are `expected`.
  ::testing::AssertionResult EventsBecome(const QString& from, const QString& expected) const {
    if (WaitFor([&] { return EventsFrom(from) == expected; }, milliseconds(10000))) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "events: " << EventsFrom(from).toStdString();
  }

  Geometry Where() const { return shell_->GetGeometry(window_); }

  bool At(int x, int y, int width, int height) const {
    return WaitFor(
        [&] {
          const Geometry g = Where();
          return g.x == x && g.y == y && g.width == width && g.height == height;
        },
        milliseconds(10000));
  }

  bool Maximized() const {
    return shell_->Property(window_, "_NET_WM_STATE").find("MAXIMIZED") != std::string::npos;
  }

  void Mouse(const std::string& actions) const { x_->X("xdotool " + actions); }

  static std::string Point(int x, int y) { return std::to_string(x) + " " + std::to_string(y); }

  // Presses the left button at (x, y) on the screen and moves by (dx, dy), as a
  // person keeps moving until the window follows; then releases.
  bool Drag(int x, int y, int dx, int dy, const std::function<bool()>& followed) const {
    Mouse("mousemove " + Point(x, y) + " mousedown 1");
    const bool ok = WaitFor(
        [&] {
          Mouse("mousemove " + Point(x + dx + 1, y + dy + 1) + " mousemove " +
                Point(x + dx, y + dy));
          return followed();
        },
        milliseconds(10000));
    Mouse("mouseup 1");
    return ok;
  }

  // Presses at (x, y), moves by (dx, dy) and releases, all seen by the page
  // (page pixels px, py for the press).
  bool PageDrag(int x, int y, int dx, int dy, int px, int py) const {
    Mouse("mousemove " + Point(x, y) + " mousedown 1");
    if (!WaitEvents([&](const QJsonObject& log) { return Has(log, "downs", px, py); })) {
      return false;
    }
    Mouse("mousemove " + Point(x + dx / 2, y + dy / 2) + " mousemove " + Point(x + dx, y + dy) +
          " mouseup 1");
    return WaitEvents([&](const QJsonObject& log) { return Has(log, "ups", px + dx, py + dy); });
  }

  void Click(int x, int y, int repeat = 1) const {
    Mouse("mousemove " + Point(x, y) + " click --repeat " + std::to_string(repeat) +
          " --delay 80 1");
  }

  unsigned long window_ = 0;
};

TEST_F(FrameTest, CaptionRegionsDragTheWindowByThePointersTravel) {
  StartFrame();
  // A press in a caption region moves the window by exactly the drag.
  EXPECT_TRUE(Drag(150, 120, 70, 45, [&] { return Where().x == 170 && Where().y == 145; }));
  EXPECT_TRUE(At(170, 145, 600, 400));
  // Elsewhere the page gets the press, the move and the release; the window stays.
  EXPECT_TRUE(PageDrag(470, 345, 60, 30, 300, 200));
  // The button between the regions is the page's too.
  Click(170 + 240, 145 + 20);
  EXPECT_TRUE(WaitEvents([](const QJsonObject& log) { return Count(log, "maxwin") == 1; }));
  EXPECT_TRUE(WaitFor([&] { return Maximized(); }, milliseconds(10000)));
}

TEST_F(FrameTest, RightEdgeBandWidensByTheDragDistance) {
  StartFrame();
  EXPECT_TRUE(Drag(698, 300, 100, 0, [&] { return Where().width == 700; }));
  EXPECT_TRUE(At(100, 100, 700, 400));
  // A user's resize in the normal state reports the normal state.
  EXPECT_TRUE(WaitEvents([](const QJsonObject& log) { return Count(log, "normal") >= 2; }));
  EXPECT_EQ(Events()["downs"].toArray().size(), 0);  // the band is not the page
}

TEST_F(FrameTest, LockedWindowKeepsItsSizeUntilUnlocked) {
  StartFrame("", {{"disable_resize", true}});
  // The band is plain page: the page gets the press, the window keeps its width.
  EXPECT_TRUE(PageDrag(698, 300, 100, 0, 598, 200));
  EXPECT_TRUE(At(100, 100, 600, 400));
  // A double-click on the caption does not maximise (the drag after it waits
  // for the double-click to have been handled).
  Click(150, 120, 2);
  EXPECT_TRUE(Drag(150, 120, 20, 10, [&] { return Where().x == 120; }));
  EXPECT_TRUE(At(120, 110, 600, 400));
  EXPECT_FALSE(Maximized());
  // Nor does the window manager: its maximise is taken back.
  const int reports = Events()["events"].toArray().size();
  x_->X("wmctrl -i -r " + std::to_string(window_) + " -b add,maximized_vert,maximized_horz");
  EXPECT_TRUE(
      WaitEvents([&](const QJsonObject& log) { return log["events"].toArray().size() > reports; }));
  EXPECT_TRUE(At(120, 110, 600, 400));
  EXPECT_TRUE(WaitFor([&] { return !Maximized(); }, milliseconds(10000)));
  // disableResize(false) gives the band back.
  Click(120 + 160, 110 + 115);
  EXPECT_TRUE(WaitEvents([](const QJsonObject& log) { return Count(log, "unlock") == 1; }));
  EXPECT_TRUE(Drag(718, 300, 50, 0, [&] { return Where().width == 650; }));
}

TEST_F(FrameTest, EachChangeIsReportedWithTheStateAfterIt) {
  StartFrame();
  const std::string id = std::to_string(window_);
  Click(100 + 60, 100 + 115);  // resizeTo(520, 360)
  EXPECT_TRUE(At(100, 100, 520, 360));
  EXPECT_TRUE(EventsBecome("resizeTo", "resizeTo normal"));
  x_->X("xdotool windowminimize --sync " + id);
  EXPECT_TRUE(EventsBecome("resizeTo", "resizeTo normal min"));
  x_->X("xdotool windowactivate --sync " + id);
  EXPECT_TRUE(EventsBecome("resizeTo", "resizeTo normal min normal"));
  Click(100 + 60, 100 + 115);  // resizeTo(560, 380)
  EXPECT_TRUE(At(100, 100, 560, 380));
  // Minimising is no hide, restoring no show.
  EXPECT_TRUE(EventsBecome("resizeTo", "resizeTo normal min normal resizeTo normal"));
  EXPECT_EQ(Count(Events(), "show"), 1);
  EXPECT_EQ(Count(Events(), "hide"), 0);
}

TEST_F(FrameTest, HiddenLaunchWhoseFirstPageFailsStaysAtTheFallback) {
  QJsonObject manifest = PageManifest(
      "Hidden", {{"launch_state", "hidden"}, {"launch_width", 1000}, {"launch_height", 700}});
  manifest["first_page"] = "file:///nonexistent/page.html";
  shell_->WriteManifest(manifest);
  shell_->Start();
  // The engine's error page finishes last; no placement may follow the failure's.
  ASSERT_TRUE(WaitFor(
      [&] {
        return shell_->Output().find("load finished \"file:///nonexistent/page.html\"") !=
               std::string::npos;
      },
      milliseconds(30000)));
  const std::string output = shell_->Output();
  const size_t last = output.rfind("launch placement");
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(output.substr(last, output.find('\n', last) - last),
            "launch placement 400 300 600 500");
  EXPECT_EQ(shell_->FindWindow("Hidden", true), 0u);
}

// A desktop whose panel hosts StatusNotifierItems (KDE Plasma, GNOME's
// AppIndicator extension), as python-dbusmock plays its watcher; each call
// goes to its log.
const char kWatcher[] = R"(
import dbus
BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False

def load(mock, parameters):
    mock.AddMethods(MAIN_IFACE, [('RegisterStatusNotifierItem', 's', '', ''),
                                 ('RegisterStatusNotifierHost', 's', '', '')])
    mock.AddProperties(MAIN_IFACE, {'IsStatusNotifierHostRegistered': True,
                                    'ProtocolVersion': dbus.Int32(0)})
)";

class TrayTest : public FrameTest {
 protected:
  // Starts a watcher on the shell's bus; its calls go to the returned log's path.
  std::unique_ptr<Background> StartWatcher(const std::string& log) const {
    shell_->WriteFile("watcher.py", kWatcher);
    return std::make_unique<Background>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template",
                                 (shell_->dir() + "/watcher.py").toStdString(), "-l", log},
        std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + shell_->bus_address()},
        log + ".out");
  }

  // The name the shell registered with the watcher, once it has.
  std::string WaitForItem(const std::string& log) const {
    const std::string call = "RegisterStatusNotifierItem \"";
    std::string name;
    WaitFor(
        [&] {
          QFile file(QString::fromStdString(log));
          if (!file.open(QIODevice::ReadOnly)) return false;
          const std::string calls = file.readAll().toStdString();
          const size_t at = calls.find(call);
          if (at == std::string::npos) return false;
          const size_t start = at + call.size();
          name = calls.substr(start, calls.find('"', start) - start);
          return true;
        },
        milliseconds(20000));
    return name;
  }

  // A call to the shell's bus as gdbus prints its answer.
  std::string Call(const std::string& name, const std::string& path, const std::string& method,
                   const std::string& args) const {
    return e2e::Run("gdbus call --address '" + shell_->bus_address() + "' --dest " + name +
                    " --object-path " + path + " --method " + method + " -- " + args + " 2>&1");
  }

  std::string Property(const std::string& name, const std::string& property) const {
    return Call(name, "/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get",
                "org.kde.StatusNotifierItem " + property);
  }
};

TEST_F(TrayTest, StatusNotifierItemFollowsTheWatcherAndItsMenuQuits) {
  for (const char* icon : {"icon.png", "icon-alert.png"}) {
    QFile::copy(QStringLiteral(OMBRIX_TEST_SOURCE_DIR "/demo/web/") + icon,
                shell_->dir() + "/" + icon);
  }
  // Hidden, the page changes the icon's image.
  StartFrame(R"(
    ombrix.app.showtray(ombrix.app.apppath() + '/icon.png', '演示', 'Frame tip');
    addEventListener('windowstate', e => {
      if (e.detail.state === 'windowstate.hide')
        ombrix.app.modifytrayicon(ombrix.app.apppath() + '/icon-alert.png');
    });
  )");
  // A watcher that comes after the icon is shown lists it.
  const std::string log = (shell_->dir() + "/watcher.log").toStdString();
  auto watcher = StartWatcher(log);
  const std::string item = WaitForItem(log);
  ASSERT_NE(item.find("org.kde.StatusNotifierItem-"), std::string::npos) << item;
  const std::string pixmap = Property(item, "IconPixmap");
  EXPECT_EQ(pixmap.find("(<[(32, 32, [byte 0x"), 0u) << pixmap.substr(0, 80);
  size_t bytes = 0;
  for (size_t at = pixmap.find("0x"); at != std::string::npos; at = pixmap.find("0x", at + 1)) {
    ++bytes;
  }
  EXPECT_EQ(bytes, 32u * 32u * 4u);
  EXPECT_NE(Property(item, "Title").find("'Frame'"), std::string::npos);
  EXPECT_NE(Property(item, "ToolTip").find("'Frame tip'"), std::string::npos);
  EXPECT_NE(Property(item, "Menu").find("'/MenuBar'"), std::string::npos);
  const std::string layout = Call(item, "/MenuBar", "com.canonical.dbusmenu.GetLayout", "0 -1 []");
  const size_t open = layout.find("'打开演示'");
  const size_t quit = layout.find("'退 出'");
  ASSERT_NE(quit, std::string::npos) << layout;
  EXPECT_LT(open, quit) << layout;
  const size_t quit_item = layout.rfind("<(", quit);
  ASSERT_NE(quit_item, std::string::npos) << layout;
  const std::string quit_id = std::to_string(std::atoi(layout.c_str() + quit_item + 2));

  // Closing the window hides it while a panel shows the item; a click on the
  // item (Activate) brings it back.
  ASSERT_TRUE(
      WaitFor([&] { return shell_->Output().find("tray: a panel shows") != std::string::npos; },
              milliseconds(10000)));
  x_->X("wmctrl -i -c " + std::to_string(window_));
  EXPECT_TRUE(WaitEvents([](const QJsonObject& log) { return Count(log, "hide") == 1; }));
  EXPECT_TRUE(shell_->Running());
  EXPECT_TRUE(WaitFor(
      [&] {
        const std::string changed = Property(item, "IconPixmap");
        return changed != pixmap && changed.find("(<[(32, 32, [byte 0x") == 0;
      },
      milliseconds(10000)));
  Call(item, "/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate", "0 0");
  EXPECT_NE(shell_->WaitForWindow("Frame", milliseconds(10000)), 0u);
  EXPECT_TRUE(WaitEvents([](const QJsonObject& log) { return Count(log, "show") == 2; }));

  // A watcher that goes (a panel restarting) while the window is closed into
  // the icon: nothing could bring the window back, so it comes back itself.
  x_->X("wmctrl -i -c " + std::to_string(window_));
  EXPECT_TRUE(WaitEvents([](const QJsonObject& log) { return Count(log, "hide") == 2; }));
  watcher.reset();
  EXPECT_TRUE(WaitEvents([](const QJsonObject& log) { return Count(log, "show") == 3; }));
  // The watcher that comes back lists the item again.
  const std::string log2 = log + "2";
  watcher = StartWatcher(log2);
  const std::string again = WaitForItem(log2);
  ASSERT_NE(again.find("org.kde.StatusNotifierItem-"), std::string::npos);
  // The menu's "退 出" ends the program with 0.
  Call(again, "/MenuBar", "com.canonical.dbusmenu.Event", quit_id + " clicked '<0>' 0");
  EXPECT_EQ(shell_->Wait(), 0);
  EXPECT_NE(shell_->Output().find("SysTray::~SysTray()\r\n"), std::string::npos);
}

TEST_F(TrayTest, WithNoPanelToShowTheIconClosingEndsTheApp) {
  StartFrame(R"(
    ombrix.app.showtray(ombrix.app.apppath() + '/missing.png', '演示', 'Frame');
  )");
  // The page has shown the icon; no watcher and no system tray is there.
  ASSERT_TRUE(WaitFor(
      [&] { return shell_->Output().find("tray: no StatusNotifierWatcher") != std::string::npos; },
      milliseconds(10000)));
  x_->X("wmctrl -i -c " + std::to_string(window_));
  EXPECT_EQ(shell_->Wait(), 0);
  EXPECT_NE(shell_->Output().find("the tray icon has no panel to show it"), std::string::npos)
      << shell_->Output();
}

// With a tint2 panel: a tray and a work area smaller than the screen.
class PanelTest : public FrameTest {
 protected:
  bool WithPanel() const override { return true; }

  unsigned long ActiveWindow() const {
    return std::strtoul(x_->X("xdotool getactivewindow").c_str(), nullptr, 10);
  }

  // Visible windows of the shell other than the main window.
  std::vector<unsigned long> Others() const {
    std::istringstream ids(x_->X("xdotool search --onlyvisible --class ombrix"));
    std::vector<unsigned long> others;
    for (unsigned long id; ids >> id;) {
      if (id != window_) others.push_back(id);
    }
    return others;
  }
};

TEST_F(PanelTest, DoubleClickOnCaptionAndMaxwinFillTheWorkArea) {
  StartFrame();
  const std::vector<int> area = x_->WorkArea();
  ASSERT_LT(area[3], 1024);  // the panel keeps its strip
  Click(150, 120, 2);
  EXPECT_TRUE(At(area[0], area[1], area[2], area[3]));
  EXPECT_TRUE(WaitEvents([](const QJsonObject& log) { return Count(log, "max") >= 1; }));
  Click(area[0] + 150, area[1] + 20, 2);
  EXPECT_TRUE(At(100, 100, 600, 400));
  // The page's own maximise button toggles the same way.
  Click(100 + 240, 100 + 20);
  EXPECT_TRUE(At(area[0], area[1], area[2], area[3]));
  Click(area[0] + 240, area[1] + 20);
  EXPECT_TRUE(At(100, 100, 600, 400));
  EXPECT_TRUE(EventsBecome("max", "max normal maxwin max maxwin normal"));
}

TEST_F(PanelTest, TrayIconKeepsTheClosedWindowAndItsMenuQuits) {
  QFile::copy(QStringLiteral(OMBRIX_TEST_SOURCE_DIR "/demo/web/icon.png"),
              shell_->dir() + "/icon.png");
  StartFrame(R"(
    ombrix.app.showtray(ombrix.app.apppath() + '/icon.png', '演示', 'Frame');
  )");
  unsigned long icon = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto others = Others();
        icon = others.empty() ? 0 : others.front();
        return icon != 0;
      },
      milliseconds(10000)));
  const std::string icon_id = std::to_string(icon);
  // Closing the window (through the window manager) only hides it.
  x_->X("wmctrl -i -c " + std::to_string(window_));
  EXPECT_TRUE(WaitEvents([](const QJsonObject& log) { return Count(log, "hide") == 1; }));
  EXPECT_EQ(shell_->FindWindow("Frame", true), 0u);
  EXPECT_TRUE(shell_->Running());
  // A double-click on the icon brings it back.
  Mouse("mousemove --window " + icon_id + " 8 8 click --repeat 2 --delay 80 1");
  EXPECT_NE(shell_->WaitForWindow("Frame", milliseconds(10000)), 0u);
  EXPECT_TRUE(WaitEvents([](const QJsonObject& log) { return Count(log, "show") == 2; }));
  // Another program's window takes the foreground; the icon's menu brings the
  // main window back to it before it opens.
  const int other =
      std::atoi(x_->X("xmessage -geometry 300x100+0+0 another >/dev/null 2>&1 & echo $!").c_str());
  ASSERT_GT(other, 0);
  const std::shared_ptr<void> end_other(nullptr, [other](void*) { kill(other, SIGKILL); });
  ASSERT_TRUE(WaitFor([&] { return ActiveWindow() != window_ && ActiveWindow() != 0; },
                      milliseconds(10000)));
  // The icon's menu: "打开演示", then "退 出", which closes the window as its
  // close request does and so ends the program with 0.
  Mouse("mousemove --window " + icon_id + " 8 8 click 3");
  unsigned long menu = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        for (unsigned long id : Others()) menu = id != icon ? id : menu;
        return menu != 0;
      },
      milliseconds(10000)));
  EXPECT_TRUE(WaitFor([&] { return ActiveWindow() == window_; }, milliseconds(10000)));
  const Geometry m = shell_->GetGeometry(menu);
  Click(m.x + m.width / 2, m.y + m.height * 3 / 4);
  EXPECT_EQ(shell_->Wait(), 0);
  const std::string output = shell_->Output();
  size_t closes = 0;
  for (size_t at = output.find("w,m_Close\r\n"); at != std::string::npos;
       at = output.find("w,m_Close\r\n", at + 1)) {
    ++closes;
  }
  EXPECT_EQ(closes, 2u);  // the window manager's close, then the menu's
  EXPECT_NE(output.find("SysTray::SysTray()\r\n"), std::string::npos);
  EXPECT_NE(output.find("SysTray::~SysTray()\r\n"), std::string::npos);
  EXPECT_EQ(x_->X("xdotool search --class ombrix"), "");  // the icon went with the program
}

TEST_F(PanelTest, BadRequestsLeaveTheWindowUsable) {
  StartFrame(R"(
    const regions = [{left: 0, top: 0, width: 4000, height: 40}];
    for (let i = 0; i < 10000; ++i) {
      regions.push({left: -2147483648 + i, top: 2147483647, width: 2147483647, height: -5},
                   {left: i % 50, top: 300, width: 1e12, height: 'x'});
    }
    ombrix.gui.setInTitleBar(regions);
    ombrix.app.hidetray();
    ombrix.app.modifytrayicon('/dev/zero');
    const dir = ombrix.app.apppath();
    ombrix.app.showtray(dir + '/ombrix.json', 'x', '长'.repeat(10000));
    ombrix.app.showtray('/dev/stdin', 'y', '😀'.repeat(5000));
    ombrix.app.modifytrayicon(dir + '/web');
    ombrix.gui.disableResize('yes');
    ombrix.gui.disableResize({});
  )");
  // The icon is there all the same, and the window still moves and resizes.
  EXPECT_TRUE(WaitFor([&] { return !Others().empty(); }, milliseconds(10000)));
  EXPECT_TRUE(Drag(400, 120, -40, 30, [&] { return Where().x == 60; }));
  EXPECT_TRUE(At(60, 130, 600, 400));
  EXPECT_TRUE(Drag(658, 300, 40, 0, [&] { return Where().width == 640; }));
  EXPECT_TRUE(shell_->Running());
}

}  // namespace
}  // namespace e2e
