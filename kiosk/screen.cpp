#include "kiosk/screen.h"

#include <QDebug>
#include <algorithm>

#include "util/shell.h"

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif
#ifdef GDK_WINDOWING_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>
#include <X11/extensions/scrnsaver.h>
#include <gdk/gdkx.h>
#endif

namespace ombrix {
namespace {

const char kSaverName[] = "org.freedesktop.ScreenSaver";
const char kSaverPath[] = "/org/freedesktop/ScreenSaver";
// On the root window while the shell holds DPMS off: whether DPMS was enabled
// before. The X server keeps it when a shell ends without giving DPMS back (a
// crash, a signal), so the next shell still knows what to restore.
const char kDpmsMark[] = "_OMBRIX_DPMS_ENABLED";
// On each GdkWindow whose pointer is hidden: the cursor to give it back.
const char kSavedCursorKey[] = "ombrix-screen-saved-cursor";
// On each top-level window followed: its motion controller.
const char kMotionKey[] = "ombrix-screen-motion";

qint64 NowMs() { return g_get_monotonic_time() / 1000; }

struct SavedCursor {
  GdkCursor* cursor;  // the window's own (null: its parent's)
  gulong handler;     // the watch on its "cursor" property
};

void FreeSavedCursor(gpointer data) {
  auto* saved = static_cast<SavedCursor*>(data);
  if (saved->cursor) g_object_unref(saved->cursor);
  delete saved;
}

}  // namespace

ScreenKeeper::ScreenKeeper(const QString& app_name, const QString& reason)
    : app_name_(app_name), reason_(reason) {
  HoldX11();
  WatchSessionBus();
}

ScreenKeeper::~ScreenKeeper() {
  ReleaseSessionBus();
  ReleaseX11();
}

void ScreenKeeper::HoldX11() {
#ifdef GDK_WINDOWING_X11
  GdkDisplay* display = gdk_display_get_default();
  if (display && GDK_IS_X11_DISPLAY(display)) {
    Display* x = gdk_x11_display_get_xdisplay(display);
    gdk_x11_display_error_trap_push(display);
    int event_base = 0;
    int error_base = 0;
    int major = 0;
    int minor = 0;
    // Suspending (version 1.1) holds off both the screen saver's and DPMS's
    // timers; the X server ends the suspension itself when the shell's
    // connection closes, however the shell ends.
    if (XScreenSaverQueryExtension(x, &event_base, &error_base) &&
        XScreenSaverQueryVersion(x, &major, &minor) && (major > 1 || (major == 1 && minor >= 1))) {
      XScreenSaverSuspend(x, True);
      saver_suspended_ = true;
    } else {
      qDebug() << "keep_screen_on: the X server cannot suspend its screen saver";
    }
    // A suspension leaves a screen saver that is already on as it is.
    XResetScreenSaver(x);
    if (DPMSQueryExtension(x, &event_base, &error_base) && DPMSCapable(x)) {
      CARD16 level = DPMSModeOn;
      BOOL enabled = False;
      DPMSInfo(x, &level, &enabled);
      const Window root = DefaultRootWindow(x);
      const Atom mark = XInternAtom(x, kDpmsMark, False);
      Atom type = None;
      int format = 0;
      unsigned long count = 0;
      unsigned long after = 0;
      unsigned char* data = nullptr;
      bool marked = false;
      bool enabled_before = enabled;
      if (XGetWindowProperty(x, root, mark, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                             &after, &data) == Success &&
          type == XA_CARDINAL && format == 32 && count == 1) {
        marked = true;
        // Left by a shell that could not give DPMS back.
        if (!enabled) enabled_before = *reinterpret_cast<long*>(data) != 0;
      }
      if (data) XFree(data);
      if (!marked) {
        long value = enabled ? 1 : 0;
        XChangeProperty(x, root, mark, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&value), 1);
      }
      if (enabled) {
        if (level != DPMSModeOn) DPMSForceLevel(x, DPMSModeOn);
        DPMSDisable(x);
      }
      dpms_disabled_ = enabled_before;
      dpms_marked_ = true;
    } else {
      qDebug() << "keep_screen_on: the X server has no DPMS";
    }
    XFlush(x);
    gdk_x11_display_error_trap_pop_ignored(display);
    qDebug() << "keep_screen_on: screen saver" << (saver_suspended_ ? "suspended" : "as it was")
             << "and DPMS" << (dpms_disabled_ ? "disabled" : "as it was");
    return;
  }
#endif
  qDebug() << "keep_screen_on: not an X11 display; the saver and DPMS are the compositor's";
}

