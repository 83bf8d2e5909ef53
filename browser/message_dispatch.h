// Messages between the page side and the shell: a name plus int, bool and string
// arguments. The shell carries out the page's window and tray requests here.
#pragma once

#include <webkit2/webkit2.h>

#include <QString>
#include <memory>
#include <vector>

#include "browser/ombrix_win.h"
#include "print/silent_print.h"
#include "util/process_message.h"
#include "util/util_win.h"

class OmbrixCefHandler;
class ManifestUtil;

namespace ombrix {

ProcessMessage DecodeUserMessage(WebKitUserMessage* message);

// Carries out a page request; false for a name that is not a window request.
bool DispatchProcessMessage(OmbrixCefHandler& handler, const ProcessMessage& message);

// Silent printing as the manifest's "print" asks for it; nullptr without
// "silent". Wrong values are logged, and every print then fails with them.
std::unique_ptr<SilentPrint> MakeSilentPrint(const ManifestUtil& manifest);

// A page's "print": its job's states go back to view as "printresult".
void CarryOutPrint(OmbrixCefHandler& handler, WebKitWebView* view, const ProcessMessage& ask);

}  // namespace ombrix
