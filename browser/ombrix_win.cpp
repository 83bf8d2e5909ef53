// The window layer of the borderless main window.
#include "browser/ombrix_win.h"

#include <QDebug>
#include <cmath>
#include <cstring>

#include "browser/ombrix_cef_handler.h"

namespace ombrix {
namespace {

constexpr auto kWatchedStates = GdkWindowState(
    GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN);

constexpr auto kAnyButton = GdkModifierType(GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK |
                                            GDK_BUTTON4_MASK | GDK_BUTTON5_MASK);

// How the window system names one part of the resize band: the edge a drag
// pulls and the cursor shown over it.
struct BandGrip {
  GdkWindowEdge edge;
  GdkCursorType cursor;
};

BandGrip GripOf(HitArea area) {
  switch (area) {
    case HitArea::kLeft:
      return {GDK_WINDOW_EDGE_WEST, GDK_LEFT_SIDE};
    case HitArea::kRight:
      return {GDK_WINDOW_EDGE_EAST, GDK_RIGHT_SIDE};
    case HitArea::kTop:
      return {GDK_WINDOW_EDGE_NORTH, GDK_TOP_SIDE};
    case HitArea::kBottom:
      return {GDK_WINDOW_EDGE_SOUTH, GDK_BOTTOM_SIDE};
    case HitArea::kTopLeft:
      return {GDK_WINDOW_EDGE_NORTH_WEST, GDK_TOP_LEFT_CORNER};
    case HitArea::kTopRight:
      return {GDK_WINDOW_EDGE_NORTH_EAST, GDK_TOP_RIGHT_CORNER};
    case HitArea::kBottomLeft:
      return {GDK_WINDOW_EDGE_SOUTH_WEST, GDK_BOTTOM_LEFT_CORNER};
    default:
      return {GDK_WINDOW_EDGE_SOUTH_EAST, GDK_BOTTOM_RIGHT_CORNER};
  }
}

// Fullscreen counts as the normal state: the window is not maximised, it
// covers the screen as a normal window placed there would.
const char* StateMessage(GdkWindowState state) {
  if (state & GDK_WINDOW_STATE_ICONIFIED) return "windowstate.min";
  if (state & GDK_WINDOW_STATE_FULLSCREEN) return "windowstate.normal";
  if (state & GDK_WINDOW_STATE_MAXIMIZED) return "windowstate.max";
  return "windowstate.normal";
}

OmbrixCefHandler& HandlerOf(gpointer data) { return *static_cast<OmbrixCefHandler*>(data); }

// The part of the main window under a point of the view (view coordinates,
// which are the page's pixels: the view fills the window).
HitArea AreaAt(OmbrixCefHandler& handler, GtkWidget* view, double x, double y) {
  const Rect page{0, 0, gtk_widget_get_allocated_width(view),
                  gtk_widget_get_allocated_height(view)};
  // A maximised, fullscreen or minimised window has no border to pull.
  const bool band_locked =
      handler.disable_resize_ || (StateOf(handler.main_window()) & kWatchedStates);
  return HitTest(page, static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)),
                 handler.caption_regions_, band_locked);
}

// ---- state reports ----

void Report(OmbrixCefHandler& handler, const char* message) {
  qDebug() << message + sizeof("windowstate.") - 1;
  handler.frame_.last_report = message;
  handler.NotifyWindowState(message);
}

gboolean ReportState(gpointer data) {
  OmbrixCefHandler& handler = HandlerOf(data);
  handler.frame_.report_source = 0;
  Report(handler, StateMessage(StateOf(handler.main_window())));
  return G_SOURCE_REMOVE;
}

gboolean EndBatch(gpointer data) {
  HandlerOf(data).frame_.report_source = 0;
  return G_SOURCE_REMOVE;
}

// A size change is reported once the events in flight are handled, with the
// state the window is in after them.
void ScheduleReport(OmbrixCefHandler& handler) {
  MainWindowFrame& frame = handler.frame_;
  if (!frame.report_source) frame.report_source = g_idle_add(ReportState, &handler);
}

