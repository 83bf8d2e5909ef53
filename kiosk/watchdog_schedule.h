// When the shell tells the service manager's watchdog that it is alive: pure
// rules, kept apart from the timer and the socket so they can be checked
// without a window.
#pragma once

#include <QtGlobal>

#include "kiosk/page_status.h"

namespace ombrix {

// The watchdog is fed only while the main page works: its web process alive
// and answering. A page that is restarting keeps it fed for at most the
// restart ladder's longest wait after the restart began; a shell whose own
// recovery fails (a restart that never comes, a hung page, a stuck main loop)
// is then restarted by the service manager.
class WatchdogSchedule {
 public:
  // The longest wait of the crash restart ladder (browser/crash_restart.h).
  static constexpr qint64 kRestartGraceMs = 30000;

  // The main page's status as it was at now_ms (any monotonic clock).
  void OnStatus(const PageStatus& status, qint64 now_ms);
  // Whether a keep-alive goes out at now_ms.
  bool Feeds(qint64 now_ms) const;

 private:
  PageState state_ = PageState::kLoading;
  bool responsive_ = true;
  qint64 restart_began_ms_ = 0;
};

}  // namespace ombrix
