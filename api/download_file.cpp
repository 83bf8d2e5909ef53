#include "api/download_file.h"

namespace ombrix {

// Not available in this build: every call yields undefined.
bool DownloadFileHanlder::Execute(const QString&, const JsArgs&, JsReturn*, QString*) {
  return false;
}

void DownloadFileHanlder::ExecuteCallback(const QString&, int, void*, bool) {}

}  // namespace ombrix