// A change of state is reported at once, so that a minimise and a restore that
// arrive together (a busy shell reads them in one batch) are both reported. A
// maximise or restore also changes the size: the size change of the same batch
// is not reported a second time.
void ReportStateChange(OmbrixCefHandler& handler, const char* message) {
  MainWindowFrame& frame = handler.frame_;
  if (frame.report_source) g_source_remove(frame.report_source);
  Report(handler, message);
  frame.report_source = g_idle_add(EndBatch, &handler);
}

gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
  MainWindowFrame& frame = HandlerOf(data).frame_;
  const bool asked = event->width == frame.asked_width && event->height == frame.asked_height;
  const bool changed = event->width != frame.before_width || event->height != frame.before_height;
  if (asked || changed) frame.asked_width = frame.asked_height = 0;
  if (event->width != frame.last_width || event->height != frame.last_height) {
    frame.last_width = event->width;
    frame.last_height = event->height;
    ScheduleReport(HandlerOf(data));
  }
  return FALSE;
}

gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
  OmbrixCefHandler& handler = HandlerOf(data);
  MainWindowFrame& frame = handler.frame_;
  if (!(event->changed_mask & kWatchedStates)) return FALSE;
  const bool maximised_now = (event->changed_mask & GDK_WINDOW_STATE_MAXIMIZED) &&
                             (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED);
  if (maximised_now && frame.program_maximize) {
    frame.program_maximize = false;
  } else if (maximised_now && handler.disable_resize_) {
    // Resizing is locked: a maximise from the window manager (its menu, a key,
    // a pager) is taken back.
    qDebug() << "maximise refused: resizing is locked";
    gtk_window_unmaximize(handler.main_window());
    ScheduleReport(handler);
    return FALSE;
  }
  const char* message = StateMessage(event->new_window_state);
  if (std::strcmp(message, frame.last_report)) {
    ReportStateChange(handler, message);
  } else {
    ScheduleReport(handler);
  }
  return FALSE;
}

// Shown and hidden by the program; a minimised window is not hidden.
void OnShow(GtkWidget*, gpointer data) {
  qDebug() << "show";
  HandlerOf(data).NotifyWindowState("windowstate.show");
}

void OnHide(GtkWidget*, gpointer data) {
  qDebug() << "hide";
  HandlerOf(data).NotifyWindowState("windowstate.hide");
}

// ---- resize band cursor ----

// The page sets its own cursor on the same window whenever it likes (often a
// moment late); while the pointer is on the band the edge cursor stays.
void OnCursorChanged(GdkWindow* window, GParamSpec*, gpointer data) {
  MainWindowFrame& frame = *static_cast<MainWindowFrame*>(data);
  if (!IsResizeEdge(frame.cursor_area)) return;
  GdkCursor* now = gdk_window_get_cursor(window);
  if (now == frame.edge_cursor) return;
  g_set_object(&frame.page_cursor, now);
  gdk_window_set_cursor(window, frame.edge_cursor);
}

void WatchCursor(MainWindowFrame& frame, GdkWindow* window) {
  if (frame.cursor_window == window) return;
  if (frame.cursor_window) {
    g_signal_handler_disconnect(frame.cursor_window, frame.cursor_watch);
    g_object_remove_weak_pointer(G_OBJECT(frame.cursor_window),
                                 reinterpret_cast<gpointer*>(&frame.cursor_window));
  }
  frame.cursor_window = window;
  g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&frame.cursor_window));
  frame.cursor_watch =
      g_signal_connect(window, "notify::cursor", G_CALLBACK(OnCursorChanged), &frame);
}

// Shows the cursor of area's edge, or gives the page its own cursor back.
void ShowBandCursor(MainWindowFrame& frame, GdkWindow* window, HitArea area) {
  if (IsResizeEdge(area)) {
    if (area == frame.cursor_area) return;
    if (!IsResizeEdge(frame.cursor_area)) {
      g_set_object(&frame.page_cursor, gdk_window_get_cursor(window));
    }
    g_clear_object(&frame.edge_cursor);
    frame.edge_cursor =
        gdk_cursor_new_for_display(gdk_window_get_display(window), GripOf(area).cursor);
    frame.cursor_area = area;
    gdk_window_set_cursor(window, frame.edge_cursor);
    return;
  }
  if (!IsResizeEdge(frame.cursor_area)) return;
  frame.cursor_area = HitArea::kClient;
  gdk_window_set_cursor(window, frame.page_cursor);
  g_clear_object(&frame.page_cursor);
  g_clear_object(&frame.edge_cursor);
}

