#include "app/startup.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/extension_init.h"
#include "app/manifest_util.h"
#include "app/version_page.h"
#include "browser/ombrix_cef_handler_win.h"
#include "util/url_text.h"
#include "util/util_win.h"

namespace {

using ombrix::LaunchPlacement;

TEST(CommandLine, JoinsArgumentsAndPicksTheManifest) {
  char program[] = "ombrix";
  char first[] = "app.json";
  char second[] = "extra";
  char* argv[] = {program, first, second};
  const QString text = ombrix::CommandLineText(3, argv);
  EXPECT_EQ(text, "app.json extra");
  EXPECT_EQ(ombrix::ManifestName(text, "ombrix"), "app.json");
  EXPECT_EQ(ombrix::CommandLineText(1, argv), "");
  EXPECT_EQ(ombrix::ManifestName("", "ombrix"), "ombrix.json");
  // A leading space gives an empty first token and so the default name.
  EXPECT_EQ(ombrix::ManifestName(" app.json", "ombrix"), "ombrix.json");
  EXPECT_EQ(ombrix::ManifestName("/abs/app.json x", "ombrix"), "/abs/app.json");
}

TEST(Paths, AppNameDropsEveryLowerCaseExe) {
  EXPECT_EQ(ombrix::AppNameFromPath("/opt/apps/shell.exe"), "shell");
  EXPECT_EQ(ombrix::AppNameFromPath("/opt/apps/SHELL.EXE"), "SHELL.EXE");
  EXPECT_EQ(ombrix::AppNameFromPath("/opt/apps/ombrix"), "ombrix");
  EXPECT_EQ(ombrix::AppNameFromPath("/opt/a.exe.b/x.exe.exe"), "x");
}

TEST(Paths, FullPathAndAppDirFollowTheExecutable) {
  ombrix::SetExecutablePath("/opt/kiosk/ombrix");
  EXPECT_EQ(ombrix::GetFullPathInExecutionDirectory(""), "/opt/kiosk");
  EXPECT_EQ(ombrix::GetFullPathInExecutionDirectory("manifest.json"), "/opt/kiosk/manifest.json");
  EXPECT_EQ(ombrix::GetAppName(), "ombrix");
  EXPECT_EQ(ombrix::ExpandAppDir("${AppDir}/cache"), "/opt/kiosk/cache");
  EXPECT_EQ(ombrix::ExpandAppDir("${AppDir}/a:${AppDir}/b"), "/opt/kiosk/a:/opt/kiosk/b");
  EXPECT_EQ(ombrix::ExpandAppDir("${appdir}/cache"), "${appdir}/cache");
  // In a URL the folder goes in percent-encoded; an absolute path becomes its
  // file: URL, any other text stays as it is.
  ombrix::SetExecutablePath(QString::fromUtf8("/opt/kiosk #2/50% 数据/ombrix"));
  EXPECT_EQ(ombrix::ExpandAppDirInUrl("file://${AppDir}/web/index.html"),
            "file:///opt/kiosk%20%232/50%25%20%E6%95%B0%E6%8D%AE/web/index.html");
  EXPECT_EQ(ombrix::ExpandAppDirInUrl("${AppDir}/web/index.html"),
            "file:///opt/kiosk%20%232/50%25%20%E6%95%B0%E6%8D%AE/web/index.html");
  EXPECT_EQ(ombrix::ExpandAppDirInUrl("//srv/a?b.html"), "file:///srv/a%3Fb.html");
  EXPECT_EQ(ombrix::ExpandAppDirInUrl("web/index.html"), "web/index.html");
  EXPECT_EQ(ombrix::ExpandAppDirInUrl("x-shop+v1.2:/${AppDir}"),
            "x-shop+v1.2:/" + QString("/opt/kiosk%20%232/50%25%20%E6%95%B0%E6%8D%AE"));
  EXPECT_EQ(ombrix::ExpandAppDirInUrl("/srv/1http:x"), "file:///srv/1http%3Ax");
  EXPECT_EQ(ombrix::ExpandAppDirInUrl("web page:x.html"), "web page:x.html");
  // Downloads encode an address as the engine does.
  EXPECT_EQ(ombrix::EncodedUrl(QString::fromUtf8("http://127.0.0.1:8765/数据.bin?q=é f")),
            "http://127.0.0.1:8765/%E6%95%B0%E6%8D%AE.bin?q=%C3%A9%20f");
  EXPECT_EQ(ombrix::EncodedUrl(QString::fromUtf8("https://bücher.example/a")),
            "https://xn--bcher-kva.example/a");
  EXPECT_EQ(ombrix::EncodedUrl("no-scheme/x.bin"), "");
  EXPECT_EQ(ombrix::EncodedUrl("http://[::1/x"), "");
  ombrix::SetExecutablePath(QString());
  EXPECT_TRUE(ombrix::ExecutablePath().endsWith("/ombrix_unit_tests"));
}

// One installed shell and app folders holding links to it, as real files.
TEST(Paths, StartedPathKeepsTheLinksFolderAndFallsBackToTheRealShell) {
  QTemporaryDir root;
  const QString r = root.path();
  QDir(r).mkpath("usr/lib/ombrix");
  QDir(r).mkpath("opt/shop");
  QDir(r).mkpath("bin");
  QFile shell(r + "/usr/lib/ombrix/ombrix");
  ASSERT_TRUE(shell.open(QIODevice::WriteOnly));
  ASSERT_TRUE(QFile::link("../../usr/lib/ombrix/ombrix", r + "/opt/shop/shop"));
  ASSERT_TRUE(QFile::link(r + "/usr/lib/ombrix/ombrix", r + "/bin/ombrix"));
  QFile other(r + "/bin/shop");  // another program of the same name, earlier on PATH
  ASSERT_TRUE(other.open(QIODevice::WriteOnly));
  const QString real = ombrix::RealFileOf(shell.fileName());
  const auto started = [&](const QString& argv0, const QString& cwd, const QString& path) {
    return ombrix::StartedPath(argv0, cwd, path, real, ombrix::RealFileOf);
  };

  EXPECT_EQ(started(r + "/opt/shop/shop", "/", ""), r + "/opt/shop/shop");
  EXPECT_EQ(started("./shop", r + "/opt/shop", ""), r + "/opt/shop/shop");
  EXPECT_EQ(started("../shop//./shop", r + "/opt/shop", ""), r + "/opt/shop/shop");
  // A bare name is looked for on PATH; an empty entry is the working directory.
  const QString path = "/nonexistent:" + r + "/bin::" + r + "/opt/shop";
  EXPECT_EQ(started("shop", "/", path), r + "/opt/shop/shop");
  EXPECT_EQ(started("ombrix", "/", path), r + "/bin/ombrix");
  EXPECT_EQ(started("shop", r + "/opt/shop", "/nonexistent::"), r + "/opt/shop/shop");
  EXPECT_EQ(started("opt/shop/shop", r, ""), r + "/opt/shop/shop");
  // A name that leads elsewhere, or nowhere, gives the real shell.
  EXPECT_EQ(started("shop", r + "/opt/shop", "/nonexistent"), real);
  EXPECT_EQ(started(r + "/bin/shop", "/", ""), real);
  EXPECT_EQ(started("-kiosk", "/", path), real);
  EXPECT_EQ(started("", "/", path), real);
}

const ombrix::Rect kScreen{0, 0, 1920, 1080};

TEST(Placement, CentreRectClampsOnlyRightAndBottom) {
  const ombrix::Rect r = ombrix::CentreRectOnScreen(kScreen, 1000, 600);
  EXPECT_EQ(r.left, 460);
  EXPECT_EQ(r.top, 240);
  EXPECT_EQ(r.right, 1460);
  EXPECT_EQ(r.bottom, 840);
  EXPECT_EQ(ombrix::CentreRectOnScreen(kScreen, 2000, 600).left, -80);
  EXPECT_EQ(ombrix::CentreRectOnScreen(kScreen, 1001, 601).left, 460);
}

// A customer display on the left, the primary monitor on the right: the window
// is centred on the primary monitor, clamped to its own edges.
TEST(Placement, CentreRectUsesThePrimaryMonitorsOwnPlace) {
  const ombrix::Rect primary{1920, 0, 1920 + 1280, 1024};
  const ombrix::Rect r = ombrix::CentreRectOnScreen(primary, 1000, 600);
  EXPECT_EQ(r.left, 1920 + 140);
  EXPECT_EQ(r.top, 212);
  EXPECT_EQ(r.right, 1920 + 1140);
  EXPECT_EQ(ombrix::CentreRectOnScreen(primary, 2000, 600).left, 1920 - 720);
  const ombrix::Rect below{0, 1080, 1920, 2160};
  EXPECT_EQ(ombrix::CentreRectOnScreen(below, 1000, 600).top, 1080 + 240);
  LaunchPlacement normal = ombrix::PlacementAfterLoad(kLaunchNormal, -1, -1, 1000, 600, primary);
  EXPECT_EQ(normal.x, 1920 + 140);
  LaunchPlacement full = ombrix::PlacementAfterLoad(kLaunchFullscreen, -1, -1, 0, 0, primary);
  EXPECT_EQ(full.x, 1920);
  EXPECT_EQ(full.width, 1280);
}

TEST(Placement, LaunchStatesAfterLoad) {
  LaunchPlacement normal = ombrix::PlacementAfterLoad(kLaunchNormal, -1, -1, 1000, 600, kScreen);
  EXPECT_TRUE(normal.show);
  EXPECT_TRUE(normal.move);
  EXPECT_EQ(normal.x, 460);
  EXPECT_EQ(normal.y, 240);
  EXPECT_EQ(normal.width, 1000);

  // Either coordinate at -1 centres; both given place the window there.
  EXPECT_EQ(ombrix::PlacementAfterLoad(kLaunchNormal, 30, -1, 1000, 600, kScreen).x, 460);
  LaunchPlacement at = ombrix::PlacementAfterLoad(kLaunchNormal, 30, 40, 1000, 600, kScreen);
  EXPECT_EQ(at.x, 30);
  EXPECT_EQ(at.y, 40);

  LaunchPlacement hidden = ombrix::PlacementAfterLoad(kLaunchHidden, -1, -1, 800, 600, kScreen);
  EXPECT_FALSE(hidden.show);
  EXPECT_EQ(hidden.x, 560);

  LaunchPlacement sizeless = ombrix::PlacementAfterLoad(kLaunchNormal, -1, -1, -1, -1, kScreen);
  EXPECT_EQ(sizeless.width, ombrix::kDefaultLaunchWidth);
  EXPECT_EQ(sizeless.height, ombrix::kDefaultLaunchHeight);

  LaunchPlacement full = ombrix::PlacementAfterLoad(kLaunchFullscreen, 5, 5, 10, 10, kScreen);
  EXPECT_EQ(full.kind, LaunchPlacement::kFullscreen);
  EXPECT_EQ(full.x, 0);
  EXPECT_EQ(full.width, 1920);
  EXPECT_EQ(ombrix::PlacementAfterLoad(kLaunchMaximized, 1, 1, 1, 1, kScreen).kind,
            LaunchPlacement::kMaximized);
  EXPECT_FALSE(ombrix::PlacementAfterLoad(kLaunchMinimized, 1, 1, 1, 1, kScreen).move);
}

TEST(Placement, FailedLoadUsesTheFallbackRectangle) {
  for (LaunchState state : {kLaunchNormal, kLaunchHidden}) {
    LaunchPlacement p = ombrix::PlacementAfterError(state, kScreen);
    EXPECT_EQ(p.x, 400);
    EXPECT_EQ(p.y, 300);
    EXPECT_EQ(p.width, 600);
    EXPECT_EQ(p.height, 500);
    EXPECT_EQ(p.show, state == kLaunchNormal);
  }
  EXPECT_EQ(ombrix::PlacementAfterError(kLaunchMaximized, kScreen).kind,
            LaunchPlacement::kMaximized);
}

TEST(ExtensionInit, CarriesTheManifestOnlyInTheSingleProcessModel) {
  ManifestUtil manifest(QStringLiteral("x.json"));
  manifest.SetContent(R"({"application_title": "标题", "filler": "xxxxxxxx",
                         "window": {"launch_width": 640, "other": 1}})");
  ASSERT_TRUE(manifest.Parse());
  manifest.command_line_ = QStringLiteral("x.json 参数");
  GVariant* data = g_variant_ref_sink(ombrix::BuildExtensionInitData(manifest));
  ombrix::ExtensionInitData read = ombrix::ReadExtensionInitData(data);
  g_variant_unref(data);
  EXPECT_TRUE(read.has_manifest);
  ManifestUtil copy(QStringLiteral("y.json"));
  copy.SetContent(read.manifest_content);
  ASSERT_TRUE(copy.Parse());
  EXPECT_EQ(copy.application_title_, "标题");
  EXPECT_EQ(copy.launch_width_, 640);
  EXPECT_FALSE(read.manifest_content.contains("filler"));
  EXPECT_EQ(read.command_line, "x.json 参数");
  EXPECT_EQ(read.manifest_file, manifest.file_name_);

