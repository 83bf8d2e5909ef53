#include "kiosk/watchdog_schedule.h"

namespace ombrix {

void WatchdogSchedule::OnStatus(const PageStatus& status, qint64 now_ms) {
  // A restart is timed from the moment the page entered it; a further crash
  // while it still restarts does not extend the grace.
  if (status.state == PageState::kRestarting && state_ != PageState::kRestarting)
    restart_began_ms_ = now_ms;
  state_ = status.state;
  responsive_ = status.responsive;
}

bool WatchdogSchedule::Feeds(qint64 now_ms) const {
  switch (state_) {
    case PageState::kHung:
      return false;
    case PageState::kRestarting:
      // The old web process is gone: whether it answered no longer counts.
      return now_ms - restart_began_ms_ <= kRestartGraceMs;
    case PageState::kLoading:
    case PageState::kShown:
    case PageState::kFailed:
    case PageState::kWaiting:
      return responsive_;
  }
  return false;
}

}  // namespace ombrix
