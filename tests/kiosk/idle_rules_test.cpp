// When a counter left alone is warned, counted down and reset.
#include "kiosk/idle_rules.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

TEST(IdleTimer, WarnsThenCountsDownThenResetsAndInputOrACancelStartsAgain) {
  IdleTimer timer(10000, 3000, 0);
  EXPECT_EQ(timer.NextTickIn(0), 7000);
  EXPECT_EQ(timer.Tick(6999), IdleAction::kNone);
  EXPECT_EQ(timer.Tick(7000), IdleAction::kAsk);
  EXPECT_EQ(timer.SecondsLeft(7000), 3);
  // The page cancels: another whole period from its answer.
  EXPECT_EQ(timer.Answered(timer.ask(), true, 7100), IdleAction::kNone);
  EXPECT_EQ(timer.phase(), IdlePhase::kWatching);
  EXPECT_EQ(timer.Tick(14099), IdleAction::kNone);
  EXPECT_EQ(timer.Tick(14100), IdleAction::kAsk);
  // A late answer to the old event changes nothing; a page that never answers
  // gets the countdown after the answer limit.
  EXPECT_EQ(timer.Answered(timer.ask() - 1, true, 14200), IdleAction::kNone);
  EXPECT_EQ(timer.Tick(14100 + IdleTimer::kAnswerLimitMs), IdleAction::kShowCountdown);
  // The countdown ticks as its seconds change; input ends it.
  EXPECT_EQ(timer.NextTickIn(15100), 1000);
  EXPECT_EQ(timer.Input(15500), IdleAction::kHideCountdown);
  EXPECT_EQ(timer.Tick(22500), IdleAction::kAsk);
  EXPECT_EQ(timer.Answered(timer.ask(), false, 22600), IdleAction::kShowCountdown);
  EXPECT_EQ(timer.Tick(25500), IdleAction::kReset);
  // Input while the reset runs waits for it; then the time starts again.
  EXPECT_EQ(timer.Input(25600), IdleAction::kNone);
  EXPECT_EQ(timer.NextTickIn(25600), -1);
  timer.ResetDone(26000);
  EXPECT_EQ(timer.NextTickIn(26000), 7000);
}

TEST(IdleTimer, NoWarningOrNoResetAndAWarningLongerThanTheReset) {
  IdleTimer off(0, 10000, 0);
  EXPECT_EQ(off.phase(), IdlePhase::kOff);
  EXPECT_EQ(off.NextTickIn(0), -1);
  IdleTimer silent(4000, 0, 0);  // no warning: straight to the reset
  EXPECT_EQ(silent.NextTickIn(0), 4000);
  EXPECT_EQ(silent.Tick(4000), IdleAction::kReset);
  IdleTimer long_warning(4000, 10000, 0);  // warned from the start
  EXPECT_EQ(long_warning.Tick(0), IdleAction::kAsk);
  EXPECT_EQ(long_warning.SecondsLeft(0), 4);
  EXPECT_EQ(IdleCountdownText(7), QStringLiteral("Touch the screen to continue \u2014 7"));
}

}  // namespace
}  // namespace ombrix
