#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/extension_init.h"
#include "app/manifest_util.h"
#include "app/startup.h"
#include "util/util_win.h"

namespace {

// A holder parsed from the given JSON text.
ManifestUtil Parsed(const QByteArray& json, bool* ok = nullptr) {
  ManifestUtil manifest(QStringLiteral("test.json"));
  manifest.SetContent(json);
  const bool parsed = manifest.Parse();
  if (ok) *ok = parsed;
  return manifest;
}

TEST(Manifest, EmptyObjectKeepsEveryDefault) {
  bool ok = false;
  const ManifestUtil m = Parsed("{}", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(m.first_page_, "chrome://version");
  EXPECT_EQ(m.application_title_, "Ombrix-UI");
  EXPECT_FALSE(m.multiple_process_);
  EXPECT_EQ(m.launch_state_, kLaunchNormal);
  EXPECT_EQ(m.launch_x_, -1);
  EXPECT_EQ(m.launch_y_, -1);
  EXPECT_EQ(m.launch_width_, -1);
  EXPECT_EQ(m.launch_height_, -1);
  EXPECT_FALSE(m.disable_resize_);
  EXPECT_FALSE(m.disable_debug_tool_);
}

TEST(Manifest, ReadsEveryKey) {
  const ManifestUtil m = Parsed(R"({
    "first_page": "file://${AppDir}/web/index.html", "application_title": "Kiosk",
    "version": "2.1", "locale": "zh-CN", "multiple_process": true, "user_agent": "UA",
    "app_icon": "icon.png", "cache_path": "${AppDir}/cache", "disable_debug_tool": true,
    "disable_debug_log": true, "quit_after_main_window_closed": true,
    "npapi_plugin_directory": "plugins", "disable_ime_composition": true,
    "window": {"launch_state": "fullscreen", "launch_x": 10, "launch_y": 20,
               "launch_width": 800, "launch_height": 600, "disable_resize": true}})");
  EXPECT_EQ(m.first_page_, "file://${AppDir}/web/index.html");
  EXPECT_EQ(m.application_title_, "Kiosk");
  EXPECT_EQ(m.version_, "2.1");
  EXPECT_EQ(m.locale_, "zh-CN");
  EXPECT_TRUE(m.multiple_process_);
  EXPECT_EQ(m.user_agent_, "UA");
  EXPECT_EQ(m.app_icon_, "icon.png");
  EXPECT_EQ(m.cache_path_, "${AppDir}/cache");
  EXPECT_TRUE(m.disable_debug_tool_);
  EXPECT_TRUE(m.disable_debug_log_);
  EXPECT_TRUE(m.quit_after_main_window_closed_);
  EXPECT_EQ(m.npapi_plugin_directory_, "plugins");
  EXPECT_TRUE(m.disable_ime_composition_);
  EXPECT_EQ(m.launch_state_, kLaunchFullscreen);
  EXPECT_EQ(m.launch_x_, 10);
  EXPECT_EQ(m.launch_y_, 20);
  EXPECT_EQ(m.launch_width_, 800);
  EXPECT_EQ(m.launch_height_, 600);
  EXPECT_TRUE(m.disable_resize_);
}

TEST(Manifest, WrongTypesGiveEmptyFalseOrZero) {
  const ManifestUtil m = Parsed(R"({"first_page": 5, "application_title": null,
    "multiple_process": "yes", "disable_debug_tool": 1,
    "window": {"launch_x": "10", "launch_y": 2.5, "launch_width": true,
               "launch_height": null, "disable_resize": "true"}})");
  EXPECT_EQ(m.first_page_, "");  // not the default page
  EXPECT_EQ(m.application_title_, "");
  EXPECT_FALSE(m.multiple_process_);
  EXPECT_FALSE(m.disable_debug_tool_);
  EXPECT_EQ(m.launch_x_, 0);
  EXPECT_EQ(m.launch_y_, 0);
  EXPECT_EQ(m.launch_width_, 0);
  EXPECT_EQ(m.launch_height_, 0);
  EXPECT_FALSE(m.disable_resize_);
}

TEST(Manifest, LaunchStateWordsAreCaseSensitive) {
  EXPECT_EQ(Parsed(R"({"window": {"launch_state": "Maximized"}})").launch_state_, kLaunchNormal);
  EXPECT_EQ(Parsed(R"({"window": {"launch_state": "sideways"}})").launch_state_, kLaunchNormal);
  EXPECT_EQ(Parsed(R"({"window": {"launch_state": 2}})").launch_state_, kLaunchNormal);
  EXPECT_EQ(Parsed(R"({"window": {"launch_state": "maximized"}})").launch_state_, kLaunchMaximized);
  EXPECT_EQ(Parsed(R"({"window": {"launch_state": "minimized"}})").launch_state_, kLaunchMinimized);
  EXPECT_EQ(Parsed(R"({"window": {"launch_state": "hidden"}})").launch_state_, kLaunchHidden);
}

