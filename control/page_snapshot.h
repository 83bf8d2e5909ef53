// A PNG of a view's page as it is shown, written by the shell.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

namespace ombrix {

// Takes the visible part of view and writes it to path (an absolute path;
// written beside it first and renamed, so the file is never half there).
// done gets "" on success, else what went wrong; it may run after the view is gone.
void WritePageSnapshot(WebKitWebView* view, const std::string& path,
                       std::function<void(const std::string& error)> done);

}  // namespace ombrix
