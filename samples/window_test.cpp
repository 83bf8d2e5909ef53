#include "samples/window_test.h"

#include <QDebug>

#include "samples/query_rules.h"
#include "util/util_win.h"

namespace window_test {
namespace {

constexpr int kToggled = GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED;
const char kAskedKey[] = "ombrix-asked-state";

// The window manager's word on a state the window was asked for ends the wait.
gboolean OnStateAnswered(GtkWidget* window, GdkEventWindowState* event, gpointer) {
  if (event->changed_mask & kToggled) g_object_set_data(G_OBJECT(window), kAskedKey, nullptr);
  return FALSE;
}

// Notes the minimised and maximised bits a request asked for: until the window
// manager answers, the window counts as being in that state, so two quick
// toggles undo each other as they would on a window that changes at once.
void Ask(GtkWindow* window, int state) {
  if (!g_object_get_data(G_OBJECT(window), "ombrix-asked-watch")) {
    g_object_set_data(G_OBJECT(window), "ombrix-asked-watch", GINT_TO_POINTER(1));
    g_signal_connect(window, "window-state-event", G_CALLBACK(OnStateAnswered), nullptr);
  }
  g_object_set_data(G_OBJECT(window), kAskedKey, GINT_TO_POINTER((state & kToggled) | 0x10000));
}

GdkWindowState StateOf(GtkWindow* window) {
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(window));
  const GdkWindowState state = gdk_window ? gdk_window_get_state(gdk_window) : GdkWindowState(0);
  const int asked = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(window), kAskedKey));
  if (!asked) return state;
  return GdkWindowState((state & ~kToggled) | (asked & kToggled));
}

void Deiconify(GtkWindow* window) {
  Ask(window, StateOf(window) & ~GDK_WINDOW_STATE_ICONIFIED);
  gtk_window_deiconify(window);
}

void Unmaximize(GtkWindow* window) {
  Ask(window, StateOf(window) & ~GDK_WINDOW_STATE_MAXIMIZED);
  gtk_window_unmaximize(window);
}

// The work area of the window's monitor (the nearest one when it is off-screen).
ombrix::Box WorkAreaOf(GtkWindow* window) {
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(window));
  GdkMonitor* monitor = gdk_window ? gdk_display_get_monitor_at_window(display, gdk_window)
                                   : gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, 0, 0};
  if (monitor) gdk_monitor_get_workarea(monitor, &area);
  return ombrix::Box{area.x, area.y, area.width, area.height};
}

// Shows the window neither minimised nor maximised, and activates it.
void Restore(GtkWindow* window) {
  const GdkWindowState state = StateOf(window);
  if (state & GDK_WINDOW_STATE_ICONIFIED) {
    Deiconify(window);
  } else if (state & GDK_WINDOW_STATE_MAXIMIZED) {
    Unmaximize(window);
  }
  gtk_window_present(window);
}

void Minimize(GtkWindow* window) {
  if (StateOf(window) & GDK_WINDOW_STATE_ICONIFIED) {
    Restore(window);
    return;
  }
  gtk_widget_show(GTK_WIDGET(window));
  Ask(window, StateOf(window) | GDK_WINDOW_STATE_ICONIFIED);
  gtk_window_iconify(window);
}

gboolean ClearUrgency(GtkWidget* window, GdkEvent*, gpointer) {
  gtk_window_set_urgency_hint(GTK_WINDOW(window), FALSE);
  g_signal_handlers_disconnect_by_func(window, reinterpret_cast<gpointer>(ClearUrgency), nullptr);
  return FALSE;
}

// Draws the user's attention to a window that is not the active one, until
// it is activated.
void Flash(GtkWindow* window) {
  if (gtk_window_is_active(window) || gtk_window_get_urgency_hint(window)) return;
  gtk_window_set_urgency_hint(window, TRUE);
  g_signal_connect(window, "focus-in-event", G_CALLBACK(ClearUrgency), nullptr);
}

}  // namespace

Handler::Handler(Resize resize, Maximize maximize)
    : resize_(std::move(resize)), maximize_(std::move(maximize)) {}

void Handler::MaximizeOrRestore(GtkWindow* window) {
  const GdkWindowState state = StateOf(window);
  if ((state & GDK_WINDOW_STATE_MAXIMIZED) && !(state & GDK_WINDOW_STATE_ICONIFIED)) {
    Restore(window);
    return;
  }
  Ask(window, (StateOf(window) & ~GDK_WINDOW_STATE_ICONIFIED) | GDK_WINDOW_STATE_MAXIMIZED);
  maximize_(window);
  gtk_window_present(window);
}

bool Handler::OnQuery(WebKitWebView* view, int query_id, const QString& request, bool persistent,
                      std::shared_ptr<ombrix::QueryCallback> callback) {
  (void)query_id;
  (void)persistent;
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  GtkWindow* window = gtk_widget_is_toplevel(top) ? GTK_WINDOW(top) : nullptr;
  const auto is = [&request](const char* name) { return request == QLatin1String(name); };
  if (request.startsWith(QLatin1String("WindowTest.Position"))) {
    if (window) Position(window, request);
  } else if (is("Window.Minimize")) {
    if (window) Minimize(window);
  } else if (is("Window.Maximize")) {
    if (window) MaximizeOrRestore(window);
  } else if (is("Window.Restore")) {
    if (window) Restore(window);
  } else if (is("Window.Hide")) {
    if (window) gtk_widget_hide(GTK_WIDGET(window));
  } else if (is("Window.FlashWin")) {
    if (window) Flash(window);
  } else {
    return false;
  }
  callback->Success(QString());
  return true;
}

void Handler::Position(GtkWindow* window, const QString& request) {
  const std::optional<ombrix::Box> box = ombrix::PlaceByRequest(request, WorkAreaOf(window));
  if (!box) return;
  qDebug() << "position" << box->x << box->y << box->width << box->height;
  // A minimised or maximised window is restored first, then placed.
  const GdkWindowState state = StateOf(window);
  if (state & GDK_WINDOW_STATE_ICONIFIED) Deiconify(window);
  if (state & GDK_WINDOW_STATE_MAXIMIZED) Unmaximize(window);
  ombrix::MoveTopLevel(window, box->x, box->y, "WindowTest.Position");
  resize_(window, box->width, box->height);
  // The toolkit leaves out a size request equal to the size the window had at
  // the last configure, even while another size it asked for is still on its
  // way: 100 x 100, then the work area, then 100 x 100 again in quick
  // succession ended at the work area's size. The size goes to the window
  // system as well, so the last request always wins.
  if (GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(window))) {
    gdk_window_resize(gdk_window, box->width, box->height);
  }
}

}  // namespace window_test
