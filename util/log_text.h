// What the shell and its page side write to their logs. Page data (file text,
// clipboard text, IPC messages, store values, a callback's error) is cut
// short, and an operator can turn the debug lines off with "disable_debug_log".
#pragma once

#include <QString>

namespace ombrix {

// A log line carries at most this many characters of page data.
constexpr int kLogTextLimit = 64;

// text cut to kLogTextLimit characters, for a log line.
inline QString LogText(const QString& text) { return text.left(kLogTextLimit); }

// From now on, debug and info lines of this process are dropped; warnings and
// worse still reach the log.
void DropDebugLines();

}  // namespace ombrix
