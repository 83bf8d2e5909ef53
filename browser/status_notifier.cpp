#include "browser/status_notifier.h"

#include <unistd.h>

#include <QDebug>

#include "browser/dbusmenu_library.h"
#include "util/log_text.h"

namespace ombrix {
namespace {

const char kWatcherName[] = "org.kde.StatusNotifierWatcher";
const char kWatcherPath[] = "/StatusNotifierWatcher";
const char kItemInterface[] = "org.kde.StatusNotifierItem";
const char kItemPath[] = "/StatusNotifierItem";
const char kMenuPath[] = "/MenuBar";

const char kItemXml[] = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
  </interface>
</node>)xml";

GDBusInterfaceInfo* ItemInterface() {
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kItemXml, nullptr);
  return node->interfaces[0];
}

GVariant* NoPixmaps() { return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0); }

}  // namespace

StatusNotifier::StatusNotifier(const QString& title, const QString& tooltip,
                               const QString& menu_text, const QByteArray& argb, int size,
                               Events events)
    : title_(title),
      tooltip_(tooltip),
      menu_text_(menu_text),
      argb_(argb),
      size_(size),
      events_(std::move(events)) {
  watch_ = g_bus_watch_name(G_BUS_TYPE_SESSION, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                            OnWatcherAppeared, OnWatcherVanished, this, nullptr);
}

StatusNotifier::~StatusNotifier() {
  g_bus_unwatch_name(watch_);
  if (quit_source_) g_source_remove(quit_source_);
  Withdraw();
  if (menu_) {
    g_signal_handlers_disconnect_by_data(open_item_, this);
    g_signal_handlers_disconnect_by_data(quit_item_, this);
    g_object_unref(menu_);
  }
}

void StatusNotifier::Emit(std::function<void()> event) {
  if (event) event();
}

void StatusNotifier::SetState(State state) {
  if (state_ == state) return;
  state_ = state;
  Emit(events_.changed);
}

void StatusNotifier::SetHost(bool host) {
  if (host_ == host) return;
  host_ = host;
  qDebug() << "tray:" << (host ? "a panel shows" : "no panel shows") << "StatusNotifierItems";
  Emit(events_.changed);
}

void StatusNotifier::OnWatcherAppeared(GDBusConnection* bus, const gchar*, const gchar* owner,
                                       gpointer self) {
  auto* notifier = static_cast<StatusNotifier*>(self);
  notifier->Withdraw();
  notifier->bus_ = G_DBUS_CONNECTION(g_object_ref(bus));
  notifier->cancellable_ = g_cancellable_new();
  static const GDBusInterfaceVTable vtable = {OnMethodCall, OnGetProperty, nullptr, {}};
  GError* error = nullptr;
  notifier->object_ = g_dbus_connection_register_object(bus, kItemPath, ItemInterface(), &vtable,
                                                        notifier, nullptr, &error);
  if (!notifier->object_) {
    qDebug() << "tray: the StatusNotifierItem could not be put on the bus:"
             << LogMessage(error->message);
    g_error_free(error);
    notifier->SetState(State::kNoWatcher);
    return;
  }
  notifier->BuildMenu();
  qDebug() << "tray: a StatusNotifierWatcher is on the session bus:" << owner;
  notifier->host_signals_ =
      g_dbus_connection_signal_subscribe(bus, owner, kWatcherName, nullptr, kWatcherPath, nullptr,
                                         G_DBUS_SIGNAL_FLAGS_NONE, OnHostSignal, notifier, nullptr);
  // A name of its own for each registration: the last one may still be on its way out.
  static int registrations = 0;
  notifier->name_ = QByteArray("org.kde.StatusNotifierItem-") + QByteArray::number(getpid()) + '-' +
                    QByteArray::number(++registrations);
  notifier->own_ =
      g_bus_own_name_on_connection(bus, notifier->name_.constData(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                   OnNameAcquired, OnNameLost, notifier, nullptr);
  notifier->SetState(State::kRegistering);
}

void StatusNotifier::OnWatcherVanished(GDBusConnection*, const gchar*, gpointer self) {
  auto* notifier = static_cast<StatusNotifier*>(self);
  if (notifier->state_ == State::kRegistered) {
    qDebug() << "tray: the StatusNotifierWatcher has left the session bus";
  } else if (notifier->state_ == State::kAsking) {
    qDebug() << "tray: no StatusNotifierWatcher on the session bus";
  }
  notifier->Withdraw();
  notifier->SetState(State::kNoWatcher);
}

void StatusNotifier::OnNameAcquired(GDBusConnection* bus, const gchar* name, gpointer self) {
  auto* notifier = static_cast<StatusNotifier*>(self);
  g_dbus_connection_call(bus, kWatcherName, kWatcherPath, kWatcherName,
                         "RegisterStatusNotifierItem", g_variant_new("(s)", name), nullptr,
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, notifier->cancellable_, OnRegistered,
                         notifier);
}

void StatusNotifier::OnNameLost(GDBusConnection*, const gchar* name, gpointer self) {
  auto* notifier = static_cast<StatusNotifier*>(self);
  qDebug() << "tray: the bus name" << name << "is not the shell's";
  notifier->Withdraw();
  notifier->SetState(State::kNoWatcher);
}

void StatusNotifier::OnRegistered(GObject* bus, GAsyncResult* result, gpointer self) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
  if (!reply) {
    // Cancelled: the item was withdrawn, and the notifier may be gone.
    if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
      qDebug() << "tray: the StatusNotifierWatcher refused the item:" << LogMessage(error->message);
      auto* notifier = static_cast<StatusNotifier*>(self);
      notifier->Withdraw();
      notifier->SetState(State::kNoWatcher);
    }
    g_error_free(error);
    return;
  }
  g_variant_unref(reply);
  auto* notifier = static_cast<StatusNotifier*>(self);
  qDebug() << "tray: registered as" << notifier->name_.constData();
  notifier->SetState(State::kRegistered);
  notifier->AskForHost();
}

