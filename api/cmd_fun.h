// The `ombrix.process` family: runs command lines and reports their exit codes,
// and opens files and addresses with the desktop's default handler.
#pragma once

#include <memory>

#include "renderer/callback_registry.h"
#include "renderer/js_value.h"

namespace ombrix {

class CmdFunHandler : public FunHandler,
                      public OmbrixCefExecuteCallbackHandler,
                      public std::enable_shared_from_this<CmdFunHandler> {
 public:
  ~CmdFunHandler() override;
  bool Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
               QString* exception) override;
  void ExecuteCallback(const QString& name, int uuid, void* data, bool result) override;

 private:
  bool StartCommand(const QString& name, const JsArgs& arguments, JsReturn* retval,
                    QString* exception);
};

}  // namespace ombrix
