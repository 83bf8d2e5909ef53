#include "util/util_win.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <climits>
#include <cstdlib>

#include "util/log_text.h"

namespace ombrix {
namespace {

QMutex g_path_mutex;
QString g_executable_path;  // empty: the real executable

// The process id a /proc entry names, or 0 for other entries.
pid_t PidOfEntry(const char* name) {
  char* end = nullptr;
  const long pid = std::strtol(name, &end, 10);
  return (end != name && *end == '\0' && pid > 0) ? pid_t(pid) : 0;
}

// The file name of a process's executable; empty when it cannot be read.
QByteArray ExecutableFileName(pid_t pid) {
  char target[PATH_MAX];
  const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
  const ssize_t length = readlink(link.constData(), target, sizeof(target) - 1);
  if (length <= 0) return QByteArray();
  const QByteArray path(target, int(length));
  return path.mid(path.lastIndexOf('/') + 1);
}

}  // namespace

bool IsFilePath(const QString& path) { return !path.isEmpty() && !path.contains(QChar(0)); }

QString RealExecutablePath() { return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget(); }

QString RealFileOf(const QString& path) { return QFileInfo(path).canonicalFilePath(); }

QString ExecutablePath() {
  QMutexLocker lock(&g_path_mutex);
  if (g_executable_path.isEmpty()) g_executable_path = RealExecutablePath();
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

bool KillProcess(const QString& exe_file_name) {
  const QByteArray wanted = QFile::encodeName(exe_file_name);
  DIR* proc = opendir("/proc");
  if (wanted.isEmpty() || proc == nullptr) {
    if (proc != nullptr) closedir(proc);
    return true;
  }
  const pid_t self = getpid();
  while (const dirent* entry = readdir(proc)) {
    const pid_t pid = PidOfEntry(entry->d_name);
    if (pid == 0 || pid == self || ExecutableFileName(pid) != wanted) continue;
    if (kill(pid, SIGKILL) == 0) qDebug() << "KillProcess" << LogText(exe_file_name) << pid;
  }
  closedir(proc);
  return true;
}

QString ExpandAppDir(const QString& text) {
  if (!text.contains(QStringLiteral("${AppDir}"))) return text;
  QString expanded = text;
  expanded.replace(QStringLiteral("${AppDir}"), GetFullPathInExecutionDirectory(QString()),
                   Qt::CaseSensitive);
  return expanded;
}

Rect CentreRectOnScreen(const Rect& screen, int width, int height) {
  int left = screen.width() / 2 - width / 2;
  int top = screen.height() / 2 - height / 2;
  if (left + width > screen.width()) left = screen.width() - width;
  if (top + height > screen.height()) top = screen.height() - height;
  left += screen.left;
  top += screen.top;
  return Rect{left, top, left + width, top + height};
}

int CentreRect(int width, int height, Rect* out) {
  *out = CentreRectOnScreen(PrimaryScreenRect(), width, height);
  return 1;
}

namespace {

// Writes value as eight zero-padded digits over the field that follows label.
void SetOffsetField(QByteArray* block, const char* label, int value) {
  const int at = block->indexOf(label) + int(qstrlen(label));
  block->replace(at, 8, QByteArray::number(value).rightJustified(8, '0'));
}

}  // namespace

QByteArray BuildHtmlClipboardBlock(const QByteArray& html) {
  QByteArray block =
      "Version:0.9\r\nStartHTML:00000000\r\nEndHTML:00000000\r\nStartFragment:00000000\r\n"
      "EndFragment:00000000\r\n<html><body>\r\n<!--StartFragment -->\r\n";
  block += html;
  block += "\r\n<!--EndFragment-->\r\n</body>\r\n</html>";
  if (block.size() > 99999999) return QByteArray();  // the offsets have eight digits
  SetOffsetField(&block, "StartHTML:", block.indexOf("<html>"));
  SetOffsetField(&block, "EndHTML:", block.size());
  SetOffsetField(&block, "StartFragment:", block.indexOf("<!--StartFrag"));
  SetOffsetField(&block, "EndFragment:", block.lastIndexOf("<!--EndFrag"));
  return block;
}

}  // namespace ombrix
