#include "api/cmd_fun.h"

namespace ombrix {

// Not available in this build: every call yields undefined.
bool CmdFunHandler::Execute(const QString&, const JsArgs&, JsReturn*, QString*) { return false; }

void CmdFunHandler::ExecuteCallback(const QString&, int, void*, bool) {}

}  // namespace ombrix