void ScreenKeeper::AttachWindow(GtkWindow* window) {
#ifdef GDK_WINDOWING_WAYLAND
  if (!inhibit_ && GDK_IS_WAYLAND_DISPLAY(gtk_widget_get_display(GTK_WIDGET(window)))) {
    inhibit_ = std::make_unique<IdleInhibit>(window);
  }
#endif
}

void ScreenKeeper::ReleaseX11() {
#ifdef GDK_WINDOWING_X11
  if (!saver_suspended_ && !dpms_marked_) return;
  GdkDisplay* display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display)) return;
  Display* x = gdk_x11_display_get_xdisplay(display);
  gdk_x11_display_error_trap_push(display);
  if (saver_suspended_) XScreenSaverSuspend(x, False);
  if (dpms_marked_) {
    if (dpms_disabled_) DPMSEnable(x);
    XDeleteProperty(x, DefaultRootWindow(x), XInternAtom(x, kDpmsMark, False));
  }
  XSync(x, False);
  gdk_x11_display_error_trap_pop_ignored(display);
  qDebug() << "keep_screen_on: screen saver and DPMS given back";
#endif
}

void ScreenKeeper::WatchSessionBus() {
  if (!HasSessionBus()) {
    qDebug() << "keep_screen_on: no session bus";
    return;
  }
  cancellable_ = g_cancellable_new();
  watch_ = g_bus_watch_name(G_BUS_TYPE_SESSION, kSaverName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                            OnSaverAppeared, OnSaverVanished, this, nullptr);
}

void ScreenKeeper::OnSaverAppeared(GDBusConnection* bus, const gchar*, const gchar* owner,
                                   gpointer self) {
  auto* keeper = static_cast<ScreenKeeper*>(self);
  if (keeper->bus_ != bus) {
    if (keeper->bus_) g_object_unref(keeper->bus_);
    keeper->bus_ = G_DBUS_CONNECTION(g_object_ref(bus));
  }
  keeper->owner_ = QString::fromUtf8(owner);
  keeper->cookie_ = 0;
  const QByteArray app = keeper->app_name_.toUtf8();
  const QByteArray reason = keeper->reason_.toUtf8();
  g_dbus_connection_call(bus, owner, kSaverPath, kSaverName, "Inhibit",
                         g_variant_new("(ss)", app.constData(), reason.constData()),
                         G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, -1,
                         keeper->cancellable_, OnInhibited, keeper);
}

void ScreenKeeper::OnSaverVanished(GDBusConnection*, const gchar*, gpointer self) {
  auto* keeper = static_cast<ScreenKeeper*>(self);
  // Its inhibits went with it; an answer still on its way is dropped.
  if (keeper->cookie_) qDebug() << "keep_screen_on: the session's screen saver has gone";
  keeper->cookie_ = 0;
  keeper->owner_.clear();
  g_cancellable_cancel(keeper->cancellable_);
  g_object_unref(keeper->cancellable_);
  keeper->cancellable_ = g_cancellable_new();
}

void ScreenKeeper::OnInhibited(GObject* bus, GAsyncResult* result, gpointer self) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
  if (!reply) {
    // Cancelled: the keeper may be gone already.
    if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
      qDebug() << "keep_screen_on: the session's screen saver refused the inhibit:"
               << error->message;
    g_error_free(error);
    return;
  }
  auto* keeper = static_cast<ScreenKeeper*>(self);
  g_variant_get(reply, "(u)", &keeper->cookie_);
  g_variant_unref(reply);
  qDebug() << "keep_screen_on: the session's screen saver is inhibited";
}

void ScreenKeeper::ReleaseSessionBus() {
  if (watch_) g_bus_unwatch_name(watch_);
  watch_ = 0;
  if (cancellable_) {
    g_cancellable_cancel(cancellable_);
    g_clear_object(&cancellable_);
  }
  if (bus_ && cookie_) {
    // No answer is waited for; the message is on the bus before the shell ends.
    const QByteArray owner = owner_.toUtf8();
    g_dbus_connection_call(bus_, owner.constData(), kSaverPath, kSaverName, "UnInhibit",
                           g_variant_new("(u)", cookie_), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                           -1, nullptr, nullptr, nullptr);
    g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    qDebug() << "keep_screen_on: the session's screen saver's inhibit is given back";
  }
  cookie_ = 0;
  g_clear_object(&bus_);
}

