// "keep_screen_on" on Wayland: an idle inhibitor (zwp_idle_inhibit_manager_v1)
// on the main window's surface, so the compositor neither blanks nor locks the
// screen while the window is shown. A compositor without the protocol (weston)
// keeps its own idle blanking, and one debug line says so.
#pragma once

#include <gtk/gtk.h>

struct wl_event_queue;
struct zwp_idle_inhibit_manager_v1;
struct zwp_idle_inhibitor_v1;

namespace ombrix {

class IdleInhibit {
 public:
  // Asks the compositor for the protocol now (before the main loop runs) and
  // holds an inhibitor whenever the window is mapped: GTK gives a window a new
  // surface each time it is shown again. Only for a window on a Wayland display.
  explicit IdleInhibit(GtkWindow* window);
  ~IdleInhibit();
  IdleInhibit(const IdleInhibit&) = delete;
  IdleInhibit& operator=(const IdleInhibit&) = delete;

 private:
  static void OnMap(GtkWidget* window, gpointer self);
  static void OnUnmap(GtkWidget* window, gpointer self);
  void BindManager();
  void Inhibit();
  void Release();

  GtkWindow* window_;
  wl_event_queue* queue_ = nullptr;
  zwp_idle_inhibit_manager_v1* manager_ = nullptr;
  zwp_idle_inhibitor_v1* inhibitor_ = nullptr;
};

}  // namespace ombrix
