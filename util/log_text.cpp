#include "util/log_text.h"

#include <QtGlobal>

namespace ombrix {
namespace {

bool g_dropping = false;
QtMessageHandler g_next_handler = nullptr;  // Qt's own writer unless another was set

void DropDebug(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtDebugMsg || type == QtInfoMsg) return;
  if (g_next_handler) g_next_handler(type, context, message);
}

}  // namespace

void DropDebugLines() {
  if (g_dropping) return;
  g_dropping = true;
  g_next_handler = qInstallMessageHandler(DropDebug);
}

}  // namespace ombrix
