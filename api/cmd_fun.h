// The `ombrix.process` family: runs command lines and reports their exit codes.
#pragma once

#include "renderer/callback_registry.h"
#include "renderer/js_value.h"

namespace ombrix {

class CmdFunHandler : public FunHandler, public OmbrixCefExecuteCallbackHandler {
 public:
  bool Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
               QString* exception) override;
  void ExecuteCallback(const QString& name, int uuid, void* data, bool result) override;
};

}  // namespace ombrix
