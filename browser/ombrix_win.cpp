// The notification-area icon with its two-item menu.
// GtkStatusIcon is deprecated in GTK 3 but is the toolkit's only tray icon.
#define GDK_DISABLE_DEPRECATION_WARNINGS
#include <gtk/gtk.h>

#include <cstdio>

#include "browser/message_dispatch.h"
#include "browser/ombrix_cef_handler.h"

namespace ombrix {
namespace {

GtkStatusIcon* IconOf(OmbrixCefHandler& handler) {
  return static_cast<GtkStatusIcon*>(handler.tray_.status_icon);
}

void SetIconImage(GtkStatusIcon* icon, const QString& path) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file_at_size(path.toUtf8().constData(), 32, 32, nullptr);
  if (pixbuf) {
    gtk_status_icon_set_from_pixbuf(icon, pixbuf);
    g_object_unref(pixbuf);
  } else {
    gtk_status_icon_set_from_pixbuf(icon, nullptr);
  }
}

void ShowMainWindow(OmbrixCefHandler* handler) {
  if (!handler->main_window()) return;
  gtk_widget_show(GTK_WIDGET(handler->main_window()));
  gtk_window_present(handler->main_window());
}

void OnActivate(GtkStatusIcon*, gpointer data) {
  ShowMainWindow(static_cast<OmbrixCefHandler*>(data));
}

void OnOpenItem(GtkMenuItem*, gpointer data) {
  ShowMainWindow(static_cast<OmbrixCefHandler*>(data));
}

void OnQuitItem(GtkMenuItem*, gpointer data) {
  auto* handler = static_cast<OmbrixCefHandler*>(data);
  HideTray(*handler);
  handler->ExitApp();
}

void DestroyLater(GtkWidget* menu, gpointer) {
  g_idle_add(
      [](gpointer widget) {
        gtk_widget_destroy(GTK_WIDGET(widget));
        return G_SOURCE_REMOVE;
      },
      menu);
}

void OnPopupMenu(GtkStatusIcon*, guint, guint, gpointer data) {
  auto* handler = static_cast<OmbrixCefHandler*>(data);
  GtkWidget* menu = gtk_menu_new();
  const QString open_text = QStringLiteral("打开") + handler->tray_.menu_text;
  GtkWidget* open = gtk_menu_item_new_with_label(open_text.toUtf8().constData());
  GtkWidget* quit = gtk_menu_item_new_with_label("退 出");
  g_signal_connect(open, "activate", G_CALLBACK(OnOpenItem), handler);
  g_signal_connect(quit, "activate", G_CALLBACK(OnQuitItem), handler);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), open);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), quit);
  gtk_widget_show_all(menu);
  // GTK deactivates a menu before it activates the chosen item: the menu may
  // only go once that has run.
  g_signal_connect(menu, "deactivate", G_CALLBACK(DestroyLater), nullptr);
  gtk_menu_popup_at_pointer(GTK_MENU(menu), nullptr);
}

}  // namespace

void ShowTray(OmbrixCefHandler& handler, const QString& icon, const QString& menu_text,
              const QString& tooltip) {
  TrayRecord& tray = handler.tray_;
  tray.menu_text = menu_text;
  if (tray.shown) return;  // a second show keeps the first image and tooltip
  tray.icon_path = icon;
  tray.tooltip = tooltip.left(127);
  GtkStatusIcon* status_icon = gtk_status_icon_new();
  SetIconImage(status_icon, icon);
  gtk_status_icon_set_tooltip_text(status_icon, tray.tooltip.toUtf8().constData());
  g_signal_connect(status_icon, "activate", G_CALLBACK(OnActivate), &handler);
  g_signal_connect(status_icon, "popup-menu", G_CALLBACK(OnPopupMenu), &handler);
  gtk_status_icon_set_visible(status_icon, TRUE);
  tray.status_icon = status_icon;
  tray.shown = true;
}

void HideTray(OmbrixCefHandler& handler) {
  TrayRecord& tray = handler.tray_;
  tray.shown = false;
  if (GtkStatusIcon* status_icon = IconOf(handler)) {
    g_signal_handlers_disconnect_by_data(status_icon, &handler);
    gtk_status_icon_set_visible(status_icon, FALSE);
    g_object_unref(status_icon);
  }
  tray.status_icon = nullptr;
}

void ModifyTrayIcon(OmbrixCefHandler& handler, const QString& icon) {
  GtkStatusIcon* status_icon = IconOf(handler);
  if (!handler.tray_.shown || !status_icon) return;
  handler.tray_.icon_path = icon;
  SetIconImage(status_icon, icon);
}

}  // namespace ombrix
