// Primary-monitor geometry from GDK. Kept apart from util_win.cpp so that code
// which never places windows (the tests of the pure helpers) does not need GDK.
#include <gdk/gdk.h>

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

}  // namespace ombrix
