// The idle reset: a counter left alone starts again at its first page, with
// what the last customer left in the engine wiped and the app's own files and
// settings kept; input and a page that cancels the warning hold it off.
#include <QFile>
#include <string>

#include "fixture.h"

namespace e2e {
namespace {

// The first page counts its visits in the settings store (which the reset
// keeps). On the first it fills a cookie and both storages, writes a file and
// goes on to the second page; on the next it reports what it finds.
const char kFirstPage[] = R"(
  const key = 'HKEY_CURRENT_USER\\Software\\OmbrixTest\\Idle';
  const visits = Number(JSON.parse(ombrix.tool.getregval(key)).visits || 0) + 1;
  ombrix.tool.setregval(key, 'visits', String(visits));
  const found = {visits: visits, cookie: document.cookie, local: localStorage.getItem('basket'),
                 session: sessionStorage.getItem('phone'),
                 kept: ombrix.file.exist(ombrix.app.apppath() + '/kept.txt')};
  if (visits == 1) {
    document.cookie = 'basket=3; max-age=3600';
    localStorage.setItem('basket', '3');
    sessionStorage.setItem('phone', '0176');
    ombrix.file.write(ombrix.app.apppath() + '/kept.txt', 'kept', function() {
      save(found, 'first.json', function() { location.href = '/second.html'; });
    });
  } else {
    report(found);
  }
)";

// The second page says it is there with the customer's data; this one also
// cancels the first warning it gets and notes each one. Its colour tells it
// from the countdown and from the window before the page paints.
const char kSecondPageColour[] = "#2E8B57";
const char kSecondPage[] = R"(
  document.documentElement.style.background = '#2E8B57';
  let keys = 0;
  document.addEventListener('keydown', function() { save({keys: ++keys}, 'keys.json'); });
  const warnings = [];
  document.addEventListener('idlereset', function(e) {
    warnings.push(e.detail.seconds);
    if (warnings.length == 1) e.preventDefault();
    save({warnings: warnings, local: localStorage.getItem('basket')}, 'warned.json');
  });
  save({cookie: document.cookie, local: localStorage.getItem('basket'),
        session: sessionStorage.getItem('phone')}, 'second.json');
)";

class IdleTest : public ShellTest {
 protected:
  void StartApp(const QJsonObject& kiosk) {
    server_ = std::make_unique<PageServer>(std::map<std::string, QByteArray>{
        {"/index.html", TestPage(kFirstPage)}, {"/second.html", TestPage(kSecondPage)}});
    QJsonObject manifest = PageManifest("Idle", {{"launch_state", "maximized"}});
    manifest["first_page"] = QStringLiteral("http://127.0.0.1:%1/index.html").arg(server_->port());
    manifest["kiosk"] = kiosk;
    shell_->WriteManifest(manifest);
    shell_->Start();
    const unsigned long window = shell_->WaitForWindow("Idle");
    ASSERT_NE(window, 0u);
    const Geometry g = shell_->GetGeometry(window);
    center_x_ = g.x + g.width / 2;
    left_x_ = g.x + 12;
    center_y_ = g.y + g.height / 2;
  }

  // The colour of the screen left of the main window's centre (beside the
  // countdown's text), as "#RRGGBB".
  std::string CenterColour() const {
    const std::string text = x_->X("import -window root -crop 1x1+" + std::to_string(left_x_) +
                                   "+" + std::to_string(center_y_) + " -depth 8 txt:-");
    const size_t at = text.find(" #");  // after the "# ImageMagick ..." head line
    return at == std::string::npos ? text : text.substr(at + 1, 7);
  }

  size_t Resets() const {
    const std::string out = shell_->Output();
    size_t n = 0;
    for (size_t at = out.find("idle reset\r\n"); at != std::string::npos;
         at = out.find("idle reset\r\n", at + 1))
      ++n;
    return n;
  }

  std::unique_ptr<PageServer> server_;
  int center_x_ = 0;
  int left_x_ = 0;
  int center_y_ = 0;
};

