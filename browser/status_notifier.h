// The tray icon as a StatusNotifierItem, for the panels that host those
// rather than XEmbed icons (KDE Plasma, GNOME's AppIndicator extension,
// Cinnamon, Wayland sessions). While a StatusNotifierWatcher is on the session
// bus, the item is registered with it: the icon's pixels, the title, the
// tooltip, and the menu through com.canonical.dbusmenu. A watcher that comes
// or goes later is followed.
#pragma once

#include <gio/gio.h>

#include <QByteArray>
#include <QString>
#include <functional>

typedef struct _DbusmenuServer DbusmenuServer;
typedef struct _DbusmenuMenuitem DbusmenuMenuitem;

namespace ombrix {

class StatusNotifier {
 public:
  // Where the item stands with the session's watcher.
  enum class State {
    kAsking,       // the bus has not said yet whether a watcher is there
    kNoWatcher,    // none: another kind of icon must stand in
    kRegistering,  // a watcher is there and the item is on its way to it
    kRegistered,   // a watcher lists the item
  };

  struct Events {
    std::function<void()> activate;  // a click on the icon
    std::function<void()> open;      // the menu's "打开" item
    std::function<void()> quit;      // the menu's "退 出" item, after the current event
    std::function<void()> changed;   // state() or IsShown() is new
  };

  // Starts following the session bus's watcher; call only where a session bus is.
  StatusNotifier(const QString& title, const QString& tooltip, const QString& menu_text,
                 const QByteArray& argb, int size, Events events);
  // Unregisters: the item's name and object leave the bus.
  ~StatusNotifier();
  StatusNotifier(const StatusNotifier&) = delete;
  StatusNotifier& operator=(const StatusNotifier&) = delete;

  State state() const { return state_; }
  // Whether a panel shows the item: the watcher lists it and says a host
  // (a panel) is registered with it. A watcher whose panel has gone (crashed,
  // restarting) shows nothing.
  bool IsShown() const { return state_ == State::kRegistered && host_; }
  // New pixels (ARGB, size x size; empty: no image); hosts hear NewIcon.
  void SetIcon(const QByteArray& argb, int size);
  void SetMenuText(const QString& menu_text);

 private:
  static void OnWatcherAppeared(GDBusConnection* bus, const gchar* name, const gchar* owner,
                                gpointer self);
  static void OnWatcherVanished(GDBusConnection* bus, const gchar* name, gpointer self);
  static void OnNameAcquired(GDBusConnection* bus, const gchar* name, gpointer self);
  static void OnNameLost(GDBusConnection* bus, const gchar* name, gpointer self);
  static void OnRegistered(GObject* bus, GAsyncResult* result, gpointer self);
  static void OnHostSignal(GDBusConnection* bus, const gchar* sender, const gchar* path,
                           const gchar* interface, const gchar* signal, GVariant* parameters,
                           gpointer self);
  static void OnHostProperty(GObject* bus, GAsyncResult* result, gpointer self);
  void AskForHost();
  static void OnMethodCall(GDBusConnection* bus, const gchar* sender, const gchar* path,
                           const gchar* interface, const gchar* method, GVariant* parameters,
                           GDBusMethodInvocation* invocation, gpointer self);
  static GVariant* OnGetProperty(GDBusConnection* bus, const gchar* sender, const gchar* path,
                                 const gchar* interface, const gchar* property, GError** error,
                                 gpointer self);
  static void OnItemActivated(DbusmenuMenuitem* item, guint timestamp, gpointer self);
  GVariant* Pixmaps() const;
  void BuildMenu();
  // Takes the item off the bus (the watcher forgets it with its name).
  void Withdraw();
  void SetState(State state);
  void SetHost(bool host);
  // Runs one of events_ (a copy: quitting destroys this object).
  static void Emit(std::function<void()> event);

  QString title_;
  QString tooltip_;
  QString menu_text_;
  QByteArray argb_;
  int size_ = 0;
  Events events_;
  State state_ = State::kAsking;
  QByteArray name_;  // the item's own name on the bus (a new one each registration)
  bool host_ = false;
  guint host_signals_ = 0;
  guint watch_ = 0;
  guint own_ = 0;
  guint object_ = 0;
  GDBusConnection* bus_ = nullptr;
  GCancellable* cancellable_ = nullptr;
  DbusmenuServer* menu_ = nullptr;
  DbusmenuMenuitem* open_item_ = nullptr;
  DbusmenuMenuitem* quit_item_ = nullptr;
  guint quit_source_ = 0;
};

}  // namespace ombrix
