#include "control/kiosk_bus.h"

#include <QDebug>
#include <cstdio>
#include <utility>

#include "control/control_rules.h"
#include "control/page_snapshot.h"

namespace ombrix {
namespace {

const char kIntrospection[] = R"(<node>
  <interface name="org.ombrix.Kiosk1">
    <method name="Reload"/>
    <method name="Home"/>
    <method name="Screenshot">
      <arg name="path" type="s" direction="in"/>
      <arg name="written" type="s" direction="out"/>
    </method>
    <method name="Quit"/>
    <property name="Url" type="s" access="read"/>
    <property name="State" type="s" access="read"/>
    <property name="Responsive" type="b" access="read"/>
    <property name="Restarts" type="u" access="read"/>
    <property name="StartTime" type="t" access="read">
      <annotation name="org.freedesktop.DBus.Property.EmitsChangedSignal" value="const"/>
    </property>
    <property name="Version" type="s" access="read">
      <annotation name="org.freedesktop.DBus.Property.EmitsChangedSignal" value="const"/>
    </property>
    <property name="AppName" type="s" access="read">
      <annotation name="org.freedesktop.DBus.Property.EmitsChangedSignal" value="const"/>
    </property>
  </interface>
</node>)";

GVariant* Utf8(const QString& text) { return g_variant_new_string(text.toUtf8().constData()); }

void PrintLine(const std::string& line) {
  std::printf("%s\r\n", line.c_str());
  std::fflush(stdout);
}

void ReplyNoPage(GDBusMethodInvocation* invocation) {
  g_dbus_method_invocation_return_error_literal(invocation, G_DBUS_ERROR, G_DBUS_ERROR_FAILED,
                                                "the shell has no main page");
}

}  // namespace

KioskBus::KioskBus(KioskBusSetup setup)
    : setup_(std::move(setup)),
      bus_name_(BusNameForApp(setup_.app_name.toStdString())),
      alive_(std::make_shared<bool>(true)) {
  introspection_ = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  if (setup_.board) {
    told_ = setup_.board->status();
    std::weak_ptr<bool> alive = alive_;
    setup_.board->Watch([this, alive](const PageStatus& status) {
      if (alive.lock()) OnStatus(status);
    });
  }
  owner_id_ = g_bus_own_name(G_BUS_TYPE_SESSION, bus_name_.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                             OnBusAcquired, OnNameAcquired, OnNameLost, this, nullptr);
}

KioskBus::~KioskBus() {
  alive_.reset();
  if (connection_ && object_id_) g_dbus_connection_unregister_object(connection_, object_id_);
  if (owner_id_) g_bus_unown_name(owner_id_);
  if (connection_) {
    // The replies sent last (a Quit's) leave before the shell does.
    g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
  }
  if (introspection_) g_dbus_node_info_unref(introspection_);
}

void KioskBus::OnBusAcquired(GDBusConnection* connection, const gchar*, gpointer self) {
  static const GDBusInterfaceVTable vtable = {OnMethodCall, OnGetProperty, nullptr, {nullptr}};
  auto* bus = static_cast<KioskBus*>(self);
  bus->connection_ = G_DBUS_CONNECTION(g_object_ref(connection));
  GError* error = nullptr;
  bus->object_id_ = g_dbus_connection_register_object(connection, kKioskObjectPath,
                                                      bus->introspection_->interfaces[0], &vtable,
                                                      bus, nullptr, &error);
  if (!bus->object_id_) {
    qDebug() << "control: cannot serve" << kKioskObjectPath << (error ? error->message : "");
    g_clear_error(&error);
  }
}

void KioskBus::OnNameAcquired(GDBusConnection*, const gchar* name, gpointer) {
  qDebug() << "control: on the session bus as" << name;
}

void KioskBus::OnNameLost(GDBusConnection* connection, const gchar* name, gpointer self) {
  auto* bus = static_cast<KioskBus*>(self);
  if (!connection) {
    PrintLine(std::string("control: no session bus; ") + name + " is not offered");
  } else {
    PrintLine(std::string("control: ") + name +
              " is held by another shell of this app; this one runs on without it");
  }
  // Not asked for again: the name stays with the first shell.
  if (bus->owner_id_) g_bus_unown_name(bus->owner_id_);
  bus->owner_id_ = 0;
}

