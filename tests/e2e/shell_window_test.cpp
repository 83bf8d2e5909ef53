// What a user sees when the shell starts: where and when its window appears,
// and how the shell ends.
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "fixture.h"

namespace e2e {
namespace {

const QByteArray kPage = "<!DOCTYPE html><html><body><h1>page</h1></body></html>";

class StartTest : public ShellTest {};

TEST_F(StartTest, NormalWindowAppearsCentredOnlyAfterTheFirstLoad) {
  SlowServer server("window.loaded = true;");
  shell_->WriteFile("web/index.html", "<html><body>wait<script src=\"http://127.0.0.1:" +
                                          QByteArray::number(server.port()) +
                                          "/slow.js\"></script></body></html>");
  shell_->WriteManifest(
      PageManifest("Normal start", {{"launch_width", 1000}, {"launch_height", 600}}));
  shell_->Start();
  ASSERT_TRUE(WaitFor([&] { return server.asked(); }, milliseconds(30000)));
  // The page is still loading: its window exists but is not shown.
  EXPECT_NE(shell_->FindWindow("Normal start", false), 0u);
  EXPECT_EQ(shell_->FindWindow("Normal start", true), 0u);
  server.Release();

  const unsigned long window = shell_->WaitForWindow("Normal start");
  ASSERT_NE(window, 0u);
  const Geometry g = shell_->GetGeometry(window);
  EXPECT_EQ(g.x, 140);  // (1280 - 1000) / 2
  EXPECT_EQ(g.y, 212);  // (1024 - 600) / 2
  EXPECT_EQ(g.width, 1000);
  EXPECT_EQ(g.height, 600);
  // Undecorated: no frame is asked of the window manager.
  const std::string hints = shell_->Property(window, "_MOTIF_WM_HINTS");
  EXPECT_NE(hints.find("0x2, 0x0, 0x0"), std::string::npos) << hints;
}

TEST_F(StartTest, GivenPositionIsUsed) {
  shell_->WriteFile("web/index.html", kPage);
  shell_->WriteManifest(PageManifest(
      "Placed",
      {{"launch_x", 30}, {"launch_y", 40}, {"launch_width", 500}, {"launch_height", 400}}));
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Placed");
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(WaitFor([&] { return shell_->GetGeometry(window).x == 30; }, milliseconds(5000)));
  const Geometry g = shell_->GetGeometry(window);
  EXPECT_EQ(g.y, 40);
  EXPECT_EQ(g.width, 500);
  EXPECT_EQ(g.height, 400);
}

TEST_F(StartTest, MaximizedFillsTheScreen) {
  shell_->WriteFile("web/index.html", kPage);
  shell_->WriteManifest(PageManifest("Max", {{"launch_state", "maximized"}}));
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Max");
  ASSERT_NE(window, 0u);
  EXPECT_TRUE(
      WaitFor([&] { return shell_->GetGeometry(window).width == 1280; }, milliseconds(10000)));
  EXPECT_NE(shell_->Property(window, "_NET_WM_STATE").find("MAXIMIZED_VERT"), std::string::npos);
}

TEST_F(StartTest, FullscreenCoversTheScreen) {
  shell_->WriteFile("web/index.html", kPage);
  shell_->WriteManifest(PageManifest("Full", {{"launch_state", "fullscreen"}}));
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Full");
  ASSERT_NE(window, 0u);
  EXPECT_TRUE(WaitFor(
      [&] {
        const Geometry g = shell_->GetGeometry(window);
        return g.x == 0 && g.y == 0 && g.width == 1280 && g.height == 1024;
      },
      milliseconds(10000)));
  EXPECT_NE(shell_->Property(window, "_NET_WM_STATE").find("FULLSCREEN"), std::string::npos);
}

TEST_F(StartTest, MinimizedStartsIconic) {
  shell_->WriteFile("web/index.html", kPage);
  shell_->WriteManifest(PageManifest("Min", {{"launch_state", "minimized"}}));
  shell_->Start();
  unsigned long window = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        window = shell_->FindWindow("Min", false);
        return window && shell_->Property(window, "WM_STATE").find("Iconic") != std::string::npos;
      },
      milliseconds(30000)));
  EXPECT_FALSE(shell_->GetGeometry(window).viewable);
  EXPECT_TRUE(shell_->Running());
}

