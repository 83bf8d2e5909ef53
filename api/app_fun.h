// The `ombrix.app` family: leave the application, learn its name, folder and
// command line, control the tray icon, start and kill programs, and exchange
// messages with other programs over shared-memory channels.
#pragma once

#include <cstdint>
#include <memory>

#include "renderer/callback_registry.h"
#include "renderer/js_value.h"

namespace ombrix {

class AppFunHandler : public FunHandler,
                      public OmbrixCefExecuteCallbackHandler,
                      public std::enable_shared_from_this<AppFunHandler> {
 public:
  explicit AppFunHandler(std::uint64_t page_id);
  ~AppFunHandler() override;
  bool Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
               QString* exception) override;
  void ExecuteCallback(const QString& name, int uuid, void* data, bool result) override;

 private:
  bool Send(const QString& name, const JsArgs& arguments, int string_count, JsReturn* retval);
  bool ExitApp();

  std::uint64_t page_id_;
};

}  // namespace ombrix
