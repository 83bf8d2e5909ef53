#include "api/fpj_fun.h"

namespace ombrix {

// Not available in this build: every call yields undefined.
bool FpjFunHandler::Execute(const QString&, const JsArgs&, JsReturn*, QString*) { return false; }

}  // namespace ombrix
