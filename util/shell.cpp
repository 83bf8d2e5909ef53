#include "util/shell.h"

#include <gio/gio.h>

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
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
    qDebug() << "ShowItems" << LogMessage(error ? error->message : "");
    g_clear_error(&error);
    return false;
  }
  g_variant_unref(reply);
  return true;
}

// A URI has a scheme of two letters or more (a single letter would be a drive).
bool IsUri(const QString& target) {
  char* scheme = g_uri_parse_scheme(target.toUtf8().constData());
  const bool is_uri = scheme && std::strlen(scheme) > 1;
  g_free(scheme);
  return is_uri;
}

// A path target relative to the app's folder made absolute.
QString AbsoluteTarget(const QString& target) {
  return QDir(GetFullPathInExecutionDirectory(QString())).absoluteFilePath(target);
}

// The program a target names: an executable regular file, or a bare name found
// in PATH; empty when the target is a document, a folder or an address.
QString ProgramOf(const QString& target) {
  if (IsUri(target)) return QString();
  const QFileInfo file(AbsoluteTarget(target));
  if (file.isFile() && file.isExecutable()) return file.absoluteFilePath();
  if (target.contains(QLatin1Char('/'))) return QString();
  return QStandardPaths::findExecutable(target);
}

}  // namespace

int ExeCmd(const QString& target) {
  qDebug() << "ExeCmd" << LogText(target);
  if (target.isEmpty() || target.contains(QChar(0))) return 0;
  // A program is run, as the desktop's shell runs one it is asked to open.
  const QString program = ProgramOf(target);
  // A file that only looks like a program (every file of a FAT stick has the
  // executable bit) and cannot be run is opened like any document.
  if (!program.isEmpty() && StartDetached(program, GetFullPathInExecutionDirectory(QString()))) {
    return 1;
  }
  GError* error = nullptr;
  const QByteArray uri = IsUri(target) ? target.toUtf8() : FileUri(AbsoluteTarget(target));
  const bool started = g_app_info_launch_default_for_uri(uri.constData(), nullptr, &error);
  if (!started) {
    qDebug() << "ExeCmd failed:" << LogMessage(error ? error->message : "");
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
