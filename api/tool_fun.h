// The `ombrix.tool` family: hashes files, lists installed programs, reads and writes settings,
// fills the clipboard.
#pragma once

#include <cstdint>
#include <memory>

#include "renderer/callback_registry.h"
#include "renderer/js_value.h"

namespace ombrix {

class ToolFunHandler : public FunHandler,
                       public OmbrixCefExecuteCallbackHandler,
                       public std::enable_shared_from_this<ToolFunHandler> {
 public:
  explicit ToolFunHandler(std::uint64_t page_id) : page_id_(page_id) {}
  ~ToolFunHandler() override;
  bool Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
               QString* exception) override;
  void ExecuteCallback(const QString& name, int uuid, void* data, bool result) override;

 private:
  bool StartJob(const QString& name, const JsArgs& arguments, JsReturn* retval, QString* exception);
  bool SetClip(const JsArgs& arguments, JsReturn* retval) const;

  std::uint64_t page_id_;
};

namespace tool_ops {

// The file's MD5 digest as 32 lowercase hex digits, read in pieces (a file of
// any size needs only one piece in memory); "" when it cannot be read.
QString Md5File(const QString& path);

}  // namespace tool_ops
}  // namespace ombrix
