#include "kiosk/idle_inhibit.h"

#include <gdk/gdkwayland.h>
#include <wayland-client.h>

#include <QDebug>
#include <cstring>

#include "idle-inhibit-unstable-v1-client-protocol.h"

namespace ombrix {
namespace {

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  if (std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) != 0) return;
  *static_cast<zwp_idle_inhibit_manager_v1**>(data) = static_cast<zwp_idle_inhibit_manager_v1*>(
      wl_registry_bind(registry, name, &zwp_idle_inhibit_manager_v1_interface, 1));
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

}  // namespace

IdleInhibit::IdleInhibit(GtkWindow* window) : window_(GTK_WINDOW(g_object_ref(window))) {
  BindManager();
  if (!manager_) return;
  g_signal_connect(window, "map", G_CALLBACK(OnMap), this);
  g_signal_connect(window, "unmap", G_CALLBACK(OnUnmap), this);
  if (gtk_widget_get_mapped(GTK_WIDGET(window))) Inhibit();
}

IdleInhibit::~IdleInhibit() {
  g_signal_handlers_disconnect_by_data(window_, this);
  Release();
  if (manager_) zwp_idle_inhibit_manager_v1_destroy(manager_);
  if (queue_) {
    wl_display_flush(
        gdk_wayland_display_get_wl_display(gtk_widget_get_display(GTK_WIDGET(window_))));
    wl_event_queue_destroy(queue_);
  }
  g_object_unref(window_);
}

void IdleInhibit::BindManager() {
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window_));
  if (!GDK_IS_WAYLAND_DISPLAY(display)) return;
  // The globals are asked on a queue of the shell's own, so GDK's queue sees
  // none of this; the main loop is not running yet, so nothing else reads.
  wl_display* wl = gdk_wayland_display_get_wl_display(display);
  queue_ = wl_display_create_queue(wl);
  auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(wl));
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), queue_);
  wl_registry* registry = wl_display_get_registry(wrapped);
  wl_registry_add_listener(registry, &kRegistryListener, &manager_);
  wl_display_roundtrip_queue(wl, queue_);
  wl_registry_destroy(registry);
  wl_proxy_wrapper_destroy(wrapped);
  if (!manager_) {
    qDebug() << "keep_screen_on: the compositor offers no idle inhibit; its own idle blanking "
                "stays";
  }
}

void IdleInhibit::OnMap(GtkWidget*, gpointer self) { static_cast<IdleInhibit*>(self)->Inhibit(); }

void IdleInhibit::OnUnmap(GtkWidget*, gpointer self) { static_cast<IdleInhibit*>(self)->Release(); }

void IdleInhibit::Inhibit() {
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(window_));
  wl_surface* surface = gdk_window ? gdk_wayland_window_get_wl_surface(gdk_window) : nullptr;
  if (inhibitor_ || !manager_ || !surface) return;
  inhibitor_ = zwp_idle_inhibit_manager_v1_create_inhibitor(manager_, surface);
  wl_display_flush(gdk_wayland_display_get_wl_display(gdk_window_get_display(gdk_window)));
  qDebug() << "keep_screen_on: the compositor's idle is inhibited";
}

void IdleInhibit::Release() {
  if (!inhibitor_) return;
  // Its surface goes with the unmap; the next map brings a new one.
  zwp_idle_inhibitor_v1_destroy(inhibitor_);
  inhibitor_ = nullptr;
  qDebug() << "keep_screen_on: the compositor's idle inhibitor is given back";
}

}  // namespace ombrix
