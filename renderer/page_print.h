// The page side of silent printing: window.print() of a trusted frame asks the
// shell to print (the main frame's page, or a sub-frame's document on its
// own), and the shell's answers become the frame document's "printresult"
// events.
#pragma once

#include <JavaScriptCore/JavaScript.h>

#include <cstdint>
#include <functional>
#include <map>

#include "renderer/callback_registry.h"
#include "util/process_message.h"

namespace ombrix {

class PagePrint {
 public:
  static PagePrint& Get();

  // Replaces the frame's window.print.
  void Install(std::uint64_t page_id, bool main_frame, JSGlobalContextRef context,
               ContextToken token);
  // The asks of a context that has gone are forgotten.
  void OnContextReleased(ContextToken token);
  // A "printresult" message: the event goes to the asking frame's document,
  // found through context_of (nullptr when it has gone).
  void OnResult(const ProcessMessage& message,
                const std::function<JSGlobalContextRef(ContextToken)>& context_of);

 private:
  void Ask(std::uint64_t page_id, bool main_frame, JSContextRef context, ContextToken token);

  std::map<int, ContextToken> asks_;  // by the ask's number
  int next_ask_ = 0;
};

}  // namespace ombrix
