// The trusted-origins list as a vendor writes it, against the origins frames
// really have.
#include "util/trusted_origins.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

TEST(TrustedOrigins, ListEntriesMatchOriginsAsAVendorMeansThem) {
  QStringList rejected;
  const TrustedOrigins list = TrustedOrigins::FromList(
      {"client://", "file://", "https://shop.example:8443", "https://*.pay.example",
       "http://localhost", "https://*", "https://a.*.example", "ftp//x", "https://x:99999"},
      &rejected);
  EXPECT_EQ(rejected,
            (QStringList{"https://*", "https://a.*.example", "ftp//x", "https://x:99999"}));

  EXPECT_TRUE(list.Trusts("client://"));
  EXPECT_TRUE(list.Trusts("file://"));
  EXPECT_TRUE(list.Trusts("https://shop.example:8443"));
  EXPECT_TRUE(list.Trusts("HTTPS://Shop.Example:8443/"));  // letter case and a final slash
  EXPECT_FALSE(list.Trusts("https://shop.example"));       // another port
  EXPECT_FALSE(list.Trusts("http://shop.example:8443"));   // another scheme
  EXPECT_TRUE(list.Trusts("https://eu.pay.example"));
  EXPECT_FALSE(list.Trusts("https://pay.example"));  // "*" is one whole label
  EXPECT_FALSE(list.Trusts("https://a.b.pay.example"));
  EXPECT_FALSE(list.Trusts("https://evilpay.example"));
  EXPECT_TRUE(list.Trusts("http://localhost:80"));  // the default port written out
  EXPECT_FALSE(list.Trusts("http://localhost:8080"));
  EXPECT_FALSE(list.Trusts("null"));  // an opaque origin
  EXPECT_FALSE(list.Trusts("https://*.pay.example"));
}

}  // namespace
}  // namespace ombrix

namespace ombrix {
namespace {

TEST(TrustedOrigins, FramesAddressesGiveTheirOrigin) {
  EXPECT_EQ(OriginOfUrl("file:///opt/app/web/index.html"), "file://");
  EXPECT_EQ(OriginOfUrl("client://index.html"), "client://");
  EXPECT_EQ(OriginOfUrl("HTTPS://Shop.Example:8443/pay?x=1#y"), "https://shop.example:8443");
  EXPECT_EQ(OriginOfUrl("http://127.0.0.1/"), "http://127.0.0.1");
  EXPECT_EQ(OriginOfUrl("blob:https://shop.example/0b1e"), "https://shop.example");
  for (const char* opaque :
       {"about:blank", "about:srcdoc", "data:text/html,x", "", "chrome://version"})
    EXPECT_EQ(OriginOfUrl(opaque), "") << opaque;

  const TrustedOrigins list = TrustedOrigins::FromList({"file://", "http://127.0.0.1"}, nullptr);
  EXPECT_TRUE(list.TrustsUrl("file:///opt/app/web/index.html"));
  EXPECT_TRUE(list.TrustsUrl("http://127.0.0.1:80/x"));
  EXPECT_FALSE(list.TrustsUrl("http://127.0.0.1:8080/x"));
  EXPECT_FALSE(list.TrustsUrl("about:blank"));
  EXPECT_TRUE(TrustedOrigins::Everyone().TrustsUrl("about:blank"));
}

}  // namespace
}  // namespace ombrix

namespace ombrix {
namespace {

// Entries that no document could ever match are named, not kept silently.
TEST(TrustedOrigins, EntriesThatCanNeverMatchAreRejected) {
  QStringList rejected;
  const QStringList never{"https://",      "http://:8080",    "file://localhost", "client://app",
                          "https://*.com", "ftp://x.example", "https://[::1",     "http://a b"};
  const TrustedOrigins list = TrustedOrigins::FromList(
      never + QStringList{"http://[::1]:8080", "https://bücher.example", "https://*.co.uk"},
      &rejected);
  EXPECT_EQ(rejected, never);
  EXPECT_EQ(list.texts().size(), 3);
}

// IPv6 and international hosts match the origins frames at such addresses have.
TEST(TrustedOrigins, Ipv6AndInternationalHostsMatchTheirFrames) {
  const TrustedOrigins list =
      TrustedOrigins::FromList({"http://[::1]:8080", "https://BÜCHER.example"}, nullptr);
  EXPECT_EQ(OriginOfUrl("http://[::1]:8080/app?token=1"), "http://[::1]:8080");
  EXPECT_TRUE(list.TrustsUrl("http://[::1]:8080/app"));
  EXPECT_FALSE(list.TrustsUrl("http://[::2]:8080/app"));
  EXPECT_TRUE(list.TrustsUrl("https://bücher.example/"));
  EXPECT_TRUE(list.TrustsUrl("https://xn--bcher-kva.example/"));
}

// A sandboxed document's origin is opaque whatever its address says.
TEST(TrustedOrigins, DocumentOriginMustBeTheAddresssOwn) {
  EXPECT_TRUE(SameOrigin("https://shop.example", "https://shop.example"));
  EXPECT_TRUE(SameOrigin("http://[::1]:8080", "http://[::1]:8080"));
  EXPECT_TRUE(SameOrigin("file://", "file://"));
  EXPECT_TRUE(SameOrigin("client://", "client://index.html"));
  EXPECT_FALSE(SameOrigin("https://shop.example", "null"));
  EXPECT_FALSE(SameOrigin("file://", "null"));
  EXPECT_FALSE(SameOrigin("https://shop.example", "https://other.example"));
  EXPECT_FALSE(SameOrigin("", ""));
  // Log lines show no path or query.
  EXPECT_EQ(LoggedOrigin("https://shop.example/pay?token=secret"), "https://shop.example");
  EXPECT_EQ(LoggedOrigin("data:text/html,secret"), "data:");
}

}  // namespace
}  // namespace ombrix
