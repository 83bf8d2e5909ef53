// A message between the page side and the shell: a name plus int, bool and
// string arguments, carried as a GVariant tuple of "i", "b" and "s" values.
#pragma once

#include <glib.h>

#include <QString>
#include <vector>

namespace ombrix {

struct MessageArg {
  enum Type { kInt, kBool, kString };
  Type type = kInt;
  int int_value = 0;
  bool bool_value = false;
  QString string_value;

  static MessageArg Int(int value);
  static MessageArg Bool(bool value);
  static MessageArg String(const QString& value);
};

struct ProcessMessage {
  QString name;
  std::vector<MessageArg> args;

  // An argument of another type, or a missing one, reads as 0, false or "".
  int IntArg(size_t index) const;
  bool BoolArg(size_t index) const;
  QString StringArg(size_t index) const;
};

// One of the five window-state messages the shell sends to the main page:
// "windowstate.normal", ".max", ".min", ".show" or ".hide".
bool IsWindowStateMessage(const char* name);

// Sent by the page's process when a sub-frame's document has loaded: the
// shell places its main window then too while it is still hidden.
constexpr char kFrameLoadedMessage[] = "frameloaded";

// Sent by the page's process after each dispenser command, for the shell's
// metrics: the tickets it dispensed (sellbill only, else 0) and its result code.
constexpr char kFpjResultMessage[] = "fpjresult";

// Silent printing. The page asks the shell with "print" (ask number, whether
// the main frame asks, the sub-frame's document, its base address, its
// title); the shell answers with "printresult" (ask number, CUPS job id,
// state, reason), once or more for each ask.
constexpr char kPrintMessage[] = "print";
constexpr char kPrintResultMessage[] = "printresult";
// The shell's question whether a page's process still runs its loop; the
// page side answers it at once, with a message of the same name.
constexpr char kPingMessage[] = "ombrix-ping";

// The arguments as a floating tuple; nullptr when there are none.
GVariant* EncodeMessageArgs(const ProcessMessage& message);

// Reads a tuple (or any container) of i, b and s values; others read as int 0.
ProcessMessage DecodeMessage(const char* name, GVariant* parameters);

}  // namespace ombrix
