// When the service manager's watchdog is fed, and what the shell's status line
// says.
#include "kiosk/watchdog_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "browser/crash_restart.h"
#include "kiosk/service_notify.h"

namespace ombrix {
namespace {

PageStatus Status(PageState state, bool responsive = true) {
  PageStatus status;
  status.state = state;
  status.responsive = responsive;
  status.url = QStringLiteral("http://127.0.0.1:8080/");
  return status;
}

TEST(WatchdogSchedule, FedWhileThePageAnswersAndForHalfAMinuteOfARestart) {
  WatchdogSchedule schedule;
  EXPECT_TRUE(schedule.Feeds(0));  // the first load, before any news
  for (PageState state :
       {PageState::kLoading, PageState::kShown, PageState::kFailed, PageState::kWaiting}) {
    schedule.OnStatus(Status(state), 1000);
    EXPECT_TRUE(schedule.Feeds(1000)) << PageStateName(state);
    schedule.OnStatus(Status(state, false), 1000);
    EXPECT_FALSE(schedule.Feeds(1000)) << PageStateName(state) << ", not responding";
  }
  schedule.OnStatus(Status(PageState::kHung), 2000);
  EXPECT_FALSE(schedule.Feeds(2000));

  // A restart: fed for the ladder's longest wait from its start, whatever the
  // ended web process last said; a further crash on the way does not extend it.
  schedule.OnStatus(Status(PageState::kRestarting, false), 10000);
  EXPECT_TRUE(schedule.Feeds(10000));
  schedule.OnStatus(Status(PageState::kRestarting), 25000);
  EXPECT_TRUE(schedule.Feeds(10000 + WatchdogSchedule::kRestartGraceMs));
  EXPECT_FALSE(schedule.Feeds(10001 + WatchdogSchedule::kRestartGraceMs));
  // Started again: fed again, and the next restart has its own half minute.
  schedule.OnStatus(Status(PageState::kLoading), 50000);
  EXPECT_TRUE(schedule.Feeds(50000));
  schedule.OnStatus(Status(PageState::kRestarting), 60000);
  EXPECT_TRUE(schedule.Feeds(60000 + WatchdogSchedule::kRestartGraceMs));

  // The grace is the restart ladder's longest wait.
  CrashRestarts restarts;
  int longest = 0;
  for (qint64 now = 0; now < 600000; now += 100) longest = std::max(longest, restarts.OnCrash(now));
  EXPECT_EQ(longest, WatchdogSchedule::kRestartGraceMs);
}

TEST(ServiceStatusText, StateAddressAndNote) {
  EXPECT_EQ(ServiceStatusText(Status(PageState::kShown)), "shown http://127.0.0.1:8080/");
  EXPECT_EQ(ServiceStatusText(Status(PageState::kShown, false)),
            "shown http://127.0.0.1:8080/ (not responding)");
  EXPECT_EQ(ServiceStatusText(Status(PageState::kHung, false)), "hung http://127.0.0.1:8080/");
  EXPECT_EQ(ServiceStatusText(Status(PageState::kWaiting)),
            "waiting http://127.0.0.1:8080/ (for the server)");
  PageStatus restarting = Status(PageState::kRestarting, false);
  restarting.restarts = 2;
  restarting.url = QStringLiteral("file:///opt/shop/web/index.html?a\nb");
  EXPECT_EQ(ServiceStatusText(restarting),
            "restarting file:///opt/shop/web/index.html?a b (restart 2)");
}

}  // namespace
}  // namespace ombrix