  manifest.multiple_process_ = true;
  data = g_variant_ref_sink(ombrix::BuildExtensionInitData(manifest, "Mozilla/5.0 (X11)"));
  read = ombrix::ReadExtensionInitData(data);
  g_variant_unref(data);
  EXPECT_FALSE(read.has_manifest);
  EXPECT_EQ(read.user_agent, "Mozilla/5.0 (X11)");  // the downloads' identity, in both models
  EXPECT_FALSE(ombrix::ReadExtensionInitData(nullptr).has_manifest);
}

TEST(VersionPage, EscapesValuesAndShowsTheAppsTitleAndVersion) {
  const QString page = ombrix::BuildVersionPage({{"Command line", "<b>&x</b>"}});
  EXPECT_TRUE(page.contains("&lt;b&gt;&amp;x&lt;/b&gt;"));
  EXPECT_TRUE(page.contains("id=\"command-line\""));

  ManifestUtil manifest(QStringLiteral("test.json"));
  manifest.SetContent(R"({"application_title": "Kiosk <A&B>", "version": "2.1 \"beta\""})");
  ASSERT_TRUE(manifest.Parse());
  const QString app_page = ombrix::BuildVersionPage(ombrix::ManifestRows(manifest));
  EXPECT_TRUE(app_page.contains("Kiosk &lt;A&amp;B&gt;")) << app_page.toStdString();
  EXPECT_TRUE(app_page.contains("2.1 &quot;beta&quot;")) << app_page.toStdString();
}

}  // namespace
