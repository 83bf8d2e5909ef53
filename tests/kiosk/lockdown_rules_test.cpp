// Where a locked-down page may go, and the technician's exit chord, as
// vendors write them (and as they mistype them).
#include "kiosk/lockdown_rules.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

TEST(LockdownRules, AllowListMatchesWholeOriginsAndPathPrefixes) {
  QStringList rejected;
  const UrlAllowList list = UrlAllowList::FromEntries(
      {"client:///", "file:///opt/shop/", "https://shop.example", "*", "shop", "", "https://*.x/"},
      &rejected);
  EXPECT_EQ(rejected, (QStringList{"*", "shop", "", "https://*.x/"}));
  EXPECT_TRUE(list.Allows("client:///index.html"));
  EXPECT_TRUE(list.Allows("file:///opt/shop/web/a%20b.html?x=1#top"));
  EXPECT_FALSE(list.Allows("file:///opt/shopping/index.html"));
  EXPECT_FALSE(list.Allows("file:///etc/passwd"));
  EXPECT_TRUE(list.Allows("https://shop.example/"));
  EXPECT_TRUE(list.Allows("https://SHOP.example/basket"));
  EXPECT_TRUE(list.Allows("https://shop.example"));
  EXPECT_FALSE(list.Allows("https://shop.example.evil.test/"));
  EXPECT_FALSE(list.Allows("http://shop.example/"));
  EXPECT_FALSE(list.Allows("https://evil.test/?https://shop.example/"));
  EXPECT_TRUE(list.Allows("about:blank"));  // the shell's own notices
  EXPECT_FALSE(list.Allows("javascript:alert(1)"));

  const UrlAllowList site =
      UrlAllowList::ForFirstPage("https://shop.example:8443/kiosk/index.html");
  EXPECT_TRUE(site.Allows("https://shop.example:8443/other"));
  EXPECT_FALSE(site.Allows("https://shop.example/other"));
  const UrlAllowList files = UrlAllowList::ForFirstPage("file:///opt/shop/web/index.html");
  EXPECT_TRUE(files.Allows("file:///opt/shop/web/second.html"));
  EXPECT_FALSE(files.Allows("https://example.com/"));
}

TEST(LockdownRules, ExitChordNeedsAModifierAndAKeyAndIsNeverAltF4) {
  QString error;
  const KeyChord chord = ParseKeyChord("Ctrl+Alt+Shift+E", IsKeyName, &error);
  ASSERT_TRUE(chord.valid()) << error.toStdString();
  EXPECT_TRUE(chord.ctrl && chord.alt && chord.shift && !chord.super);
  EXPECT_EQ(chord.key, "e");
  EXPECT_TRUE(ParseKeyChord("ctrl+alt+F12", IsKeyName, &error).valid());
  EXPECT_TRUE(ParseKeyChord("super+Escape", IsKeyName, &error).valid());
  for (const char* bad :
       {"alt+f4", "ctrl+alt+nokey", "ctrl+", "", "e", "shift+e", "ctrl+ctrl+e", "ctrl+e+f"}) {
    error.clear();
    EXPECT_FALSE(ParseKeyChord(bad, IsKeyName, &error).valid()) << bad;
    EXPECT_FALSE(error.isEmpty()) << bad;
  }
  EXPECT_TRUE(IsPin("4711"));
  EXPECT_FALSE(IsPin("47a1"));
  EXPECT_FALSE(IsPin(""));
  EXPECT_FALSE(IsPin("1234567890123"));
}

}  // namespace
}  // namespace ombrix
