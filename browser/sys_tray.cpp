// GtkStatusIcon is deprecated in GTK 3 but is the toolkit's only XEmbed icon.
#define GDK_DISABLE_DEPRECATION_WARNINGS
#include "browser/sys_tray.h"

#include <QDebug>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

#include "browser/ombrix_cef_handler.h"
#include "browser/ombrix_win.h"
#include "browser/status_notifier.h"
#include "browser/window_rules.h"
#include "util/log_text.h"
#include "util/shell.h"

namespace ombrix {
namespace {

constexpr int kIconSize = 32;

SysTray sys_tray;

// The image of icon_path at 32 x 32 (a new reference), or null. Only a
// regular file is read: a pipe or a device could block the window.
GdkPixbuf* LoadIcon(const QString& path) {
  GdkPixbuf* pixbuf = nullptr;
  GError* error = nullptr;
  if (QFileInfo(path).isFile()) {
    pixbuf =
        gdk_pixbuf_new_from_file_at_size(path.toUtf8().constData(), kIconSize, kIconSize, &error);
  }
  if (!pixbuf) {
    qDebug() << "tray icon" << LogText(path)
             << (error ? LogMessage(error->message) : QStringLiteral("not a file"));
  }
  g_clear_error(&error);
  return pixbuf;
}

void SetIconImage(GtkStatusIcon* icon, GdkPixbuf* pixbuf) {
  if (pixbuf) {
    gtk_status_icon_set_from_pixbuf(icon, pixbuf);
  } else {
    // An icon without an image could not be found to be clicked.
    gtk_status_icon_set_from_icon_name(icon, "application-x-executable");
  }
}

// The pixels a StatusNotifierItem carries, with the side of their square
// (empty, side 0, without an image).
struct SquareIcon {
  QByteArray argb;
  int side = 0;
};

SquareIcon SquareIconOf(GdkPixbuf* pixbuf) {
  if (!pixbuf || gdk_pixbuf_get_bits_per_sample(pixbuf) != 8) return {};
  const int width = gdk_pixbuf_get_width(pixbuf);
  const int height = gdk_pixbuf_get_height(pixbuf);
  // A square of the longest side, the image centred in it: hosts draw the
  // pixmap with the size it names.
  const int side = std::max(width, height);
  GdkPixbuf* square = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, side, side);
  gdk_pixbuf_fill(square, 0);
  gdk_pixbuf_copy_area(pixbuf, 0, 0, width, height, square, (side - width) / 2,
                       (side - height) / 2);
  SquareIcon icon;
  icon.argb =
      ArgbPixels(gdk_pixbuf_read_pixels(square), qsizetype(gdk_pixbuf_get_byte_length(square)),
                 side, side, gdk_pixbuf_get_rowstride(square), gdk_pixbuf_get_n_channels(square));
  icon.side = icon.argb.isEmpty() ? 0 : side;
  g_object_unref(square);
  return icon;
}

void DestroyLater(GtkWidget* menu, gpointer) {
  g_idle_add(
      [](gpointer widget) {
        gtk_widget_destroy(GTK_WIDGET(widget));
        return G_SOURCE_REMOVE;
      },
      menu);
}

}  // namespace

SysTray::SysTray() {
  std::printf("SysTray::SysTray()\r\n");
  std::fflush(stdout);
}

SysTray::~SysTray() {
  std::printf("SysTray::~SysTray()\r\n");
  std::fflush(stdout);
  Hide();
}

SysTray& SysTray::Instance() { return sys_tray; }

void SysTray::Show(OmbrixCefHandler& handler, const QString& icon_path, const QString& menu_text,
                   const QString& tooltip) {
  handler_ = &handler;
  menu_text_ = menu_text;
  if (icon_) {  // a second show keeps the first image and tooltip
    if (notifier_) notifier_->SetMenuText(menu_text);
    return;
  }
  icon_ = gtk_status_icon_new();
  GdkPixbuf* pixbuf = LoadIcon(icon_path);
  SetIconImage(icon_, pixbuf);
  const QString tip = TrayTooltip(tooltip);
  gtk_status_icon_set_tooltip_text(icon_, tip.isEmpty() ? nullptr : tip.toUtf8().constData());
  g_signal_connect(icon_, "button-press-event", G_CALLBACK(OnButtonPress), this);
  g_signal_connect(icon_, "popup-menu", G_CALLBACK(OnPopupMenu), this);
  g_signal_connect(icon_, "notify::embedded", G_CALLBACK(OnEmbedded), this);
  if (HasSessionBus()) StartStatusNotifier(pixbuf, tip);
  if (pixbuf) g_object_unref(pixbuf);
  FollowStatusNotifier();
}

void SysTray::StartStatusNotifier(GdkPixbuf* pixbuf, const QString& tooltip) {
  GtkWindow* window = handler_->main_window();
  const char* title = window ? gtk_window_get_title(window) : nullptr;
  StatusNotifier::Events events;
  events.activate = [this] { ShowMainWindow(GDK_CURRENT_TIME); };
  events.open = [this] { ShowMainWindow(GDK_CURRENT_TIME); };
  events.quit = [this] { Quit(); };
  events.changed = [this] {
    FollowStatusNotifier();
    FollowHosts();
  };
  const SquareIcon icon = SquareIconOf(pixbuf);
  notifier_ = std::make_unique<StatusNotifier>(QString::fromUtf8(title ? title : ""), tooltip,
                                               menu_text_, icon.argb, icon.side, std::move(events));
}