TEST_F(StartTest, HiddenNeverShowsButKeepsRunning) {
  shell_->WriteFile("web/index.html", kPage);
  shell_->WriteManifest(PageManifest("Hidden", {{"launch_state", "hidden"}}));
  shell_->Start();
  ASSERT_TRUE(
      WaitFor([&] { return shell_->Output().find("launch state applied") != std::string::npos; },
              milliseconds(30000)));
  EXPECT_NE(shell_->Output().find("launch state applied, left hidden"), std::string::npos);
  const unsigned long window = shell_->FindWindow("Hidden", false);
  ASSERT_NE(window, 0u);                               // the window exists, placed ...
  EXPECT_FALSE(shell_->GetGeometry(window).viewable);  // ... and is not on screen
  EXPECT_TRUE(shell_->Running());
}

TEST_F(StartTest, FailedFirstPageShowsTheFallbackPlacement) {
  QJsonObject manifest = PageManifest("Broken", {{"launch_width", 1000}, {"launch_height", 700}});
  manifest["first_page"] = "file:///nonexistent/page.html";
  shell_->WriteManifest(manifest);
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Broken");
  ASSERT_NE(window, 0u);
  const Geometry g = shell_->GetGeometry(window);
  EXPECT_EQ(g.x, 400);
  EXPECT_EQ(g.y, 300);
  EXPECT_EQ(g.width, 600);
  EXPECT_EQ(g.height, 500);
}

TEST_F(StartTest, DefaultManifestOpensTheVersionPage) {
  // No first page: "chrome://version" must load (a failure would use the
  // 600 x 500 fallback), in a window titled with the default title.
  shell_->WriteManifest(QJsonObject{});
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Ombrix-UI");
  ASSERT_NE(window, 0u);
  const Geometry g = shell_->GetGeometry(window);
  EXPECT_EQ(g.width, 1024);
  EXPECT_EQ(g.height, 768);
}

TEST_F(StartTest, MissingIconFirstPageAndUnwritableCacheStillOpenTheWindow) {
  QJsonObject manifest = PageManifest("Sturdy");
  manifest["app_icon"] = "no/such/icon.png";
  manifest["first_page"] = "file://${AppDir}/web/missing.html";
  manifest["cache_path"] = "/proc/ombrix-cache";
  shell_->WriteManifest(manifest);
  shell_->Start();
  EXPECT_NE(shell_->WaitForWindow("Sturdy"), 0u);
  EXPECT_TRUE(shell_->Running());
}

TEST_F(StartTest, ClosingTheMainWindowEndsWithZero) {
  shell_->WriteFile("web/index.html", kPage);
  shell_->WriteManifest(PageManifest("Closing", {{"launch_width", 400}, {"launch_height", 300}}));
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Closing");
  ASSERT_NE(window, 0u);
  x_->X("xdotool windowactivate --sync " + std::to_string(window) + " key alt+F4");
  EXPECT_EQ(shell_->Wait(), 0);
}

TEST_F(StartTest, PopUpsGetTheirOwnWindowAndClosingThemKeepsTheShell) {
  shell_->WriteFile("web/index.html",
                    "<html><body><script>window.open('popup.html', '_blank', "
                    "'width=300,height=200');</script></body></html>");
  shell_->WriteFile("web/popup.html", "<html><head><title>The popup</title></head></html>");
  shell_->WriteManifest(PageManifest("Opener", {{"launch_width", 500}, {"launch_height", 400}}));
  shell_->Start();
  ASSERT_NE(shell_->WaitForWindow("Opener"), 0u);
  const unsigned long popup = shell_->WaitForWindow("The popup");
  ASSERT_NE(popup, 0u);
  // The window manager's close request for this window (what its close button
  // or alt+F4 send), addressed to the pop-up itself: a key press would go to
  // whichever window holds the focus at that moment.
  EXPECT_TRUE(WaitFor(
      [&] {
        if (shell_->FindWindow("The popup", true) == 0) return true;
        x_->X("wmctrl -i -c " + std::to_string(popup));
        return false;
      },
      milliseconds(10000)));
  EXPECT_TRUE(shell_->Running());
  const unsigned long main = shell_->FindWindow("Opener", true);
  x_->X("xdotool windowactivate --sync " + std::to_string(main) + " key alt+F4");
  EXPECT_EQ(shell_->Wait(), 0);
}

// Right-clicks the page and tells whether a menu window opened.
bool OpenContextMenu(const XServer& x, unsigned long window) {
  const std::string id = std::to_string(window);
  x.X("xdotool windowactivate --sync " + id + " mousemove --window " + id + " 200 200 click 3");
  return WaitFor(
      [&] {
        const std::string shown = x.X("xdotool search --onlyvisible --class ombrix");
        return std::count(shown.begin(), shown.end(), '\n') >= 2;
      },
      milliseconds(3000));
}

