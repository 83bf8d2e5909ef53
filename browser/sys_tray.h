// The tray icon. Where the session bus has a StatusNotifierWatcher, the icon
// is a StatusNotifierItem (browser/status_notifier.h); otherwise it is an
// XEmbed icon, which the panels that still have a system tray host.
#pragma once

#include <gtk/gtk.h>

#include <QString>
#include <memory>

class OmbrixCefHandler;

namespace ombrix {

class StatusNotifier;

// One object lives for the whole process; its end removes the icon, so the
// icon never outlives the program.
class SysTray {
 public:
  SysTray();
  ~SysTray();
  SysTray(const SysTray&) = delete;
  SysTray& operator=(const SysTray&) = delete;

  static SysTray& Instance();

  // Shows the icon from icon_path at 32 x 32 with the tooltip; the menu offers
  // "打开" + menu_text and "退 出". While shown, a second call only takes the
  // new menu text.
  void Show(OmbrixCefHandler& handler, const QString& icon_path, const QString& menu_text,
            const QString& tooltip);
  void Hide();
  bool IsShown() const { return icon_ != nullptr; }
  // Whether a panel shows the icon now: a StatusNotifierWatcher lists it, or a
  // system tray has embedded it.
  bool IsHosted() const;
  // Replaces the image; nothing while the icon is not shown.
  void ModifyIcon(const QString& icon_path);
  // Hides the main window for its close while a panel shows the icon. Should
  // the panel go while the window is hidden so, the window comes back.
  void HideMainWindow();

 private:
  static gboolean OnButtonPress(GtkStatusIcon* icon, GdkEventButton* event, gpointer self);
  static void OnPopupMenu(GtkStatusIcon* icon, guint button, guint time, gpointer self);
  static void OnOpen(GtkMenuItem* item, gpointer self);
  static void OnQuit(GtkMenuItem* item, gpointer self);
  void StartStatusNotifier(GdkPixbuf* pixbuf, const QString& tooltip);
  // The XEmbed icon stands in while no watcher is known to list the item.
  void FollowStatusNotifier();
  // A window closed into the icon comes back when no panel shows the icon.
  void FollowHosts();
  static void OnEmbedded(GtkStatusIcon* icon, GParamSpec* pspec, gpointer self);
  void ShowMainWindow(guint32 time);
  // Brings the main window to the foreground when it is on screen.
  void RaiseMainWindow(guint32 time);
  void Quit();

  OmbrixCefHandler* handler_ = nullptr;
  GtkStatusIcon* icon_ = nullptr;
  std::unique_ptr<StatusNotifier> notifier_;
  QString menu_text_;
  bool hidden_by_close_ = false;
};

void ShowTray(OmbrixCefHandler& handler, const QString& icon_path, const QString& menu_text,
              const QString& tooltip);
void HideTray();
bool IsTrayShown();
bool IsTrayHosted();
void ModifyTrayIcon(const QString& icon_path);
void HideMainWindowToTray();

}  // namespace ombrix
