// The `ombrix.requestfile` family: downloads a URL into a file from the page's
// own process, streaming the body to disk, with progress, completion, error and
// abort callbacks. A download of a page that goes is cancelled. http(s)
// downloads carry the engine's User-Agent; client: addresses are entries of
// the content archive.
#pragma once

#include <memory>

#include "renderer/callback_registry.h"
#include "renderer/js_value.h"

namespace ombrix {

// The User-Agent downloads send (the engine's); set before the first download.
void SetDownloadUserAgent(const QString& user_agent);

class DownloadFileHanlder : public FunHandler,
                            public OmbrixCefExecuteCallbackHandler,
                            public std::enable_shared_from_this<DownloadFileHanlder> {
 public:
  bool Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
               QString* exception) override;
  void ExecuteCallback(const QString& name, int uuid, void* data, bool result) override;

 private:
  bool StartDownload(int uuid, const JsArgs& arguments, JsReturn* retval, QString* exception);
};

}  // namespace ombrix
