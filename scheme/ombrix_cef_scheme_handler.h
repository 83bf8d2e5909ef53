// The `client` scheme: every request is answered from the content archive
// beside the shell, by a worker thread, so a large entry never stalls the
// window. The archive is opened anew for every request, so an archive replaced
// while the shell runs serves its new content from the next request on.
#pragma once

#include <webkit2/webkit2.h>

namespace ombrix {

// Registers the scheme on the context, as a secure and local scheme whose
// pages may fetch their own entries and load files from disk.
void RegisterClientScheme(WebKitWebContext* context);

}  // namespace ombrix
