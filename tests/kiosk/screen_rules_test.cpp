// When the pointer is hidden and shown again.
#include "kiosk/screen_rules.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

TEST(CursorTimer, HiddenAfterAPauseInTheMotionAndShownByTheNextOne) {
  CursorTimer timer(2);
  CursorStep step = timer.Start(0);
  EXPECT_FALSE(step.hide);
  EXPECT_EQ(step.wait_ms, 2000);
  // Motions while the wait runs ask for no second wait; its end looks again.
  EXPECT_EQ(timer.Moved(1500).wait_ms, -1);
  step = timer.Due(2000);
  EXPECT_FALSE(step.hide);
  EXPECT_EQ(step.wait_ms, 1500);
  step = timer.Due(3500);
  EXPECT_TRUE(step.hide);
  EXPECT_TRUE(timer.hidden());
  // The next motion shows it and starts the wait again.
  step = timer.Moved(9000);
  EXPECT_TRUE(step.show);
  EXPECT_EQ(step.wait_ms, 2000);
  EXPECT_FALSE(timer.hidden());
}

TEST(CursorTimer, ZeroHidesForGoodAndMinusOneNeverAndHugePausesWaitInParts) {
  CursorTimer always(0);
  EXPECT_TRUE(always.Start(0).hide);
  const CursorStep moved = always.Moved(100);
  EXPECT_FALSE(moved.show);
  EXPECT_EQ(moved.wait_ms, -1);

  CursorTimer never(-1);
  EXPECT_FALSE(never.enabled());
  EXPECT_EQ(never.Start(0).wait_ms, -1);
  EXPECT_FALSE(never.Moved(5).show);

  // A pause of a billion seconds is waited for a day at a time, never overflowing.
  CursorTimer huge(1000000000);
  EXPECT_EQ(huge.Start(0).wait_ms, CursorTimer::kLongestWaitMs);
  const CursorStep later = huge.Due(CursorTimer::kLongestWaitMs);
  EXPECT_FALSE(later.hide);
  EXPECT_EQ(later.wait_ms, CursorTimer::kLongestWaitMs);
}

}  // namespace
}  // namespace ombrix