TEST_F(StartTest, ContextMenuExitEndsTheShell) {
  shell_->WriteFile("web/index.html", kPage);
  shell_->WriteManifest(PageManifest("Menu", {{"launch_width", 500}, {"launch_height", 400}}));
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Menu");
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(OpenContextMenu(*x_, window));
  x_->X("xdotool key Down Down Return");  // the second item, "退出应用"
  EXPECT_EQ(shell_->Wait(), 0);
}

TEST_F(StartTest, NoContextMenuWithoutDebugTools) {
  shell_->WriteFile("web/index.html", kPage);
  QJsonObject manifest = PageManifest("No menu", {{"launch_width", 500}, {"launch_height", 400}});
  manifest["disable_debug_tool"] = true;
  shell_->WriteManifest(manifest);
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("No menu");
  ASSERT_NE(window, 0u);
  EXPECT_FALSE(OpenContextMenu(*x_, window));
  EXPECT_TRUE(shell_->Running());
}

// The developer tools' window: a visible top-level window named after the inspector.
bool ToolsWindowShown(const XServer& x) {
  return WaitFor([&] { return !x.X("xdotool search --onlyvisible --name '^DevTools$'").empty(); },
                 milliseconds(20000));
}

TEST_F(StartTest, DeveloperToolsOpenInTheirOwnWindow) {
  shell_->WriteFile("web/index.html", kPage);
  // At the default size, large enough for the engine to attach the tools to the page.
  shell_->WriteManifest(PageManifest("Tools"));
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("Tools");
  ASSERT_NE(window, 0u);
  const std::string id = std::to_string(window);
  x_->X("xdotool windowactivate --sync " + id + " key ctrl+shift+i");
  ASSERT_TRUE(ToolsWindowShown(*x_));
  ASSERT_TRUE(WaitFor(
      [&] {
        const std::string tools = x_->X("xdotool search --onlyvisible --name '^DevTools$'");
        if (tools.empty()) return true;
        x_->X("wmctrl -i -c " + tools.substr(0, tools.find('\n')));
        return false;
      },
      milliseconds(10000)));
  ASSERT_TRUE(OpenContextMenu(*x_, window));
  x_->X("xdotool key Down Down Down Return");  // the third item, "显示开发工具"
  EXPECT_TRUE(ToolsWindowShown(*x_));
}

