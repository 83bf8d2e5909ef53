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

// A library's error message, which may quote page data (a path, an address):
// cut so that no line grows with what the page passed.
constexpr int kLogMessageLimit = 160;
inline QString LogMessage(const char* message) {
  return QString::fromUtf8(message ? message : "").left(kLogMessageLimit);
}

// Holds this process's debug and info lines back until ReleaseDebugLines: the
// shell learns whether they are wanted only from its manifest.
void HoldDebugLines();

// Ends the hold: with drop, the held lines and every later one are dropped;
// otherwise the held lines are written out and later ones pass as usual.
// Warnings and worse are never held or dropped.
void ReleaseDebugLines(bool drop);

// Drops this process's debug and info lines from now on.
inline void DropDebugLines() {
  HoldDebugLines();
  ReleaseDebugLines(true);
}

}  // namespace ombrix