void StatusNotifier::AskForHost() {
  if (!bus_) return;
  g_dbus_connection_call(bus_, kWatcherName, kWatcherPath, "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", kWatcherName, "IsStatusNotifierHostRegistered"),
                         G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, cancellable_,
                         OnHostProperty, this);
}

void StatusNotifier::OnHostSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                  const gchar* signal, GVariant*, gpointer self) {
  // A host that goes may leave others: the watcher's property tells.
  if (g_str_has_prefix(signal, "StatusNotifierHost"))
    static_cast<StatusNotifier*>(self)->AskForHost();
}

void StatusNotifier::OnHostProperty(GObject* bus, GAsyncResult* result, gpointer self) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
  if (!reply && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
    g_error_free(error);  // withdrawn: the notifier may be gone
    return;
  }
  auto* notifier = static_cast<StatusNotifier*>(self);
  bool host = true;  // a watcher that does not say is taken at its word
  if (reply) {
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) host = g_variant_get_boolean(value);
    g_variant_unref(value);
    g_variant_unref(reply);
  } else {
    qDebug() << "tray: the StatusNotifierWatcher does not say whether a panel shows items:"
             << LogMessage(error->message);
    g_error_free(error);
  }
  notifier->SetHost(host);
}

void StatusNotifier::Withdraw() {
  if (cancellable_) {
    g_cancellable_cancel(cancellable_);
    g_clear_object(&cancellable_);
  }
  if (own_) g_bus_unown_name(own_);
  own_ = 0;
  if (host_signals_) g_dbus_connection_signal_unsubscribe(bus_, host_signals_);
  host_signals_ = 0;
  host_ = false;
  if (object_) g_dbus_connection_unregister_object(bus_, object_);
  object_ = 0;
  g_clear_object(&bus_);
}

void StatusNotifier::BuildMenu() {
  const DbusmenuLibrary* dbusmenu = Dbusmenu();
  if (menu_ || !dbusmenu) return;
  menu_ = dbusmenu->dbusmenu_server_new(kMenuPath);
  DbusmenuMenuitem* root = dbusmenu->dbusmenu_menuitem_new();
  open_item_ = dbusmenu->dbusmenu_menuitem_new();
  quit_item_ = dbusmenu->dbusmenu_menuitem_new();
  SetMenuText(menu_text_);
  dbusmenu->dbusmenu_menuitem_property_set(quit_item_, DBUSMENU_MENUITEM_PROP_LABEL, "退 出");
  g_signal_connect(open_item_, DBUSMENU_MENUITEM_SIGNAL_ITEM_ACTIVATED, G_CALLBACK(OnItemActivated),
                   this);
  g_signal_connect(quit_item_, DBUSMENU_MENUITEM_SIGNAL_ITEM_ACTIVATED, G_CALLBACK(OnItemActivated),
                   this);
  // The root holds the items from here on, and the server the root.
  dbusmenu->dbusmenu_menuitem_child_append(root, open_item_);
  dbusmenu->dbusmenu_menuitem_child_append(root, quit_item_);
  g_object_unref(open_item_);
  g_object_unref(quit_item_);
  dbusmenu->dbusmenu_server_set_root(menu_, root);
  g_object_unref(root);
}