TEST(Manifest, WindowThatIsNotAnObjectLeavesDefaults) {
  const ManifestUtil m = Parsed(R"({"window": "big"})");
  EXPECT_EQ(m.launch_state_, kLaunchNormal);
  EXPECT_EQ(m.launch_width_, -1);
  EXPECT_FALSE(m.disable_resize_);
}

TEST(Manifest, GeometryIsResetBeforeEachParse) {
  ManifestUtil m(QStringLiteral("test.json"));
  m.SetContent(R"({"window": {"launch_x": 5, "launch_width": 300}})");
  ASSERT_TRUE(m.Parse());
  EXPECT_EQ(m.launch_width_, 300);
  m.SetContent(R"({"window": {}})");
  ASSERT_TRUE(m.Parse());
  EXPECT_EQ(m.launch_x_, -1);
  EXPECT_EQ(m.launch_width_, -1);
}

TEST(Manifest, BadDocumentsAreRefusedWithoutChangingFieldsAndSayWhy) {
  const QByteArray bad[] = {"",    "   ",      "[1, 2]",      "\"text\"",
                            "42",  "{\"a\": ", "{} trailing", QByteArray("\x00\x01\xff\xfe{}", 6),
                            "null"};
  for (const QByteArray& json : bad) {
    ManifestUtil m(QStringLiteral("test.json"));
    m.SetContent(json);
    EXPECT_FALSE(m.Parse()) << json.toHex().constData();
    EXPECT_EQ(m.first_page_, "chrome://version");
    EXPECT_TRUE(m.ParseError().startsWith("manifest: " + m.file_name_ + " is "))
        << m.ParseError().toStdString();
  }
  EXPECT_TRUE(Parsed("[1, 2]").ParseError().endsWith(
      "is a JSON array, it should be a JSON object ({...})"));
  EXPECT_EQ(Parsed("{}").ParseError(), "");

  // A trailing comma, as a hurried author leaves it.
  const ManifestUtil comma = Parsed("{\n  \"first_page\": \"client:///index.html\",\n}\n");
  EXPECT_EQ(comma.ParseError(),
            "manifest: " + comma.file_name_ +
                " is not JSON: object is missing after a comma at line 3, column 2");
  // The column counts characters, not bytes.
  QJsonParseError error;
  const QByteArray wide = "{\"标题\": x}";
  QJsonDocument::fromJson(wide, &error);
  EXPECT_EQ(ManifestUtil::JsonErrorText(wide, error).toStdString(),
            "illegal number at line 1, column 8");  // at the x
}

TEST(Manifest, DeeplyNestedAndHugeDocumentsDoNotCrash) {
  QByteArray nested = "{\"window\": ";
  for (int i = 0; i < 100000; ++i) nested += "[";
  ManifestUtil deep(QStringLiteral("test.json"));
  deep.SetContent(nested);
  EXPECT_FALSE(deep.Parse());

  QByteArray huge = "{\"first_page\": \"p\", \"filler\": \"";
  huge += QByteArray(30 * 1024 * 1024, 'x');
  huge += "\"}";
  ManifestUtil big(QStringLiteral("test.json"));
  big.SetContent(huge);
  ASSERT_TRUE(big.Parse());
  EXPECT_EQ(big.first_page_, "p");
}

