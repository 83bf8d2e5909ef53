#include "util/shell.h"

#include <gio/gio.h>

#include <QDebug>
#include <QFileInfo>
#include <cstring>

#include "util/log_text.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

QByteArray FileUri(const QString& path) {
  GFile* file = g_file_new_for_path(path.toUtf8().constData());
  char* uri = g_file_get_uri(file);
  QByteArray result(uri);
  g_free(uri);
  g_object_unref(file);
  return result;
}

bool ShowItemsOverDBus(const QByteArray& uri) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return false;
  const char* uris[] = {uri.constData(), nullptr};
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
      "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr,
      G_DBUS_CALL_FLAGS_NO_AUTO_START, 3000, nullptr, &error);
  g_object_unref(bus);
  if (!reply) {
    qDebug() << "ShowItems" << (error ? error->message : "");
    g_clear_error(&error);
    return false;
  }
  g_variant_unref(reply);
  return true;
}

// The target as a URI: kept when it has a scheme of two letters or more (a
// single letter would be a drive), else taken as a path.
QByteArray TargetUri(const QString& target) {
  const QByteArray bytes = target.toUtf8();
  char* scheme = g_uri_parse_scheme(bytes.constData());
  const bool is_uri = scheme && std::strlen(scheme) > 1;
  g_free(scheme);
  return is_uri ? bytes : FileUri(QFileInfo(target).absoluteFilePath());
}

}  // namespace

int ExeCmd(const QString& target) {
  qDebug() << "ExeCmd" << LogText(target);
  if (target.isEmpty() || target.contains(QChar(0))) return 0;
  GError* error = nullptr;
  const bool started =
      g_app_info_launch_default_for_uri(TargetUri(target).constData(), nullptr, &error);
  if (!started) {
    qDebug() << "ExeCmd failed:" << (error ? error->message : "");
    g_clear_error(&error);
  }
  return started ? 1 : 0;
}

bool OpenFolderAndSelect(const QString& path) {
  if (!IsFilePath(path)) return false;
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (ShowItemsOverDBus(FileUri(absolute))) return true;
  const QByteArray folder = FileUri(QFileInfo(absolute).absolutePath());
  return g_app_info_launch_default_for_uri(folder.constData(), nullptr, nullptr);
}

}  // namespace ombrix
