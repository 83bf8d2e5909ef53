#include "kiosk/idle_rules.h"

#include <algorithm>

namespace ombrix {

IdleTimer::IdleTimer(qint64 reset_ms, qint64 warning_ms, qint64 now)
    : reset_ms_(std::max<qint64>(0, reset_ms)),
      warning_ms_(std::clamp<qint64>(warning_ms, 0, std::max<qint64>(0, reset_ms))),
      phase_(reset_ms > 0 ? IdlePhase::kWatching : IdlePhase::kOff),
      last_input_(now) {}

IdleAction IdleTimer::Input(qint64 now) {
  if (phase_ == IdlePhase::kOff || phase_ == IdlePhase::kResetting) return IdleAction::kNone;
  last_input_ = now;
  const bool showing = phase_ == IdlePhase::kCountdown;
  phase_ = IdlePhase::kWatching;
  return showing ? IdleAction::kHideCountdown : IdleAction::kNone;
}

IdleAction IdleTimer::Tick(qint64 now) {
  switch (phase_) {
    case IdlePhase::kOff:
    case IdlePhase::kResetting:
      return IdleAction::kNone;
    case IdlePhase::kWatching:
    case IdlePhase::kAsking:
    case IdlePhase::kCountdown:
      break;
  }
  if (now >= Deadline()) {
    phase_ = IdlePhase::kResetting;
    return IdleAction::kReset;
  }
  switch (phase_) {
    case IdlePhase::kWatching:
      if (warning_ms_ <= 0 || now < WarnAt()) return IdleAction::kNone;
      phase_ = IdlePhase::kAsking;
      asked_at_ = now;
      ++ask_;
      return IdleAction::kAsk;
    case IdlePhase::kAsking:
      if (now < asked_at_ + kAnswerLimitMs) return IdleAction::kNone;
      phase_ = IdlePhase::kCountdown;
      return IdleAction::kShowCountdown;
    case IdlePhase::kCountdown:
      return IdleAction::kShowCountdown;
    default:
      return IdleAction::kNone;
  }
}

IdleAction IdleTimer::Answered(int ask, bool cancelled, qint64 now) {
  if (ask != ask_ || (phase_ != IdlePhase::kAsking && phase_ != IdlePhase::kCountdown)) {
    return IdleAction::kNone;
  }
  if (cancelled) return Input(now);
  if (phase_ == IdlePhase::kCountdown) return IdleAction::kNone;
  phase_ = IdlePhase::kCountdown;
  return IdleAction::kShowCountdown;
}

void IdleTimer::ResetDone(qint64 now) {
  if (phase_ == IdlePhase::kOff) return;
  last_input_ = now;
  phase_ = IdlePhase::kWatching;
}

int IdleTimer::SecondsLeft(qint64 now) const {
  const qint64 left = Deadline() - now;
  return left <= 0 ? 0 : int((left + 999) / 1000);
}

qint64 IdleTimer::NextTickIn(qint64 now) const {
  qint64 due = 0;
  switch (phase_) {
    case IdlePhase::kOff:
    case IdlePhase::kResetting:
      return -1;
    case IdlePhase::kWatching:
      due = warning_ms_ > 0 ? WarnAt() : Deadline();
      break;
    case IdlePhase::kAsking:
      due = std::min(asked_at_ + kAnswerLimitMs, Deadline());
      break;
    case IdlePhase::kCountdown:
      // When the seconds shown change, and at the end the reset itself.
      due = Deadline() - qint64(std::max(0, SecondsLeft(now) - 1)) * 1000;
      break;
  }
  return std::max<qint64>(0, due - now);
}

QByteArray IdleEventScript(int seconds) {
  // Run in a script world of the shell's own: the page's globals (a replaced
  // dispatchEvent or CustomEvent) do not change what the shell reads back.
  return QByteArrayLiteral(
             "document.dispatchEvent(new CustomEvent('idlereset', "
             "{cancelable: true, detail: {seconds: ") +
         QByteArray::number(std::max(0, seconds)) + QByteArrayLiteral("}}))");
}

QString IdleCountdownText(int seconds) {
  return QStringLiteral("Touch the screen to continue \u2014 %1").arg(std::max(0, seconds));
}

}  // namespace ombrix
