#include "renderer/page_messages.h"

#include <webkit2/webkit-web-extension.h>

#include "renderer/callback_registry.h"

namespace ombrix {
namespace {

WebKitWebExtension* g_extension = nullptr;

}  // namespace

void SetPageExtension(WebKitWebExtension* extension) { g_extension = extension; }

std::uint64_t CurrentPageId() {
  const CallContext* call = CurrentCall();
  return call ? call->page_id : 0;
}

bool SendToBrowser(std::uint64_t page_id, const ProcessMessage& message) {
  WebKitWebPage* page = g_extension ? webkit_web_extension_get_page(g_extension, page_id) : nullptr;
  if (!page) return false;
  webkit_web_page_send_message_to_view(
      page, webkit_user_message_new(message.name.toUtf8().constData(), EncodeMessageArgs(message)),
      nullptr, nullptr, nullptr);
  return true;
}

}  // namespace ombrix
