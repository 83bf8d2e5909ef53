#include "kiosk/screen_rules.h"

#include <algorithm>

namespace ombrix {

CursorTimer::CursorTimer(int seconds) : limit_ms_(seconds < 0 ? -1 : qint64(seconds) * 1000) {}

CursorStep CursorTimer::Start(qint64 now_ms) {
  last_motion_ms_ = now_ms;
  CursorStep step;
  if (limit_ms_ == 0) {
    hidden_ = true;
    step.hide = true;
  } else if (limit_ms_ > 0) {
    step = WaitFrom(now_ms);
  }
  return step;
}

CursorStep CursorTimer::Moved(qint64 now_ms) {
  CursorStep step;
  if (limit_ms_ <= 0) return step;  // never hidden, or always
  last_motion_ms_ = now_ms;
  if (hidden_) {
    hidden_ = false;
    step.show = true;
  }
  // While a wait runs, its end looks at the last motion; no second wait.
  if (!waiting_) step.wait_ms = WaitFrom(now_ms).wait_ms;
  return step;
}

CursorStep CursorTimer::Due(qint64 now_ms) {
  waiting_ = false;
  CursorStep step;
  if (limit_ms_ <= 0 || hidden_) return step;
  if (now_ms - last_motion_ms_ >= limit_ms_) {
    hidden_ = true;
    step.hide = true;
    return step;
  }
  return WaitFrom(now_ms);
}

CursorStep CursorTimer::WaitFrom(qint64 now_ms) {
  CursorStep step;
  const qint64 left = std::max<qint64>(0, last_motion_ms_ + limit_ms_ - now_ms);
  step.wait_ms = std::min(left, kLongestWaitMs);
  waiting_ = true;
  return step;
}

}  // namespace ombrix