TEST_F(StartTest, WithoutDebugToolsTheShortcutReachesThePage) {
  shell_->WriteFile("web/index.html", TestPage(R"(
    document.addEventListener('keydown', function(e) {
      if (e.ctrlKey && e.shiftKey && e.key.toLowerCase() === 'i') report({key: true});
    });
  )"));
  QJsonObject manifest = PageManifest("No tools", {{"launch_width", 500}, {"launch_height", 400}});
  manifest["disable_debug_tool"] = true;
  shell_->WriteManifest(manifest);
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("No tools");
  ASSERT_NE(window, 0u);
  x_->X("xdotool windowactivate --sync " + std::to_string(window) + " key ctrl+shift+i");
  EXPECT_TRUE(shell_->WaitForResults()["key"].toBool());
  EXPECT_TRUE(x_->X("xdotool search --name '^DevTools$'").empty());
}

TEST_F(StartTest, PageKeepsStartingAgainWhenItsWebProcessKeepsDying) {
  shell_->WriteFile("web/index.html", TestPage(R"(
    save({}, 'loaded-' + Date.now() + '.json');
  )"));
  shell_->WriteManifest(PageManifest("Crash"));
  shell_->Start();
  const auto loads = [&] {
    return QDir(shell_->dir()).entryList({"loaded-*.json"}, QDir::Files).size();
  };
  // Three restarts a minute go at once; the next ones wait (1 s, 2 s, then 4 s)
  // behind a notice page, and the page still comes back. (On a loaded machine
  // the notice page may take longer than the first wait to appear.)
  for (int kill = 0; kill <= 6; ++kill) {
    SCOPED_TRACE(kill);
    ASSERT_TRUE(WaitFor([&] { return loads() > kill; }, milliseconds(30000)));
    if (kill == 6) break;
    // Kill this shell's web processes, as a crash would end them.
    ASSERT_FALSE(
        e2e::Run("pkill -9 -e -P " + std::to_string(shell_->pid()) + " WebKitWebProces").empty());
  }
  EXPECT_NE(shell_->Output().find("page restarts in 4000 ms"), std::string::npos);
  EXPECT_NE(shell_->Output().find("notice page shown"), std::string::npos);
  EXPECT_TRUE(shell_->Running());
}

TEST_F(StartTest, IconAndTitleComeFromTheManifest) {
  shell_->WriteFile("web/index.html", kPage);
  QFile::copy(QStringLiteral(OMBRIX_TEST_SOURCE_DIR "/demo/web/icon.png"),
              shell_->dir() + "/icon.png");
  QJsonObject manifest = PageManifest("标题 Title");
  manifest["app_icon"] = "icon.png";
  shell_->WriteManifest(manifest);
  shell_->Start();
  const unsigned long window = shell_->WaitForWindow("标题 Title");
  ASSERT_NE(window, 0u);
  EXPECT_NE(shell_->Property(window, "_NET_WM_ICON").find("Icon (100 x 100)"), std::string::npos);
}

// Manifest choice and exit codes need no window for the failures.
class ManifestChoiceTest : public ShellTest {};

TEST_F(ManifestChoiceTest, MissingManifestPrintsItsPathAndExitsWith255) {
  shell_->Start();
  EXPECT_EQ(shell_->Wait(), 255);
  EXPECT_NE(shell_->Output().find("Can't open the file!\r\nmanifest: looked for " +
                                  shell_->dir().toStdString() +
                                  "/ombrix.json: No such file or directory\r\n"),
            std::string::npos)
      << shell_->Output();
}

TEST_F(ManifestChoiceTest, BadManifestsExitWith255WithALineSayingWhy) {
  const std::string manifest = shell_->dir().toStdString() + "/ombrix.json";
  const std::pair<QByteArray, std::string> bad[] = {
      {"{\n  \"first_page\": \"client:///index.html\",\n}\n",
       " is not JSON: object is missing after a comma at line 3, column 2\r\n"},
      {"", " is not JSON: illegal value at line 1, column 1\r\n"},
      {"[1,2,3]", " is a JSON array, it should be a JSON object ({...})\r\n"},
      {"{\"first_page\": ", " is not JSON: "},
      {QByteArray(4096, '\xff'), " is not JSON: "},
      {QByteArray(200000, '['), " is not JSON: "}};
  for (const auto& [content, line] : bad) {
    shell_->WriteFile("ombrix.json", content);
    const size_t before = shell_->Output().size();  // the log grows from run to run
    shell_->Start();
    EXPECT_EQ(shell_->Wait(), 255) << content.left(20).toHex().constData();
    const std::string output = shell_->Output().substr(before);
    EXPECT_EQ(output.find("Can't open"), std::string::npos);
    EXPECT_NE(output.find("manifest: " + manifest + line), std::string::npos) << output;
  }
}

TEST_F(ManifestChoiceTest, FirstTokenNamesTheManifestBesideTheExecutable) {
  shell_->WriteFile("web/index.html", kPage);
  shell_->WriteManifest(PageManifest("Chosen"), "app.json");
  QDir().mkpath(shell_->dir() + "/elsewhere");
  shell_->Start({"app.json", "extra", "words"}, shell_->dir() + "/elsewhere");
  EXPECT_NE(shell_->WaitForWindow("Chosen"), 0u);
  const std::string output = shell_->Output();
  EXPECT_NE(output.find("\"app.json extra words\""), std::string::npos);
}

TEST_F(ManifestChoiceTest, AbsoluteManifestPathIsStillPutBehindTheFolder) {
  shell_->WriteManifest(PageManifest("Abs"), "app.json");
  shell_->Start({shell_->dir() + "/app.json"});
  EXPECT_EQ(shell_->Wait(), 255);
}

TEST_F(ManifestChoiceTest, HugeAndWronglyTypedManifestsStartWithAWarningForEachMistake) {
  QJsonObject manifest = PageManifest("Huge");
  manifest["filler"] = QString(20 * 1024 * 1024, QLatin1Char('x'));
  manifest["firstpage"] = "file://${AppDir}/web/other.html";
  manifest["multiple_process"] = "no";
  manifest["window"] = QJsonObject{{"launch_width", "wide"}, {"launch_state", 7}};
  shell_->WriteFile("web/index.html", kPage);
  shell_->WriteManifest(manifest);
  shell_->Start();
  EXPECT_NE(shell_->WaitForWindow("Huge"), 0u);
  const std::string output = shell_->Output();
  for (const char* line :
       {"unknown key \"filler\"", "unknown key \"firstpage\"", "\"multiple_process\" is",
        "\"window.launch_width\" is", "\"window.launch_state\" is"}) {
    EXPECT_NE(output.find(std::string("manifest: ") + line), std::string::npos) << line;
  }
  EXPECT_NE(output.find("did you mean \"first_page\""), std::string::npos);
  EXPECT_NE(output.find("should be true or false"), std::string::npos);
  EXPECT_EQ(output.find("xxxxxxxxxx"), std::string::npos);         // the value of an unknown key
  EXPECT_EQ(output.find("\"first_page\" is"), std::string::npos);  // no word on good keys
}

}  // namespace
}  // namespace e2e
