// The window layer of the borderless main window (the tray icon: browser/sys_tray.h).
//
// The main window has no frame of its own, so the page's view stands in for
// one: a left press in a caption region the page declared moves the window
// through the window manager, a double-click there maximises or restores it,
// and a 4-pixel band inside the edges shows the edge cursors and resizes the
// window. Every size change, minimise, maximise, restore, show and hide is
// reported to the page as a "windowstate.*" message.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <QString>

#include "browser/sys_tray.h"
#include "browser/window_rules.h"

class OmbrixCefHandler;

namespace ombrix {

// What the window layer keeps about the main window; the handler owns one.
struct MainWindowFrame {
  MainWindowFrame() = default;
  MainWindowFrame(const MainWindowFrame&) = delete;
  MainWindowFrame& operator=(const MainWindowFrame&) = delete;
  ~MainWindowFrame();

  // The edge whose cursor the view shows, or kClient while the page's own shows.
  HitArea cursor_area = HitArea::kClient;
  GdkCursor* edge_cursor = nullptr;
  GdkCursor* page_cursor = nullptr;    // the page's cursor while an edge cursor stands in
  GdkWindow* cursor_window = nullptr;  // the view's window, watched for cursor changes
  gulong cursor_watch = 0;
  // Buttons whose press the window layer took: their release is not the page's either.
  guint swallowed_buttons = 0;
  // A caption press moves the window only once the pointer travels past the
  // drag threshold, so a click or a double-click never reaches the window manager.
  bool move_armed = false;
  guint move_button = 0;
  int move_x_root = 0;
  int move_y_root = 0;
  // The next maximise is the program's own (the launch state, the page's
  // request), allowed while resizing is locked.
  bool program_maximize = false;
  // A state report waiting for the events in flight, or the end of the batch
  // whose change of state was reported.
  guint report_source = 0;
  const char* last_report = "";
  int last_width = -1;
  int last_height = -1;
  // A size asked of the window manager and not yet configured, with the size
  // the window had when it was asked (0 x 0 when none is pending).
  int asked_width = 0;
  int asked_height = 0;
  int before_width = 0;
  int before_height = 0;
};

// The window's states as the window system has them (none before it is realised).
GdkWindowState StateOf(GtkWindow* window);

// Connects the window layer to the main window and its view.
void HookMainWindow(OmbrixCefHandler& handler, GtkWindow* window, WebKitWebView* view);

// Asks for a new size of the main window.
void ResizeMainWindow(OmbrixCefHandler& handler, int width, int height);

// The main window's size, or the size last asked for while the window manager
// has not configured it yet (GTK reports the old size until it does).
void MainWindowSize(OmbrixCefHandler& handler, int* width, int* height);

// Maximises the main window, or restores it when it is maximised, unless the
// window is fullscreen. The user's toggle (a double-click on a caption) is
// refused while resizing is locked; the page's own (by_page) is not.
void ToggleMaximize(OmbrixCefHandler& handler, bool by_page);

// Maximises the main window for the program itself: the resize lock refuses
// only the user's and the window manager's maximise.
void MaximizeMainWindow(OmbrixCefHandler& handler);

}  // namespace ombrix
