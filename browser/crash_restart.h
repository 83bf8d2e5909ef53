// What the shell does when a page's web process dies (a crash, the kernel's
// out-of-memory killer): pure rules, kept apart from the window so they can be
// checked without a display.
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <vector>

namespace ombrix {

// When a crashed page starts again. The first three crashes of a minute
// restart at once; after that each restart waits twice as long as the one
// before (1 s, 2 s, 4 s, ... at most 30 s) until the page has run a whole
// minute without crashing.
class CrashRestarts {
 public:
  // A crash at now_ms (any monotonic clock); returns the delay before the page
  // starts again, 0 for at once.
  int OnCrash(qint64 now_ms);

 private:
  std::vector<qint64> immediate_;  // restarts that went at once, within the last minute
  qint64 last_crash_ms_ = 0;
  bool crashed_before_ = false;
  int delay_ms_ = 0;
};

// Plain HTML saying that the application stopped and counting down the
// delay_ms until it starts again.
QByteArray StoppedPageHtml(int delay_ms);

}  // namespace ombrix
