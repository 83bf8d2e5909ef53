#include "api/tool_fun.h"

namespace ombrix {

// Not available in this build: every call yields undefined.
bool ToolFunHandler::Execute(const QString&, const JsArgs&, JsReturn*, QString*) { return false; }

void ToolFunHandler::ExecuteCallback(const QString&, int, void*, bool) {}

}  // namespace ombrix
