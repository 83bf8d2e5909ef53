// When a page counts as hung, how long a failed load waits for its next try,
// and what the offline page is told.
#include "kiosk/recovery_rules.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

TEST(RecoveryRules, HangIsSilenceSinceTheLastAnswerWhileAPingIsOut) {
  HangClock clock(5000);
  EXPECT_TRUE(clock.Ping(0));
  EXPECT_FALSE(clock.Ping(250));  // one ping out at a time
  clock.Answered(300);
  EXPECT_FALSE(clock.Ping(900));  // at most one a second
  EXPECT_TRUE(clock.Ping(1000));
  // The page stops answering: silence counts from its last answer, at 300.
  EXPECT_TRUE(clock.Unanswered(2300, 2000));
  EXPECT_FALSE(clock.Hung(5299));
  EXPECT_TRUE(clock.Hung(5300));
  clock.Reset(5300);  // started again: the old ping is forgotten
  EXPECT_FALSE(clock.Hung(60000));
  // After a pause in the pings, silence counts from one interval before the next.
  EXPECT_TRUE(clock.Ping(60000));
  EXPECT_FALSE(clock.Hung(63999));
  EXPECT_TRUE(clock.Hung(64000));
  // 0: never taken for hung, however long it is silent.
  HangClock never(0);
  never.Ping(0);
  EXPECT_TRUE(never.Unanswered(3000, 2000));
  EXPECT_FALSE(never.Hung(24 * 3600 * 1000));
}

TEST(RecoveryRules, FailedLoadsWaitLongerUpToAMinuteAndOnlyRealFailuresRetry) {
  LoadRetries retries;
  std::vector<int> waits;
  for (int i = 0; i < 8; ++i) waits.push_back(retries.NextDelaySeconds());
  EXPECT_EQ(waits, (std::vector<int>{2, 4, 8, 16, 32, 60, 60, 60}));
  retries.Loaded();
  EXPECT_EQ(retries.NextDelaySeconds(), 2);

  EXPECT_EQ(ClassifyLoadFailure(true, 399, false, false, false), LoadFailure::kRetried);
  EXPECT_EQ(ClassifyLoadFailure(false, 0, false, false, false), LoadFailure::kRetried);  // TLS
  EXPECT_EQ(ClassifyLoadFailure(true, 302, false, false, false), LoadFailure::kCancelled);
  EXPECT_EQ(ClassifyLoadFailure(false, 102, true, false, false), LoadFailure::kCancelled);
  EXPECT_EQ(ClassifyLoadFailure(false, 0, false, false, true), LoadFailure::kCancelled);
  EXPECT_TRUE(IsServerFailure(500));
  EXPECT_TRUE(IsServerFailure(503));
  EXPECT_FALSE(IsServerFailure(404));
  EXPECT_FALSE(IsServerFailure(200));
}

TEST(RecoveryRules, OfflinePageGetsTheAddressWholeAndTheWait) {
  EXPECT_EQ(OfflinePageUrl("file:///opt/shop/offline.html", "http://shop.local/?a=1&b=2#top", 8),
            "file:///opt/shop/offline.html?url=http%3A%2F%2Fshop.local%2F%3Fa%3D1%26b%3D2%23top"
            "&retry=8");
  EXPECT_EQ(OfflinePageUrl("client:///offline.html?lang=zh#msg", "http://x/", 2),
            "client:///offline.html?lang=zh&url=http%3A%2F%2Fx%2F&retry=2#msg");
  const QByteArray notice = RetryNoticeHtml("http://x/<b>", 4, "12:00:04");
  EXPECT_TRUE(notice.contains("http://x/&lt;b&gt;"));
  EXPECT_TRUE(notice.contains("12:00:04"));
}

}  // namespace
}  // namespace ombrix
