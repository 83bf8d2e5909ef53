// The idle reset's decisions, free of any window: when the page is warned,
// when the shell's countdown shows, when the app starts again. Times are
// milliseconds of a monotonic clock.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace ombrix {

enum class IdlePhase {
  kOff,        // no idle reset
  kWatching,   // input is awaited; the warning is not due yet
  kAsking,     // the page has been sent its event and has not answered
  kCountdown,  // the shell's countdown shows
  kResetting,  // the reset runs; input waits for it to end
};

enum class IdleAction {
  kNone,
  kAsk,            // send the page its event, with SecondsLeft()
  kShowCountdown,  // show the countdown, or bring it to SecondsLeft()
  kHideCountdown,
  kReset,  // start the app again
};

class IdleTimer {
 public:
  // A page that has not answered its event this long after it was sent gets
  // the shell's countdown anyway: a broken page cannot hold the reset off.
  static constexpr qint64 kAnswerLimitMs = 1000;

  // reset_ms 0 or less: never. The warning comes at most reset_ms before; 0: none.
  IdleTimer(qint64 reset_ms, qint64 warning_ms, qint64 now);

  // A key, a pointer motion, a click, a scroll or a touch (or the main window
  // shown again): the timer starts again; a countdown that shows goes.
  IdleAction Input(qint64 now);
  // What is due at now; call it again after NextTickIn(now).
  IdleAction Tick(qint64 now);
  // The page's answer to event number ask (cancelled: it called preventDefault).
  // A cancel keeps the session for another reset time; an answer to an older
  // event, or one after input, changes nothing.
  IdleAction Answered(int ask, bool cancelled, qint64 now);
  // The reset has started the first page: the timer starts again.
  void ResetDone(qint64 now);

  IdlePhase phase() const { return phase_; }
  // The number of the last event sent to the page.
  int ask() const { return ask_; }
  // Whole seconds until the reset, rounded up (at least 0).
  int SecondsLeft(qint64 now) const;
  // Milliseconds until Tick has something to do (0: now); -1 when nothing will come.
  qint64 NextTickIn(qint64 now) const;

 private:
  qint64 Deadline() const { return last_input_ + reset_ms_; }
  qint64 WarnAt() const { return Deadline() - warning_ms_; }

  qint64 reset_ms_;
  qint64 warning_ms_;
  IdlePhase phase_;
  qint64 last_input_;
  qint64 asked_at_ = 0;
  int ask_ = 0;
};

// The script that sends the main page its cancelable "idlereset" event with
// detail.seconds; it evaluates to false when the page cancelled it.
QByteArray IdleEventScript(int seconds);

// The shell's countdown: "Touch the screen to continue — N".
QString IdleCountdownText(int seconds);

}  // namespace ombrix
