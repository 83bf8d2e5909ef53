// The `ombrix.file` family: copy, delete, test, write and reveal files. Copy,
// delete and write run on a thread of their own and call the page back with
// one boolean.
#pragma once

#include <memory>

#include "renderer/callback_registry.h"
#include "renderer/js_value.h"

namespace ombrix {

class FileFunHandler : public FunHandler,
                       public OmbrixCefExecuteCallbackHandler,
                       public std::enable_shared_from_this<FileFunHandler> {
 public:
  ~FileFunHandler() override;
  bool Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
               QString* exception) override;
  void ExecuteCallback(const QString& name, int uuid, void* data, bool result) override;

 private:
  bool StartOperation(const QString& name, const JsArgs& arguments, JsReturn* retval,
                      QString* exception);
};

// The file operations themselves, on plain paths (any thread).
namespace file_ops {

// Copies source over target, creating the target's folder first. The target is
// replaced only once the whole copy exists, so a failed copy leaves it as it was.
bool Copy(const QString& source, const QString& target);
bool Delete(const QString& path);
// True for any existing file or folder.
bool Exists(const QString& path);
// Writes text as UTF-8 with every line end as CR LF and one more line end at
// the end; the folder must exist.
bool Write(const QString& path, const QString& text);
QByteArray WriteBytes(const QString& text);

}  // namespace file_ops
}  // namespace ombrix
