#include "util/log_text.h"

#include <QMutex>
#include <QtGlobal>
#include <vector>

namespace ombrix {
namespace {

enum class Mode { kPass, kHold, kDrop };

// A held line. The context's texts are string literals of the code that logged.
struct HeldLine {
  QtMsgType type;
  const char* file;
  int line;
  const char* function;
  const char* category;
  QString message;
};

QMutex g_mutex;
Mode g_mode = Mode::kPass;
QtMessageHandler g_next_handler = nullptr;  // the one in place before the hold
std::vector<HeldLine> g_held;

bool IsDebug(QtMsgType type) { return type == QtDebugMsg || type == QtInfoMsg; }

void Write(const HeldLine& held) {
  const QMessageLogContext context(held.file, held.line, held.function, held.category);
  g_next_handler(held.type, context, held.message);
}

void Handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  QMutexLocker lock(&g_mutex);
  if (IsDebug(type) && g_mode == Mode::kDrop) return;
  if (IsDebug(type) && g_mode == Mode::kHold) {
    g_held.push_back(
        {type, context.file, context.line, context.function, context.category, message});
    return;
  }
  g_next_handler(type, context, message);
}

}  // namespace

void HoldDebugLines() {
  QMutexLocker lock(&g_mutex);
  if (g_mode != Mode::kPass) return;
  g_mode = Mode::kHold;
  g_next_handler = qInstallMessageHandler(Handle);
}

void ReleaseDebugLines(bool drop) {
  QMutexLocker lock(&g_mutex);
  if (g_mode != Mode::kHold) return;
  if (!drop) {
    for (const HeldLine& held : g_held) Write(held);
    qInstallMessageHandler(g_next_handler);  // nothing of ours stays in the way
  }
  g_held.clear();
  g_mode = drop ? Mode::kDrop : Mode::kPass;
}

}  // namespace ombrix
