// Primary-monitor geometry and window placement from GDK. Kept apart from
// util_win.cpp so that code which never places windows (the tests of the pure
// helpers) does not need GDK.
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

#include <QDebug>

#include "util/util_win.h"

namespace ombrix {

Rect PrimaryScreenRect() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return Rect{};
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return Rect{};
  GdkRectangle geometry;
  gdk_monitor_get_geometry(monitor, &geometry);
  return Rect{geometry.x, geometry.y, geometry.x + geometry.width, geometry.y + geometry.height};
}

bool ProgramPlacesWindows() {
#ifdef GDK_WINDOWING_WAYLAND
  GdkDisplay* display = gdk_display_get_default();
  if (display && GDK_IS_WAYLAND_DISPLAY(display)) return false;
#endif
  return true;
}

namespace {

bool Placeable(const char* asked_by) {
  if (ProgramPlacesWindows()) return true;
  qDebug() << "on Wayland the compositor places windows; no effect:" << asked_by;
  return false;
}

}  // namespace

void MoveTopLevel(GtkWindow* window, int x, int y, const char* asked_by) {
  if (Placeable(asked_by)) gtk_window_move(window, x, y);
}

void KeepTopLevelAbove(GtkWindow* window, const char* asked_by) {
  if (Placeable(asked_by)) gtk_window_set_keep_above(window, TRUE);
}

}  // namespace ombrix