// ---- pointer on the view ----

bool SwallowRelease(MainWindowFrame& frame, guint button, bool swallow) {
  if (button >= 32) return false;
  const guint bit = 1u << button;
  const bool was = frame.swallowed_buttons & bit;
  frame.swallowed_buttons =
      swallow ? (frame.swallowed_buttons | bit) : (frame.swallowed_buttons & ~bit);
  return was;
}

gboolean OnViewButtonPress(GtkWidget* view, GdkEventButton* event, gpointer data) {
  OmbrixCefHandler& handler = HandlerOf(data);
  MainWindowFrame& frame = handler.frame_;
  if (handler.exiting() || !handler.main_window()) return FALSE;
  const HitArea area = AreaAt(handler, view, event->x, event->y);
  const bool primary = event->button == GDK_BUTTON_PRIMARY;
  if (area == HitArea::kClient || (area == HitArea::kCaption && !primary)) {
    SwallowRelease(frame, event->button, false);
    return FALSE;  // the page's own
  }
  SwallowRelease(frame, event->button, true);
  const int x_root = static_cast<int>(std::floor(event->x_root));
  const int y_root = static_cast<int>(std::floor(event->y_root));
  if (IsResizeEdge(area)) {
    if (primary && event->type == GDK_BUTTON_PRESS) {
      gtk_window_begin_resize_drag(handler.main_window(), GripOf(area).edge, event->button, x_root,
                                   y_root, event->time);
    }
    return TRUE;
  }
  // GDK follows the press that completes a double-click with a 2BUTTON_PRESS,
  // a third quick press with a 3BUTTON_PRESS, which leaves that press's move armed.
  if (event->type == GDK_BUTTON_PRESS) {
    frame.move_armed = true;
    frame.move_button = event->button;
    frame.move_x_root = x_root;
    frame.move_y_root = y_root;
  } else if (event->type == GDK_2BUTTON_PRESS) {
    frame.move_armed = false;
    ToggleMaximize(handler, false);
  }
  return TRUE;
}

gboolean OnViewButtonRelease(GtkWidget*, GdkEventButton* event, gpointer data) {
  MainWindowFrame& frame = HandlerOf(data).frame_;
  if (event->button == frame.move_button) frame.move_armed = false;
  return SwallowRelease(frame, event->button, false) ? TRUE : FALSE;
}

// Hands an armed caption press to the window manager once the pointer has
// travelled far enough to be a drag; the window then follows from the press.
void MoveWhenDragged(OmbrixCefHandler& handler, GtkWidget* view, const GdkEventMotion* event) {
  MainWindowFrame& frame = handler.frame_;
  if (!gtk_drag_check_threshold(view, frame.move_x_root, frame.move_y_root,
                                static_cast<int>(std::floor(event->x_root)),
                                static_cast<int>(std::floor(event->y_root)))) {
    return;
  }
  frame.move_armed = false;
  gtk_window_begin_move_drag(handler.main_window(), frame.move_button, frame.move_x_root,
                             frame.move_y_root, event->time);
}

gboolean OnViewMotion(GtkWidget* view, GdkEventMotion* event, gpointer data) {
  OmbrixCefHandler& handler = HandlerOf(data);
  MainWindowFrame& frame = handler.frame_;
  GdkWindow* window = gtk_widget_get_window(view);
  if (handler.exiting() || !handler.main_window() || !window) return FALSE;
  if (frame.move_armed && (event->state & kAnyButton)) {
    MoveWhenDragged(handler, view, event);
    return TRUE;
  }
  WatchCursor(frame, window);
  // A drag that began on the page (a selection, a slider) stays the page's.
  const HitArea area =
      (event->state & kAnyButton) ? HitArea::kClient : AreaAt(handler, view, event->x, event->y);
  const bool on_band = IsResizeEdge(area);
  ShowBandCursor(frame, window, on_band ? area : HitArea::kClient);
  return on_band ? TRUE : FALSE;  // the band is the frame: the page does not see it
}