void SysTray::FollowStatusNotifier() {
  if (!icon_) return;
  const bool stand_in = !notifier_ || notifier_->state() == StatusNotifier::State::kNoWatcher;
  gtk_status_icon_set_visible(icon_, stand_in);
}

bool SysTray::IsHosted() const {
  if (!icon_) return false;
  if (notifier_ && notifier_->IsShown()) return true;
  return gtk_status_icon_get_visible(icon_) && gtk_status_icon_is_embedded(icon_);
}

void SysTray::HideMainWindow() {
  GtkWindow* window = handler_ ? handler_->main_window() : nullptr;
  if (!window) return;
  gtk_widget_hide(GTK_WIDGET(window));
  hidden_by_close_ = true;
}

void SysTray::OnEmbedded(GtkStatusIcon*, GParamSpec*, gpointer self) {
  static_cast<SysTray*>(self)->FollowHosts();
}

void SysTray::FollowHosts() {
  GtkWindow* window = handler_ ? handler_->main_window() : nullptr;
  if (!hidden_by_close_ || !window || IsHosted()) return;
  hidden_by_close_ = false;
  if (gtk_widget_get_visible(GTK_WIDGET(window))) return;
  qDebug() << "tray: no panel shows the icon any more; the closed window is shown again";
  ShowMainWindow(GDK_CURRENT_TIME);
}

void SysTray::Hide() {
  handler_ = nullptr;
  hidden_by_close_ = false;
  notifier_.reset();
  if (!icon_) return;
  g_signal_handlers_disconnect_by_data(icon_, this);
  gtk_status_icon_set_visible(icon_, FALSE);
  g_clear_object(&icon_);
}

void SysTray::ModifyIcon(const QString& icon_path) {
  if (!icon_) return;
  GdkPixbuf* pixbuf = LoadIcon(icon_path);
  SetIconImage(icon_, pixbuf);
  if (notifier_) {
    const SquareIcon icon = SquareIconOf(pixbuf);
    notifier_->SetIcon(icon.argb, icon.side);
  }
  if (pixbuf) g_object_unref(pixbuf);
}

void SysTray::ShowMainWindow(guint32 time) {
  GtkWindow* window = handler_ ? handler_->main_window() : nullptr;
  if (!window) return;
  hidden_by_close_ = false;
  gtk_widget_show(GTK_WIDGET(window));
  gtk_window_deiconify(window);
  gtk_window_present_with_time(window, time);
}

gboolean SysTray::OnButtonPress(GtkStatusIcon*, GdkEventButton* event, gpointer self) {
  if (event->button != GDK_BUTTON_PRIMARY) return FALSE;  // the menu button
  // A double-click brings the window back; a single click does nothing.
  if (event->type == GDK_2BUTTON_PRESS) static_cast<SysTray*>(self)->ShowMainWindow(event->time);
  return TRUE;
}

void SysTray::OnPopupMenu(GtkStatusIcon*, guint, guint time, gpointer self) {
  auto* tray = static_cast<SysTray*>(self);
  tray->RaiseMainWindow(time);
  GtkWidget* menu = gtk_menu_new();
  const QString open_text = QStringLiteral("打开") + tray->menu_text_;
  GtkWidget* open = gtk_menu_item_new_with_label(open_text.toUtf8().constData());
  GtkWidget* quit = gtk_menu_item_new_with_label("退 出");
  g_signal_connect(open, "activate", G_CALLBACK(OnOpen), tray);
  g_signal_connect(quit, "activate", G_CALLBACK(OnQuit), tray);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), open);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), quit);
  gtk_widget_show_all(menu);
  // GTK deactivates a menu before it activates the chosen item: the menu may
  // only go once that has run.
  g_signal_connect(menu, "deactivate", G_CALLBACK(DestroyLater), nullptr);
  gtk_menu_popup_at_pointer(GTK_MENU(menu), nullptr);
}

void SysTray::OnOpen(GtkMenuItem*, gpointer self) {
  static_cast<SysTray*>(self)->ShowMainWindow(gtk_get_current_event_time());
}

void SysTray::RaiseMainWindow(guint32 time) {
  GtkWindow* window = handler_ ? handler_->main_window() : nullptr;
  // A hidden or minimised window stays so: only the foreground changes.
  if (!window || !gtk_widget_get_visible(GTK_WIDGET(window)) ||
      (StateOf(window) & GDK_WINDOW_STATE_ICONIFIED)) {
    return;
  }
  gtk_window_present_with_time(window, time);
}

void SysTray::OnQuit(GtkMenuItem*, gpointer self) { static_cast<SysTray*>(self)->Quit(); }

void SysTray::Quit() {
  OmbrixCefHandler* handler = handler_;
  Hide();
  // The icon is gone, so the window's close now ends the program.
  if (handler) handler->CloseMainWindow();
}

void ShowTray(OmbrixCefHandler& handler, const QString& icon_path, const QString& menu_text,
              const QString& tooltip) {
  SysTray::Instance().Show(handler, icon_path, menu_text, tooltip);
}

void HideTray() { SysTray::Instance().Hide(); }

bool IsTrayShown() { return SysTray::Instance().IsShown(); }

bool IsTrayHosted() { return SysTray::Instance().IsHosted(); }

void HideMainWindowToTray() { SysTray::Instance().HideMainWindow(); }

void ModifyTrayIcon(const QString& icon_path) { SysTray::Instance().ModifyIcon(icon_path); }

}  // namespace ombrix
