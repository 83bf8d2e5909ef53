// When a crashed page starts again: at once a few times a minute, then after a
// growing delay, and at once again after a calm minute.
#include "browser/crash_restart.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

TEST(CrashRestarts, ThreeAtOnceThenDoublingDelaysUpToHalfAMinute) {
  CrashRestarts restarts;
  std::vector<int> delays;
  // A page that dies half a second after every start.
  qint64 now = 1000;
  for (int crash = 0; crash < 12; ++crash) {
    const int delay = restarts.OnCrash(now);
    delays.push_back(delay);
    now += delay + 500;
  }
  EXPECT_EQ(delays,
            (std::vector<int>{0, 0, 0, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000, 30000}));
}

TEST(CrashRestarts, ACalmMinuteStartsAfreshButWaitingDoesNotRefillTheBudget) {
  CrashRestarts restarts;
  qint64 now = 0;
  for (int crash = 0; crash < 3; ++crash) EXPECT_EQ(restarts.OnCrash(now += 100), 0);
  EXPECT_EQ(restarts.OnCrash(now += 100), 1000);
  // Crashes keep coming less than a minute apart: the delays keep growing
  // although the first restarts are more than a minute old.
  EXPECT_EQ(restarts.OnCrash(now += 50000), 2000);
  EXPECT_EQ(restarts.OnCrash(now += 50000), 4000);
  // A whole minute without a crash.
  EXPECT_EQ(restarts.OnCrash(now += 60001), 0);
  EXPECT_EQ(restarts.OnCrash(now += 100), 0);
}

}  // namespace
}  // namespace ombrix
