// The pointer's timer over the shell's windows, kept apart from GTK so it is
// checked without a window: hidden after a pause in its motion of
// "hide_cursor_seconds" (0: always hidden, -1: never), shown again by the next
// motion.
#pragma once

#include <QtGlobal>

namespace ombrix {

// What the shell does after a call of the timer: hide or show the pointer,
// and whether to call Due() after wait_ms (-1: no call is needed).
struct CursorStep {
  bool hide = false;
  bool show = false;
  qint64 wait_ms = -1;
};

class CursorTimer {
 public:
  // The longest single wait: a longer pause is waited for in several.
  static constexpr qint64 kLongestWaitMs = 24 * 3600 * 1000;

  explicit CursorTimer(int seconds);
  bool enabled() const { return limit_ms_ >= 0; }
  bool hidden() const { return hidden_; }

  // The shell starts at now_ms: the pause counts from here.
  CursorStep Start(qint64 now_ms);
  // The pointer moved at now_ms.
  CursorStep Moved(qint64 now_ms);
  // The wait asked for by an earlier step is over at now_ms.
  CursorStep Due(qint64 now_ms);

 private:
  CursorStep WaitFrom(qint64 now_ms);

  qint64 limit_ms_;
  qint64 last_motion_ms_ = 0;
  bool hidden_ = false;
  bool waiting_ = false;  // a Due() call is to come
};

}  // namespace ombrix
