// The page side of the query router: `cefQuery` and `cefQueryCancel` in every
// frame. A query travels to the shell as a "cefQuery" message and is answered
// through the message's reply.
#pragma once

#include <webkit2/webkit-web-extension.h>

#include "renderer/callback_registry.h"

namespace ombrix {

class QueryRouter {
 public:
  static QueryRouter& Get();

  // Installs the two functions in a new context of the page.
  void OnContextCreated(WebKitWebPage* page, JSGlobalContextRef context, ContextToken token);
  // Forgets the queries of a context that went away.
  void OnContextReleased(ContextToken token);
  // A message from the shell for a persistent query; true when it was one.
  bool OnProcessMessageReceived(WebKitWebPage* page, WebKitUserMessage* message);
};

}  // namespace ombrix