gboolean OnViewLeave(GtkWidget* view, GdkEventCrossing*, gpointer data) {
  MainWindowFrame& frame = HandlerOf(data).frame_;
  if (GdkWindow* window = gtk_widget_get_window(view)) {
    ShowBandCursor(frame, window, HitArea::kClient);
  }
  return FALSE;
}

}  // namespace

GdkWindowState StateOf(GtkWindow* window) {
  GdkWindow* gdk_window = window ? gtk_widget_get_window(GTK_WIDGET(window)) : nullptr;
  return gdk_window ? gdk_window_get_state(gdk_window) : GdkWindowState(0);
}

MainWindowFrame::~MainWindowFrame() {
  if (report_source) g_source_remove(report_source);
  if (cursor_window) {
    g_signal_handler_disconnect(cursor_window, cursor_watch);
    g_object_remove_weak_pointer(G_OBJECT(cursor_window),
                                 reinterpret_cast<gpointer*>(&cursor_window));
  }
  g_clear_object(&edge_cursor);
  g_clear_object(&page_cursor);
}

void HookMainWindow(OmbrixCefHandler& handler, GtkWindow* window, WebKitWebView* view) {
  g_signal_connect(window, "configure-event", G_CALLBACK(OnConfigure), &handler);
  g_signal_connect(window, "window-state-event", G_CALLBACK(OnWindowState), &handler);
  g_signal_connect(window, "show", G_CALLBACK(OnShow), &handler);
  g_signal_connect(window, "hide", G_CALLBACK(OnHide), &handler);
  // Connected before the engine's own handlers, which run last.
  g_signal_connect(view, "button-press-event", G_CALLBACK(OnViewButtonPress), &handler);
  g_signal_connect(view, "button-release-event", G_CALLBACK(OnViewButtonRelease), &handler);
  g_signal_connect(view, "motion-notify-event", G_CALLBACK(OnViewMotion), &handler);
  g_signal_connect(view, "leave-notify-event", G_CALLBACK(OnViewLeave), &handler);
}

void ResizeMainWindow(OmbrixCefHandler& handler, int width, int height) {
  MainWindowFrame& frame = handler.frame_;
  gtk_window_get_size(handler.main_window(), &frame.before_width, &frame.before_height);
  const bool same = width == frame.before_width && height == frame.before_height;
  frame.asked_width = same ? 0 : width;
  frame.asked_height = same ? 0 : height;
  gtk_window_resize(handler.main_window(), width, height);
}

void MainWindowSize(OmbrixCefHandler& handler, int* width, int* height) {
  const MainWindowFrame& frame = handler.frame_;
  if (frame.asked_width > 0) {
    *width = frame.asked_width;
    *height = frame.asked_height;
    return;
  }
  gtk_window_get_size(handler.main_window(), width, height);
}

void ToggleMaximize(OmbrixCefHandler& handler, bool by_page) {
  GtkWindow* window = handler.main_window();
  if (!window || (handler.disable_resize_ && !by_page)) return;
  const GdkWindowState state = StateOf(window);
  if (state & GDK_WINDOW_STATE_FULLSCREEN) return;
  if (state & GDK_WINDOW_STATE_MAXIMIZED) {
    gtk_window_unmaximize(window);
  } else {
    MaximizeMainWindow(handler);
  }
}

void MaximizeMainWindow(OmbrixCefHandler& handler) {
  GtkWindow* window = handler.main_window();
  if (!window) return;
  // Only a maximise that will happen is marked: a mark left over would let the
  // next maximise of the window manager through the lock.
  if (!(StateOf(window) & GDK_WINDOW_STATE_MAXIMIZED)) handler.frame_.program_maximize = true;
  gtk_window_maximize(window);
}

}  // namespace ombrix
