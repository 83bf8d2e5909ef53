// Messages between the page side and the shell: a name plus int, bool and string
// arguments. The shell carries out the page's window and tray requests here.
#pragma once

#include <webkit2/webkit2.h>

#include <QString>
#include <vector>

#include "browser/ombrix_win.h"
#include "util/process_message.h"
#include "util/util_win.h"

class OmbrixCefHandler;

namespace ombrix {

ProcessMessage DecodeUserMessage(WebKitUserMessage* message);

// Carries out a page request; false for a name that is not a window request.
bool DispatchProcessMessage(OmbrixCefHandler& handler, const ProcessMessage& message);

}  // namespace ombrix
