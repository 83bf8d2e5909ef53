// The screen of a counter machine. "keep_screen_on": while the shell runs the
// X server's screen saver and display power management (DPMS) never blank the
// screen (on Wayland: the compositor's idle inhibit), and a desktop's screen saver on the session
// bus (org.freedesktop.ScreenSaver) holds an inhibit; all of it is given back at exit.
// "hide_cursor_seconds": the pointer is hidden over the shell's windows after a pause in its motion
// and shown again by the next motion; touches and clicks reach the page as before.
#pragma once

#include <gtk/gtk.h>

#include <QString>
#include <cmath>
#include <memory>
#include <vector>

#include "app/manifest_util.h"
#include "kiosk/idle_inhibit.h"
#include "kiosk/screen_rules.h"

namespace ombrix {

// Holds the screen on from construction until destruction.
class ScreenKeeper {
 public:
  // app_name and reason go with the session bus's inhibit.
  ScreenKeeper(const QString& app_name, const QString& reason);
  ~ScreenKeeper();
  ScreenKeeper(const ScreenKeeper&) = delete;
  ScreenKeeper& operator=(const ScreenKeeper&) = delete;

  // On Wayland the compositor's idle is inhibited while the window is shown.
  void AttachWindow(GtkWindow* window);

 private:
  void HoldX11();
  void ReleaseX11();
  void WatchSessionBus();
  void ReleaseSessionBus();
  static void OnSaverAppeared(GDBusConnection* bus, const gchar* name, const gchar* owner,
                              gpointer self);
  static void OnSaverVanished(GDBusConnection* bus, const gchar* name, gpointer self);
  static void OnInhibited(GObject* bus, GAsyncResult* result, gpointer self);

  QString app_name_;
  QString reason_;
  // X11: the screen saver's timers suspended on GDK's connection; DPMS held
  // off (marked on the root window), and enabled again at the end when it was
  // enabled before.
  bool saver_suspended_ = false;
  bool dpms_marked_ = false;
  bool dpms_disabled_ = false;
  // The session bus: the screen saver's owner and the inhibit's cookie.
  guint watch_ = 0;
  GCancellable* cancellable_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  QString owner_;
  guint cookie_ = 0;
  std::unique_ptr<IdleInhibit> inhibit_;
};

// Hides the pointer over every top-level window of the shell (the main window
// as well as pop-ups and the shell's own windows, as they appear).
class CursorHider {
 public:
  explicit CursorHider(int seconds);
  ~CursorHider();
  CursorHider(const CursorHider&) = delete;
  CursorHider& operator=(const CursorHider&) = delete;

  // Follows window from now on; a window already followed stays as it is.
  void AttachWindow(GtkWindow* window);

 private:
  void Apply(const CursorStep& step);
  void HideAll();
  void ShowAll();
  void HideIn(GdkWindow* window);
  static void ShowIn(GdkWindow* window);
  static gboolean OnMapHook(GSignalInvocationHint* hint, guint count, const GValue* values,
                            gpointer self);
  void Detach(GtkWindow* window);
  static void OnMotion(GtkEventControllerMotion* motion, double x, double y, gpointer self);
  static void OnRealize(GtkWidget* window, gpointer self);
  static void OnDestroy(GtkWidget* window, gpointer self);
  static gboolean OnWaitOver(gpointer self);
  static gboolean OnRehide(gpointer self);
  static void OnCursorSet(GdkWindow* window, GParamSpec* pspec, gpointer self);

  CursorTimer timer_;
  std::vector<GtkWindow*> windows_;
  GdkCursor* blank_ = nullptr;
  guint wait_ = 0;
  guint rehide_ = 0;
  gulong map_hook_ = 0;
  // Where the pointer was at its last motion: an event that does not move it is no motion.
  double last_x_ = NAN;
  double last_y_ = NAN;
  guint map_signal_ = 0;
};

// What the manifest's "kiosk" keys ask of the screen; made with the main window.
class Screen {
 public:
  // Null when the manifest asks for neither.
  static std::unique_ptr<Screen> ForManifest(const ManifestUtil& manifest);
  void AttachWindow(GtkWindow* window);

 private:
  std::unique_ptr<ScreenKeeper> keeper_;
  std::unique_ptr<CursorHider> cursor_;
};

}  // namespace ombrix
