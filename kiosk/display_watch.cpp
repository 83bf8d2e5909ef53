#include "kiosk/display_watch.h"

#include <dirent.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef GDK_WINDOWING_X11
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#endif
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

namespace ombrix {
namespace {

void (*on_display_lost)() = nullptr;
bool ending = false;

// The shell ends here, without running exit handlers or static destructors:
// with the display gone, the windows, the engine and the library threads have
// nothing left to end properly, and waiting on any of them could hang.
[[noreturn]] void EndForLostDisplay(const char* name) {
  if (!ending) {
    ending = true;
    std::printf("display lost: %s\r\n", name ? name : "");
    std::fflush(stdout);
    if (on_display_lost) on_display_lost();
  }
  EndWebProcesses();
  _exit(1);
}

gboolean OnConnectionClosed(gint, GIOCondition, gpointer name) {
  EndForLostDisplay(static_cast<const char*>(name));
}

#ifdef GDK_WINDOWING_X11
// Xlib calls this when a request or a read on the connection fails; GDK's own
// handler would end the shell without its web processes.
int OnXIOError(Display* display) { EndForLostDisplay(display ? DisplayString(display) : ""); }
#endif

// The connection to the display server: the X socket or the Wayland socket.
int ConnectionFd(GdkDisplay* display) {
#ifdef GDK_WINDOWING_X11
  if (GDK_IS_X11_DISPLAY(display)) return ConnectionNumber(gdk_x11_display_get_xdisplay(display));
#endif
#ifdef GDK_WINDOWING_WAYLAND
  if (GDK_IS_WAYLAND_DISPLAY(display))
    return wl_display_get_fd(gdk_wayland_display_get_wl_display(display));
#endif
  return -1;
}

}  // namespace

void WatchDisplay(void (*on_lost)()) {
  on_display_lost = on_lost;
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return;
#ifdef GDK_WINDOWING_X11
  if (GDK_IS_X11_DISPLAY(display)) XSetIOErrorHandler(OnXIOError);  // in place of GDK's
#endif
  const int fd = ConnectionFd(display);
  if (fd < 0) return;
  // Ahead of GDK's own event source on the same socket: the main loop does
  // not look at lower priorities in a round where this one is ready, so GDK
  // never reads the closed connection first (its backends end the process
  // themselves on that error, leaving the web processes to notice alone).
  g_unix_fd_add_full(G_PRIORITY_HIGH, fd, static_cast<GIOCondition>(G_IO_HUP | G_IO_ERR),
                     OnConnectionClosed, g_strdup(gdk_display_get_name(display)), g_free);
}

void EndWebProcesses() {
  // The engine's helpers are the shell's children named WebKit… ("comm" is
  // cut at 15 characters: WebKitWebProces, WebKitNetworkPr, WebKitGPUProces).
  const pid_t self = getpid();
  DIR* proc = opendir("/proc");
  if (!proc) return;
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end) continue;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    FILE* file = std::fopen(path, "re");
    if (!file) continue;
    char stat[512];
    const size_t length = std::fread(stat, 1, sizeof stat - 1, file);
    std::fclose(file);
    stat[length] = '\0';
    // "pid (comm) state ppid ...": the last ')' ends comm, which may hold any byte.
    const char* open = std::strchr(stat, '(');
    const char* close = std::strrchr(stat, ')');
    if (!open || !close || close < open) continue;
    char state = 0;
    int parent = 0;
    if (std::sscanf(close + 1, " %c %d", &state, &parent) != 2 || parent != self) continue;
    const size_t name_length = static_cast<size_t>(close - open - 1);
    if (name_length < 6 || std::strncmp(open + 1, "WebKit", 6) != 0) continue;
    // A page's web process holds nothing to save and may be stopped or hung:
    // it is killed. The others (network, GPU) may still write their stores
    // and end on SIGTERM.
    const bool page = name_length >= 13 && std::strncmp(open + 1, "WebKitWebProc", 13) == 0;
    kill(static_cast<pid_t>(pid), page ? SIGKILL : SIGTERM);
  }
  closedir(proc);
}

}  // namespace ombrix