TEST(Manifest, ReadFileReportsAMissingFileAndReadsCrLfAsLf) {
  QTemporaryDir dir;
  ombrix::SetExecutablePath(dir.path() + QStringLiteral("/shell"));
  ManifestUtil missing(QStringLiteral("absent.json"));
  EXPECT_EQ(missing.file_name_, dir.path() + QStringLiteral("/absent.json"));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(missing.ReadFile());
  EXPECT_EQ(QString::fromStdString(testing::internal::GetCapturedStdout()),
            "Can't open the file!\r\nmanifest: looked for " + dir.path() +
                "/absent.json: No such file or directory\r\n");

  QFile file(dir.path() + QStringLiteral("/app.json"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("{\r\n\"application_title\": \"T\"\r\n}\r\n");
  file.close();
  ManifestUtil present(QStringLiteral("app.json"));
  ASSERT_TRUE(present.ReadFile());
  EXPECT_FALSE(present.content_.contains('\r'));
  ASSERT_TRUE(present.Parse());
  EXPECT_EQ(present.application_title_, "T");
  ombrix::SetExecutablePath(QString());
}

// The start-up lines for the slips a hurried author makes; the values are
// read as written all the same.
TEST(Manifest, MistakesNameTheKeyAndWhatItTakes) {
  EXPECT_EQ(Parsed(R"({"first_page": "file://${AppDir}/web/index.html", "cache_path":
    "${AppDir}/cache", "trusted_origins": ["file://"], "window": {"launch_x": 5}})")
                .Mistakes(),
            QStringList());

  const ManifestUtil slips = Parsed(R"({"verison": "2.1", "firstPage": "x", "colour": "red",
    "window": {"launch_widht": 800, "lanuch_state": "normal"}})");
  EXPECT_EQ(
      slips.Mistakes(),  // in the order of the keys' names
      (QStringList{"manifest: unknown key \"colour\" is ignored",
                   "manifest: unknown key \"firstPage\" is ignored (did you mean \"first_page\"?)",
                   "manifest: unknown key \"verison\" is ignored (did you mean \"version\"?)",
                   "manifest: unknown key \"window.lanuch_state\" is ignored (did you mean "
                   "\"window.launch_state\"?)",
                   "manifest: unknown key \"window.launch_widht\" is ignored (did you mean "
                   "\"window.launch_width\"?)"}));

  const ManifestUtil paths = Parsed(R"({"first_page": "web/index.html",
    "cache_path": "${appdir}/cache", "app_icon": "${AppDir}/${HOME}/icon.png"})");
  EXPECT_EQ(paths.Mistakes(),
            (QStringList{"manifest: \"app_icon\" holds \"${AppDir}\", which is not replaced in "
                         "this key (only in \"first_page\" and \"cache_path\" and "
                         "\"kiosk.offline_page\"); it stays as it is",
                         "manifest: \"app_icon\" holds \"${HOME}\", which is not replaced; it "
                         "stays as it is",
                         "manifest: \"cache_path\" holds \"${appdir}\", which is not replaced (did "
                         "you mean \"${AppDir}\"?); it stays as it is",
                         "manifest: \"first_page\" is \"web/index.html\", which is not a URL (did "
                         "you mean \"file://${AppDir}/web/index.html\"?)"}));
  EXPECT_EQ(paths.cache_path_, "${appdir}/cache");
  EXPECT_EQ(
      Parsed(R"({"first_page": "${AppDir}/web/index.html", "cache_path": "${TMP}"})").Mistakes(),
      (QStringList{"manifest: \"cache_path\" holds \"${TMP}\", which is not replaced (only "
                   "\"${AppDir}\" is); it stays as it is"}));
  // Kiosk keys a hurried vendor gets wrong: each says what it takes, and the
  // shell keeps a safe meaning.
  const ManifestUtil kiosk = Parsed(R"({"kiosk": {"hang_seconds": -5, "zoom": 1e9,
      "allowed_urls": ["https://shop.example/", "*"], "exit_keys": "alt+f4", "exit_pin": "12ab",
      "hide_cursor_seconds": 1e12, "offline_page": "https://down.example/", "lockdwn": true,
      "idle_reset_seconds": 30, "idle_warning_seconds": 60, "idle_clear_data": "yes"}})");
  const QStringList lines = kiosk.Mistakes();
  ASSERT_EQ(lines.size(), 9) << lines.join("\n").toStdString();
  EXPECT_TRUE(
      lines.join("\n").contains("\"kiosk.lockdwn\" is ignored (did you mean \"kiosk.lockdown\"?)"));
  EXPECT_TRUE(
      lines.join("\n").contains("\"kiosk.allowed_urls\" holds \"*\", which is no address prefix"));
  EXPECT_TRUE(lines.join("\n").contains("is the window manager's close"));
  EXPECT_EQ(kiosk.hang_seconds_, 30);
  EXPECT_EQ(kiosk.zoom_, 1.0);
  EXPECT_EQ(kiosk.hide_cursor_seconds_, -1);
  EXPECT_EQ(kiosk.exit_keys_, "");
  EXPECT_EQ(kiosk.exit_pin_, "");
  EXPECT_EQ(kiosk.allowed_urls_, (QStringList{"https://shop.example/", "*"}));
  EXPECT_EQ(kiosk.OfflinePage(), "");
  // The wipe stays on, and the warning comes at most when the timer starts.
  EXPECT_TRUE(lines.join("\n").contains(
      "\"kiosk.idle_clear_data\" is \"yes\", it should be true or false; the default stays"));
  EXPECT_TRUE(kiosk.idle_clear_data_);
  EXPECT_EQ(kiosk.idle_warning_seconds_, 30);
  EXPECT_EQ(Parsed(R"({"first_page": "www.shop.example/kiosk"})").Mistakes(),
            QStringList{"manifest: \"first_page\" is \"www.shop.example/kiosk\", which is not a "
                        "URL (did you mean \"https://www.shop.example/kiosk\"?)"});
  for (const char* url :
       {"client:///index.html", "https://shop.example/", "about:blank", "chrome://version",
        "file:///opt/kiosk/web/index.html", "/opt/kiosk/web/index.html"}) {
    EXPECT_EQ(Parsed(QByteArray("{\"first_page\": \"") + url + "\"}").Mistakes(), QStringList())
        << url;
  }
}