TEST_F(IdleTest, ALeftCounterStartsAgainAtItsFirstPageWithTheCustomersDataWiped) {
  const auto started = Clock::now();
  StartApp({{"idle_reset_seconds", 4}});
  const QJsonObject second = shell_->WaitForResults(milliseconds(20000), "second.json");
  EXPECT_EQ(second["cookie"].toString(), "basket=3");
  EXPECT_EQ(second["local"].toString(), "3");
  EXPECT_EQ(second["session"].toString(), "0176");

  const QJsonObject again = shell_->WaitForResults(milliseconds(20000));
  const auto took = Clock::now() - started;
  EXPECT_GE(took, milliseconds(4000));
  EXPECT_LT(took, milliseconds(12000));
  EXPECT_EQ(again["visits"].toInt(), 2);  // the settings store is kept
  EXPECT_TRUE(again["kept"].toBool());    // and the app's files
  EXPECT_EQ(again["cookie"].toString(), "");
  EXPECT_TRUE(again["local"].isNull());
  EXPECT_TRUE(again["session"].isNull());
  EXPECT_EQ(shell_->Wait(), 0);
  EXPECT_EQ(Resets(), 1u);
  QFile kept(shell_->dir() + "/kept.txt");
  EXPECT_TRUE(kept.open(QIODevice::ReadOnly));
}

TEST_F(IdleTest, InputAndACancelledWarningKeepTheSessionAndTheShellsCountdownEndsWithAClick) {
  StartApp({{"idle_reset_seconds", 4}, {"idle_warning_seconds", 2}});
  shell_->WaitForResults(milliseconds(20000), "second.json");
  const std::string page = kSecondPageColour;
  ASSERT_TRUE(WaitFor([&] { return CenterColour() == page; }, milliseconds(5000)))
      << CenterColour();
  // A customer who types for longer than the reset time is never warned: each
  // key is typed once the page has seen the one before.
  x_->X("xdotool mousemove " + std::to_string(center_x_) + " " + std::to_string(center_y_));
  const auto typing = Clock::now();
  for (int i = 1; Clock::now() - typing < milliseconds(6000); ++i) {
    x_->X("xdotool key a");
    ASSERT_TRUE(WaitFor(
        [&] { return shell_->WaitForResults(milliseconds(0), "keys.json")["keys"].toInt() >= i; },
        milliseconds(5000)));
  }
  EXPECT_FALSE(QFile::exists(shell_->dir() + "/warned.json"));
  EXPECT_EQ(Resets(), 0u);

  // Left alone: the first warning (2 s left) is cancelled, the data stays for
  // another period; the second is not, and the shell counts down over the page.
  const auto warned = Clock::now();
  ASSERT_TRUE(WaitFor(
      [&] {
        return shell_->WaitForResults(milliseconds(0), "warned.json")["warnings"]
                   .toArray()
                   .size() == 2;
      },
      milliseconds(15000)));
  EXPECT_GE(Clock::now() - warned, milliseconds(2500));
  const QJsonObject seen = shell_->WaitForResults(milliseconds(0), "warned.json");
  EXPECT_EQ(seen["warnings"].toArray().at(0).toInt(), 2);
  EXPECT_EQ(seen["warnings"].toArray().at(1).toInt(), 2);
  EXPECT_EQ(seen["local"].toString(), "3");
  ASSERT_TRUE(WaitFor([&] { return CenterColour() == "#1D2B3A"; }, milliseconds(5000)))
      << CenterColour() << " (the page: " << page << ")";
  // A click ends the countdown, and the page stays.
  x_->X("xdotool click 1");
  EXPECT_TRUE(WaitFor([&] { return CenterColour() == page; }, milliseconds(3000)))
      << CenterColour() << " (the page: " << page << ")";
  EXPECT_EQ(Resets(), 0u);

  // Left alone again and not cancelled: the reset comes, and the first page finds nothing.
  const QJsonObject again = shell_->WaitForResults(milliseconds(20000));
  EXPECT_EQ(again["visits"].toInt(), 2);
  EXPECT_TRUE(again["local"].isNull());
  EXPECT_TRUE(again["session"].isNull());
  EXPECT_EQ(shell_->Wait(), 0);
  EXPECT_EQ(Resets(), 1u);
}

}  // namespace
}  // namespace e2e
