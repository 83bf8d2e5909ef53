// The `ombrix.requestfile` family: downloads files with progress callbacks.
#pragma once

#include "renderer/callback_registry.h"
#include "renderer/js_value.h"

namespace ombrix {

class DownloadFileHanlder : public FunHandler, public OmbrixCefExecuteCallbackHandler {
 public:
  bool Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
               QString* exception) override;
  void ExecuteCallback(const QString& name, int uuid, void* data, bool result) override;
};

}  // namespace ombrix