TEST(Manifest, MetricsKeysStayInTheShell) {
  const ManifestUtil m =
      Parsed(R"({"metrics": {"listen": "0.0.0.0:9464", "token": "0123456789abcdef", "tokn": 1}})");
  EXPECT_EQ(m.metrics_listen_, "0.0.0.0:9464");
  EXPECT_EQ(m.metrics_token_, "0123456789abcdef");
  EXPECT_EQ(m.Mistakes(), QStringList{"manifest: unknown key \"metrics.tokn\" is ignored (did "
                                      "you mean \"metrics.token\"?)"});
  EXPECT_FALSE(m.KnownKeysJson().contains("metrics"));  // the page side never sees the token
  EXPECT_EQ(Parsed(R"({"metrics": {"listen": 9464}})").Mistakes(),
            QStringList{"manifest: \"metrics.listen\" is 9464, it should be a string; it counts "
                        "as \"\""});
}

TEST(Manifest, InstanceKeepsTheFirstHolder) {
  ManifestUtil& first = ManifestUtil::Instance(QStringLiteral("one.json"));
  ManifestUtil& second = ManifestUtil::Instance(QStringLiteral("two.json"));
  EXPECT_EQ(&first, &second);
  EXPECT_TRUE(second.file_name_.endsWith(QStringLiteral("/one.json")));
}

}  // namespace

namespace {

// What a vendor sees at start-up for the lists a hurried author writes, and
// what every web process is handed, whatever the process model.
TEST(Manifest, TrustedOriginsAsVendorsWriteThem) {
  const QString web = QStringLiteral("https://shop.example/index.html");
  const QString file = QStringLiteral("file:///opt/app/web/index.html");
  QStringList rejected;

  const ManifestUtil none = Parsed("{}");
  const ombrix::TrustedOrigins everyone = none.TrustPolicy(&rejected);
  EXPECT_TRUE(everyone.TrustsUrl(web));
  EXPECT_TRUE(ombrix::TrustStartupLines(everyone, rejected, file).isEmpty());
  const QStringList warned = ombrix::TrustStartupLines(everyone, rejected, web);
  ASSERT_EQ(warned.size(), 1);
  EXPECT_TRUE(warned[0].startsWith("warning: no \"trusted_origins\"")) << warned[0].toStdString();

  const ManifestUtil mixed =
      Parsed(R"({"trusted_origins": ["file://", 5, "https://*", "https://shop.example"]})");
  const ombrix::TrustedOrigins listed = mixed.TrustPolicy(&rejected);
  EXPECT_EQ(ombrix::TrustStartupLines(listed, rejected, file),
            (QStringList{"trusted_origins: left out, not origins: 5, https://*",
                         "trusted_origins: file://, https://shop.example"}));
  EXPECT_FALSE(listed.TrustsUrl("http://shop.example/"));

  // One origin written without the list's brackets trusts nothing, and says so.
  const ManifestUtil bare = Parsed(R"({"trusted_origins": "file://"})");
  const ombrix::TrustedOrigins nothing = bare.TrustPolicy(&rejected);
  EXPECT_FALSE(nothing.TrustsUrl(file));
  EXPECT_EQ(ombrix::TrustStartupLines(nothing, rejected, file),
            (QStringList{"trusted_origins: left out, not origins: \"file://\"",
                         "trusted_origins: none, no page gets ombrix"}));
  EXPECT_EQ(bare.Mistakes(),
            QStringList{"manifest: \"trusted_origins\" is \"file://\", it should be a list of "
                        "origins, such as [\"file://\"]; it counts as [], no page gets ombrix"});

  const ManifestUtil elsewhere =
      Parsed(R"({"trusted_origins": ["client://"], "multiple_process": true})");
  const QStringList lines =
      ombrix::TrustStartupLines(elsewhere.TrustPolicy(&rejected), rejected, web);
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[1].startsWith("warning: the first page " + web)) << lines[1].toStdString();

  // Separate web processes get no manifest, but still the list.
  GVariant* data = g_variant_ref_sink(ombrix::BuildExtensionInitData(elsewhere));
  const ombrix::ExtensionInitData handed = ombrix::ReadExtensionInitData(data);
  g_variant_unref(data);
  EXPECT_FALSE(handed.has_manifest);
  EXPECT_TRUE(handed.has_trusted_origins);
  EXPECT_EQ(handed.trusted_origins, QStringList{"client://"});
}

}  // namespace
