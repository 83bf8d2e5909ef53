// The window handler of the page queries: "WindowTest.Position" moves and sizes
// the query's window inside the work area; "Window.Minimize", "Window.Maximize",
// "Window.Restore", "Window.Hide" and "Window.FlashWin" change its state. Names
// are compared in their exact letter case; anything else is left to the next
// handler.
#pragma once

#include <gtk/gtk.h>

#include <functional>

#include "browser/query_router.h"

namespace window_test {

class Handler : public ombrix::QueryHandler {
 public:
  // resize asks the window system for a new size of a window; the shell's own
  // bookkeeping of the main window's size goes through it.
  using Resize = std::function<void(GtkWindow* window, int width, int height)>;
  // maximize asks the window system to maximise a window for the page (which
  // the shell's resize lock lets through).
  using Maximize = std::function<void(GtkWindow* window)>;
  Handler(Resize resize, Maximize maximize);

  bool OnQuery(WebKitWebView* view, int query_id, const QString& request, bool persistent,
               std::shared_ptr<ombrix::QueryCallback> callback) override;

 private:
  void Position(GtkWindow* window, const QString& request);
  void MaximizeOrRestore(GtkWindow* window);
  Resize resize_;
  Maximize maximize_;
};

}  // namespace window_test
