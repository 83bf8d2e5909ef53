#include "util/util_win.h"

#include <QDebug>
#include <QFileInfo>
#include <QMutex>

namespace ombrix {
namespace {

QMutex g_path_mutex;
QString g_executable_path;  // empty: read /proc/self/exe

QString ReadSelfExe() { return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget(); }

}  // namespace

QString ExecutablePath() {
  QMutexLocker lock(&g_path_mutex);
  if (g_executable_path.isEmpty()) g_executable_path = ReadSelfExe();
  return g_executable_path;
}

void SetExecutablePath(const QString& path) {
  QMutexLocker lock(&g_path_mutex);
  g_executable_path = path;
}

QString GetFullPathInExecutionDirectory(const QString& file_name) {
  const QString exe = ExecutablePath();
  QString path = exe.left(exe.lastIndexOf(QLatin1Char('/')));
  if (!file_name.isEmpty()) path += QLatin1Char('/') + file_name;
  qDebug() << "APP" << path;
  return path;
}

QString AppNameFromPath(const QString& executable_path) {
  QString name = executable_path.mid(executable_path.lastIndexOf(QLatin1Char('/')) + 1);
  name.remove(QStringLiteral(".exe"), Qt::CaseSensitive);
  return name;
}

QString GetAppName() { return AppNameFromPath(ExecutablePath()); }

QString ExpandAppDir(const QString& text) {
  if (!text.contains(QStringLiteral("${AppDir}"))) return text;
  QString expanded = text;
  expanded.replace(QStringLiteral("${AppDir}"), GetFullPathInExecutionDirectory(QString()),
                   Qt::CaseSensitive);
  return expanded;
}

Rect CentreRectOnScreen(int screen_width, int screen_height, int width, int height) {
  int left = screen_width / 2 - width / 2;
  int top = screen_height / 2 - height / 2;
  if (left + width > screen_width) left = screen_width - width;
  if (top + height > screen_height) top = screen_height - height;
  return Rect{left, top, left + width, top + height};
}

int CentreRect(int width, int height, Rect* out) {
  int screen_width = 0;
  int screen_height = 0;
  PrimaryScreenSize(&screen_width, &screen_height);
  *out = CentreRectOnScreen(screen_width, screen_height, width, height);
  return 1;
}

}  // namespace ombrix
