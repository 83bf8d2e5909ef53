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

void FolderOpened(GObject*, GAsyncResult* result, gpointer) {
  GError* error = nullptr;
  if (!g_app_info_launch_default_for_uri_finish(result, &error)) {
    qDebug() << "open folder failed:" << LogMessage(error ? error->message : "");
    g_clear_error(&error);
  }
}

// Opens a folder with its default handler, without waiting for it.
void OpenFolderLater(const char* folder_uri) {
  g_app_info_launch_default_for_uri_async(folder_uri, nullptr, nullptr, FolderOpened, nullptr);
}

// The file manager's answer to ShowItems, on the thread that asked. Where it
// fails (no file manager on the bus and none the bus could start, or one that
// refused), the file's folder is opened instead; a file manager that has the
// request but answers late is left to show it.
void ShowItemsAnswered(GObject* bus, GAsyncResult* result, gpointer data) {
  char* folder_uri = static_cast<char*>(data);
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
  if (reply) {
    g_variant_unref(reply);
  } else {
    qDebug() << "ShowItems" << LogMessage(error ? error->message : "");
    const bool late = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
                      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
                      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
                      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT);
    if (!late) OpenFolderLater(folder_uri);
    g_clear_error(&error);
  }
  g_free(folder_uri);
}

// Hands ShowItems to the session bus and returns at once; the answer is taken
// by the calling thread's main context. The bus may start a file manager that
// is installed but not running. False when there is no session bus.
bool ShowItemsOverDBus(const QByteArray& uri, const QByteArray& folder_uri) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus) {
    qDebug() << "no session bus:" << LogMessage(error ? error->message : "");
    g_clear_error(&error);
    return false;
  }
  const char* uris[] = {uri.constData(), nullptr};
  g_dbus_connection_call(bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                         "org.freedesktop.FileManager1", "ShowItems",
                         g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                         nullptr, ShowItemsAnswered, g_strdup(folder_uri.constData()));
  g_object_unref(bus);
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
  const QByteArray folder = FileUri(QFileInfo(absolute).absolutePath());
  if (ShowItemsOverDBus(FileUri(absolute), folder)) return true;
  // Without a session bus the folder's handler is started directly (a quick
  // spawn; nothing is waited for).
  return g_app_info_launch_default_for_uri(folder.constData(), nullptr, nullptr);
}

bool HasSessionBus() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

}  // namespace ombrix