GVariant* KioskBus::Property(const std::string& name) const {
  const PageStatus status = setup_.board ? setup_.board->status() : PageStatus();
  if (name == "Url") return Utf8(status.url);
  if (name == "State") return g_variant_new_string(PageStateName(status.state));
  if (name == "Responsive") return g_variant_new_boolean(status.responsive);
  if (name == "Restarts") return g_variant_new_uint32(guint32(status.restarts));
  if (name == "StartTime") return g_variant_new_uint64(guint64(setup_.start_time));
  if (name == "Version") return Utf8(setup_.version);
  if (name == "AppName") return Utf8(setup_.app_name);
  return nullptr;
}

GVariant* KioskBus::OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                  const gchar* property_name, GError** error, gpointer self) {
  GVariant* value = static_cast<KioskBus*>(self)->Property(property_name);
  if (!value) {
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s",
                property_name);
  }
  return value;
}

void KioskBus::OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                            const gchar* method_name, GVariant* parameters,
                            GDBusMethodInvocation* invocation, gpointer self) {
  static_cast<KioskBus*>(self)->Call(method_name, parameters, invocation);
}

void KioskBus::Call(const std::string& method, GVariant* parameters,
                    GDBusMethodInvocation* invocation) {
  qDebug() << "control:" << method.c_str();
  WebKitWebView* view = setup_.main_view ? setup_.main_view() : nullptr;
  if (method == "Quit") {
    g_dbus_method_invocation_return_value(invocation, nullptr);
    // The reply leaves first; then the shell ends.
    g_dbus_connection_flush(connection_, nullptr, OnFlushedForQuit, new QuitRequest{this, alive_});
    return;
  }
  if (!view) return ReplyNoPage(invocation);
  if (method == "Reload") {
    webkit_web_view_reload(view);
  } else if (method == "Home") {
    if (setup_.home) setup_.home();
  } else if (method == "Screenshot") {
    const gchar* path = nullptr;
    g_variant_get(parameters, "(&s)", &path);
    if (!g_path_is_absolute(path)) {
      g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                            "not an absolute path: %s", path);
      return;
    }
    const std::string written = path;
    // The invocation keeps itself until it is answered.
    WritePageSnapshot(view, written, [invocation, written](const std::string& error) {
      if (!error.empty()) {
        g_dbus_method_invocation_return_error_literal(invocation, G_IO_ERROR, G_IO_ERROR_FAILED,
                                                      error.c_str());
        return;
      }
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", written.c_str()));
    });
    return;
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

void KioskBus::OnFlushedForQuit(GObject* source, GAsyncResult* result, gpointer data) {
  g_dbus_connection_flush_finish(G_DBUS_CONNECTION(source), result, nullptr);
  std::unique_ptr<QuitRequest> request(static_cast<QuitRequest*>(data));
  if (request->alive.lock() && request->bus->setup_.quit) request->bus->setup_.quit();
}

void KioskBus::OnStatus(const PageStatus& status) {
  const PageStatus before = told_;
  told_ = status;
  if (!connection_ || !object_id_) return;
  GVariantBuilder changed;
  g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
  bool any = false;
  const auto add = [&](bool differs, const char* name) {
    if (!differs) return;
    g_variant_builder_add(&changed, "{sv}", name, Property(name));
    any = true;
  };
  add(status.url != before.url, "Url");
  add(status.state != before.state, "State");
  add(status.responsive != before.responsive, "Responsive");
  add(status.restarts != before.restarts, "Restarts");
  if (!any) {
    g_variant_builder_clear(&changed);
    return;
  }
  GVariantBuilder invalidated;
  g_variant_builder_init(&invalidated, G_VARIANT_TYPE("as"));
  g_dbus_connection_emit_signal(
      connection_, nullptr, kKioskObjectPath, "org.freedesktop.DBus.Properties",
      "PropertiesChanged", g_variant_new("(sa{sv}as)", kKioskInterface, &changed, &invalidated),
      nullptr);
}

}  // namespace ombrix