CursorHider::CursorHider(int seconds) : timer_(seconds) {
  if (GdkDisplay* display = gdk_display_get_default())
    blank_ = gdk_cursor_new_for_display(display, GDK_BLANK_CURSOR);
  // Every top-level window the shell shows, whoever makes it.
  map_signal_ = g_signal_lookup("map", GTK_TYPE_WIDGET);
  map_hook_ = g_signal_add_emission_hook(map_signal_, 0, OnMapHook, this, nullptr);
  qDebug() << "pointer hidden after" << seconds << "s without motion";
  Apply(timer_.Start(NowMs()));
}

CursorHider::~CursorHider() {
  if (map_hook_) g_signal_remove_emission_hook(map_signal_, map_hook_);
  if (wait_) g_source_remove(wait_);
  if (rehide_) g_source_remove(rehide_);
  if (timer_.hidden()) ShowAll();
  for (GtkWindow* window : windows_) Detach(window);
  if (blank_) g_object_unref(blank_);
}

void CursorHider::AttachWindow(GtkWindow* window) {
  if (!window || std::find(windows_.begin(), windows_.end(), window) != windows_.end()) return;
  windows_.push_back(window);
  // In the capture phase, on the way down to the widget under the pointer:
  // the window sees every motion over it, and the page still gets each event.
  GtkEventController* motion = gtk_event_controller_motion_new(GTK_WIDGET(window));
  gtk_event_controller_set_propagation_phase(motion, GTK_PHASE_CAPTURE);
  g_signal_connect(motion, "motion", G_CALLBACK(OnMotion), this);
  g_object_set_data_full(G_OBJECT(window), kMotionKey, motion, g_object_unref);
  g_signal_connect(window, "realize", G_CALLBACK(OnRealize), this);
  // Mapping realises the widgets inside (the web view makes its own window then).
  g_signal_connect_after(window, "map", G_CALLBACK(OnRealize), this);
  g_signal_connect(window, "destroy", G_CALLBACK(OnDestroy), this);
  if (timer_.hidden())
    if (GdkWindow* own = gtk_widget_get_window(GTK_WIDGET(window))) HideIn(own);
}

void CursorHider::Apply(const CursorStep& step) {
  if (step.hide) HideAll();
  if (step.show) ShowAll();
  if (step.wait_ms >= 0) {
    if (wait_) g_source_remove(wait_);
    wait_ = g_timeout_add(guint(step.wait_ms), OnWaitOver, this);
  }
}

void CursorHider::HideAll() {
  for (GtkWindow* window : windows_)
    if (GdkWindow* own = gtk_widget_get_window(GTK_WIDGET(window))) HideIn(own);
}

void CursorHider::ShowAll() {
  for (GtkWindow* window : windows_)
    if (GdkWindow* own = gtk_widget_get_window(GTK_WIDGET(window))) ShowIn(own);
}

// The window and every window inside it (the web view's among them) show the
// blank cursor; a cursor set on one of them meanwhile (the engine follows the
// page's CSS) is kept for later and the blank one put back.
void CursorHider::HideIn(GdkWindow* window) {
  if (!blank_) return;
  if (!g_object_get_data(G_OBJECT(window), kSavedCursorKey)) {
    GdkCursor* own = gdk_window_get_cursor(window);
    auto* saved = new SavedCursor{own ? GDK_CURSOR(g_object_ref(own)) : nullptr, 0};
    saved->handler = g_signal_connect(window, "notify::cursor", G_CALLBACK(OnCursorSet), this);
    g_object_set_data_full(G_OBJECT(window), kSavedCursorKey, saved, FreeSavedCursor);
  }
  if (gdk_window_get_cursor(window) != blank_) gdk_window_set_cursor(window, blank_);
  for (GList* child = gdk_window_peek_children(window); child; child = child->next)
    HideIn(GDK_WINDOW(child->data));
}

void CursorHider::ShowIn(GdkWindow* window) {
  if (auto* saved =
          static_cast<SavedCursor*>(g_object_get_data(G_OBJECT(window), kSavedCursorKey))) {
    g_signal_handler_disconnect(window, saved->handler);
    GdkCursor* own = saved->cursor ? GDK_CURSOR(g_object_ref(saved->cursor)) : nullptr;
    g_object_set_data(G_OBJECT(window), kSavedCursorKey, nullptr);
    gdk_window_set_cursor(window, own);
    if (own) g_object_unref(own);
  }
  for (GList* child = gdk_window_peek_children(window); child; child = child->next)
    ShowIn(GDK_WINDOW(child->data));
}

void CursorHider::OnCursorSet(GdkWindow* window, GParamSpec*, gpointer self) {
  auto* hider = static_cast<CursorHider*>(self);
  GdkCursor* now = gdk_window_get_cursor(window);
  if (!hider->timer_.hidden() || now == hider->blank_) return;
  auto* saved = static_cast<SavedCursor*>(g_object_get_data(G_OBJECT(window), kSavedCursorKey));
  if (!saved) return;
  if (now) g_object_ref(now);
  if (saved->cursor) g_object_unref(saved->cursor);
  saved->cursor = now;
  gdk_window_set_cursor(window, hider->blank_);
}

