// The shell's control interface on the session bus: it owns
// "org.ombrix.Kiosk.APP" and serves /org/ombrix/Kiosk with the interface
// org.ombrix.Kiosk1 (the main page's Url, State, Responsive and Restarts, the
// shell's StartTime, Version and AppName; Reload, Home, Screenshot and Quit).
// Only the session's own user reaches it; nothing listens on the network.
#pragma once

#include <gio/gio.h>
#include <webkit2/webkit2.h>

#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "kiosk/page_status.h"

namespace ombrix {

struct KioskBusSetup {
  QString app_name;
  QString version;
  qint64 start_time = 0;  // Unix seconds
  PageStatusBoard* board = nullptr;
  std::function<WebKitWebView*()> main_view;  // nullptr while there is none
  std::function<void()> home;                 // loads the first page
  std::function<void()> quit;                 // ends the shell
};

class KioskBus {
 public:
  // Asks for the name at once; a name another shell of the app holds is
  // logged, and this shell runs on without it. The board outlives the bus.
  explicit KioskBus(KioskBusSetup setup);
  ~KioskBus();
  KioskBus(const KioskBus&) = delete;
  KioskBus& operator=(const KioskBus&) = delete;

  const std::string& bus_name() const { return bus_name_; }

 private:
  static void OnBusAcquired(GDBusConnection* connection, const gchar* name, gpointer self);
  static void OnNameAcquired(GDBusConnection* connection, const gchar* name, gpointer self);
  static void OnNameLost(GDBusConnection* connection, const gchar* name, gpointer self);
  static void OnMethodCall(GDBusConnection* connection, const gchar* sender,
                           const gchar* object_path, const gchar* interface_name,
                           const gchar* method_name, GVariant* parameters,
                           GDBusMethodInvocation* invocation, gpointer self);
  static GVariant* OnGetProperty(GDBusConnection* connection, const gchar* sender,
                                 const gchar* object_path, const gchar* interface_name,
                                 const gchar* property_name, GError** error, gpointer self);
  struct QuitRequest {
    KioskBus* bus;
    std::weak_ptr<bool> alive;
  };
  static void OnFlushedForQuit(GObject* source, GAsyncResult* result, gpointer self);

  GVariant* Property(const std::string& name) const;
  void Call(const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation);
  // PropertiesChanged for what differs from the last status told.
  void OnStatus(const PageStatus& status);

  KioskBusSetup setup_;
  std::string bus_name_;
  guint owner_id_ = 0;
  guint object_id_ = 0;
  GDBusConnection* connection_ = nullptr;
  GDBusNodeInfo* introspection_ = nullptr;
  PageStatus told_;              // as the last PropertiesChanged left it
  std::shared_ptr<bool> alive_;  // the board's watcher checks it
};

}  // namespace ombrix
