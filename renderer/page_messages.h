// Sending page requests to the shell (the window's process).
#pragma once

#include <cstdint>

#include "util/process_message.h"

typedef struct _WebKitWebExtension WebKitWebExtension;

namespace ombrix {

// The extension whose pages receive SendToBrowser's messages (set once at load).
void SetPageExtension(WebKitWebExtension* extension);

// Sends message from the page with this id to the shell; false when the page
// is gone.
bool SendToBrowser(std::uint64_t page_id, const ProcessMessage& message);

// The page of the running call; 0 outside a call.
std::uint64_t CurrentPageId();

}  // namespace ombrix