gboolean CursorHider::OnMapHook(GSignalInvocationHint*, guint count, const GValue* values,
                                gpointer self) {
  if (count < 1 || !G_VALUE_HOLDS_OBJECT(&values[0])) return TRUE;
  auto* widget = static_cast<GObject*>(g_value_get_object(&values[0]));
  if (!GTK_IS_WINDOW(widget) ||
      gtk_window_get_window_type(GTK_WINDOW(widget)) != GTK_WINDOW_TOPLEVEL)
    return TRUE;
  auto* hider = static_cast<CursorHider*>(self);
  hider->AttachWindow(GTK_WINDOW(widget));
  // The window's widgets make their windows while it maps: hidden once that is done.
  if (hider->timer_.hidden() && !hider->rehide_) hider->rehide_ = g_idle_add(OnRehide, hider);
  return TRUE;  // stays for the next window
}

void CursorHider::OnMotion(GtkEventControllerMotion*, double, double, gpointer self) {
  auto* hider = static_cast<CursorHider*>(self);
  GdkEvent* event = gtk_get_current_event();
  if (!event) return;
  // A finger moves the pointer too, and so may another program's event: only
  // a pointing device that really moves shows it.
  GdkDevice* source = gdk_event_get_source_device(event);
  double x = 0;
  double y = 0;
  const bool moved = event->type == GDK_MOTION_NOTIFY && !event->motion.send_event &&
                     !gdk_event_get_pointer_emulated(event) &&
                     !(source && gdk_device_get_source(source) == GDK_SOURCE_TOUCHSCREEN) &&
                     gdk_event_get_root_coords(event, &x, &y) &&
                     (x != hider->last_x_ || y != hider->last_y_);
  gdk_event_free(event);
  if (!moved) return;
  hider->last_x_ = x;
  hider->last_y_ = y;
  hider->Apply(hider->timer_.Moved(NowMs()));
}

void CursorHider::OnRealize(GtkWidget* window, gpointer self) {
  auto* hider = static_cast<CursorHider*>(self);
  if (hider->timer_.hidden()) hider->HideIn(gtk_widget_get_window(window));
}

void CursorHider::OnDestroy(GtkWidget* window, gpointer self) {
  auto* hider = static_cast<CursorHider*>(self);
  hider->Detach(GTK_WINDOW(window));
  hider->windows_.erase(
      std::remove(hider->windows_.begin(), hider->windows_.end(), GTK_WINDOW(window)),
      hider->windows_.end());
}

void CursorHider::Detach(GtkWindow* window) {
  g_signal_handlers_disconnect_by_data(window, this);
  if (auto* motion = g_object_get_data(G_OBJECT(window), kMotionKey))
    g_signal_handlers_disconnect_by_data(motion, this);
  g_object_set_data(G_OBJECT(window), kMotionKey, nullptr);
}

gboolean CursorHider::OnRehide(gpointer self) {
  auto* hider = static_cast<CursorHider*>(self);
  hider->rehide_ = 0;
  if (hider->timer_.hidden()) hider->HideAll();
  return G_SOURCE_REMOVE;
}

gboolean CursorHider::OnWaitOver(gpointer self) {
  auto* hider = static_cast<CursorHider*>(self);
  hider->wait_ = 0;
  hider->Apply(hider->timer_.Due(NowMs()));
  return G_SOURCE_REMOVE;
}

std::unique_ptr<Screen> Screen::ForManifest(const ManifestUtil& manifest) {
  if (!manifest.keep_screen_on_ && manifest.hide_cursor_seconds_ < 0) return nullptr;
  std::unique_ptr<Screen> screen(new Screen);
  if (manifest.keep_screen_on_) {
    const QString name = manifest.application_title_.isEmpty() ? QStringLiteral("ombrix")
                                                               : manifest.application_title_;
    screen->keeper_ =
        std::make_unique<ScreenKeeper>(name, QStringLiteral("A kiosk app is on the screen"));
  }
  if (manifest.hide_cursor_seconds_ >= 0)
    screen->cursor_ = std::make_unique<CursorHider>(manifest.hide_cursor_seconds_);
  return screen;
}

void Screen::AttachWindow(GtkWindow* window) {
  if (keeper_) keeper_->AttachWindow(window);
  if (cursor_) cursor_->AttachWindow(window);
}

}  // namespace ombrix