void StatusNotifier::SetMenuText(const QString& menu_text) {
  menu_text_ = menu_text;
  if (!open_item_) return;
  const QByteArray label = (QStringLiteral("打开") + menu_text).toUtf8();
  Dbusmenu()->dbusmenu_menuitem_property_set(open_item_, DBUSMENU_MENUITEM_PROP_LABEL,
                                             label.constData());
}

void StatusNotifier::SetIcon(const QByteArray& argb, int size) {
  argb_ = argb;
  size_ = size;
  if (object_) {
    g_dbus_connection_emit_signal(bus_, nullptr, kItemPath, kItemInterface, "NewIcon", nullptr,
                                  nullptr);
  }
}

void StatusNotifier::OnItemActivated(DbusmenuMenuitem* item, guint, gpointer self) {
  auto* notifier = static_cast<StatusNotifier*>(self);
  if (item == notifier->open_item_) {
    Emit(notifier->events_.open);
    return;
  }
  // Quitting takes the menu off the bus: not while it is handing out this event.
  if (notifier->quit_source_) return;
  notifier->quit_source_ = g_idle_add(
      [](gpointer data) {
        auto* quitting = static_cast<StatusNotifier*>(data);
        quitting->quit_source_ = 0;
        Emit(quitting->events_.quit);
        return G_SOURCE_REMOVE;
      },
      notifier);
}

void StatusNotifier::OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                  const gchar* method, GVariant*, GDBusMethodInvocation* invocation,
                                  gpointer self) {
  auto* notifier = static_cast<StatusNotifier*>(self);
  // Hosts that show the exported menu themselves never ask for ContextMenu; a
  // click (Activate) brings the window back, as a double-click on the other
  // kind of icon does.
  const bool activate = g_strcmp0(method, "Activate") == 0;
  g_dbus_method_invocation_return_value(invocation, nullptr);
  if (activate) Emit(notifier->events_.activate);
}

GVariant* StatusNotifier::Pixmaps() const {
  if (argb_.isEmpty()) return NoPixmaps();
  GVariant* bytes =
      g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, argb_.constData(), argb_.size(), 1);
  GVariant* pixmap = g_variant_new("(ii@ay)", size_, size_, bytes);
  return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), &pixmap, 1);
}

GVariant* StatusNotifier::OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                        const gchar* property, GError**, gpointer self) {
  const auto* notifier = static_cast<const StatusNotifier*>(self);
  const QByteArray name(property);
  if (name == "Category") return g_variant_new_string("ApplicationStatus");
  if (name == "Id") return g_variant_new_string(g_get_prgname() ? g_get_prgname() : "ombrix");
  if (name == "Title") return g_variant_new_string(notifier->title_.toUtf8().constData());
  if (name == "Status") return g_variant_new_string("Active");
  if (name == "WindowId") return g_variant_new_int32(0);
  if (name == "IconPixmap") return notifier->Pixmaps();
  if (name.endsWith("Pixmap")) return NoPixmaps();
  if (name == "ToolTip") {
    return g_variant_new("(s@a(iiay)ss)", "", NoPixmaps(), notifier->tooltip_.toUtf8().constData(),
                         "");
  }
  if (name == "ItemIsMenu") return g_variant_new_boolean(FALSE);
  if (name == "Menu")
    return g_variant_new_object_path(notifier->menu_ ? kMenuPath : "/NO_DBUSMENU");
  // Without pixels (an unreadable file), the desktop's generic icon, as the
  // system tray's icon shows then.
  if (name == "IconName" && notifier->argb_.isEmpty()) {
    return g_variant_new_string("application-x-executable");
  }
  return g_variant_new_string("");  // the other icon names and the attention movie
}

}  // namespace ombrix
