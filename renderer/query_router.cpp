#include "renderer/query_router.h"

#include <map>

#include "renderer/jsc_bridge.h"
#include "renderer/ombrix_cef_render.h"
#include "util/process_message.h"

namespace ombrix {
namespace {

constexpr int kCanceledCode = -1;
constexpr const char* kCanceledText = "The query has been canceled";

struct PendingQuery {
  ContextToken token = 0;
  std::uint64_t page_id = 0;
  bool persistent = false;
  JsValue on_success;
  JsValue on_failure;
};

std::map<int, PendingQuery> g_queries;
int g_next_query_id = 0;

WebKitWebExtension* g_extension = nullptr;

void CallWith(const JsValue& function, const std::vector<JsPlain>& args) {
  if (!function.IsFunction()) return;
  JSGlobalContextRef context = function.context();
  std::vector<JSValueRef> values;
  for (const JsPlain& arg : args) values.push_back(ToJsValue(context, arg));
  CallFunction(context, function.ref(), values);
}

void Finish(int id, bool success, int code, const QString& text) {
  auto it = g_queries.find(id);
  if (it == g_queries.end()) return;
  const PendingQuery query = it->second;
  if (!success || !query.persistent) g_queries.erase(it);
  if (success) {
    CallWith(query.on_success, {JsPlain::String(text)});
  } else {
    CallWith(query.on_failure, {JsPlain::Int(code), JsPlain::String(text)});
  }
}

void OnReply(GObject* source, GAsyncResult* result, gpointer data) {
  const int id = GPOINTER_TO_INT(data);
  GError* error = nullptr;
  WebKitUserMessage* reply =
      webkit_web_page_send_message_to_view_finish(WEBKIT_WEB_PAGE(source), result, &error);
  if (!reply) {
    g_clear_error(&error);
    Finish(id, false, kCanceledCode, QString::fromUtf8(kCanceledText));
    return;
  }
  const ProcessMessage decoded =
      DecodeMessage(webkit_user_message_get_name(reply), webkit_user_message_get_parameters(reply));
  g_object_unref(reply);
  if (decoded.name == QLatin1String("cefQuerySuccess")) {
    Finish(id, true, 0, decoded.StringArg(0));
  } else {
    Finish(id, false, decoded.IntArg(0), decoded.StringArg(1));
  }
}

JSValueRef Throw(JSContextRef context, JSValueRef* exception, const char* text) {
  *exception = MakeError(context, QString::fromUtf8(text));
  return JSValueMakeUndefined(context);
}

JSValueRef Query(std::uint64_t page_id, ContextToken token, JSContextRef context, size_t argc,
                 const JSValueRef argv[], JSValueRef* exception) {
  if (argc != 1 || !JSValueIsObject(context, argv[0])) {
    return Throw(context, exception, "Invalid arguments; expecting a single object");
  }
  const JsValue request_object = JsValue::Borrow(context, argv[0]);
  const JsValue request = request_object.GetValue("request");
  if (!request.IsString()) {
    return Throw(context, exception,
                 "Invalid arguments; object member 'request' is required and must have type "
                 "string");
  }
  PendingQuery query;
  query.token = token;
  query.page_id = page_id;
  query.persistent = request_object.GetValue("persistent").GetBoolValue();
  query.on_success = request_object.GetValue("onSuccess");
  query.on_failure = request_object.GetValue("onFailure");
  const int id = ++g_next_query_id;
  g_queries[id] = query;

  WebKitWebPage* page = webkit_web_extension_get_page(g_extension, page_id);
  ProcessMessage message;
  message.name = QStringLiteral("cefQuery");
  message.args = {MessageArg::Int(id), MessageArg::String(request.GetStringValue()),
                  MessageArg::Bool(query.persistent)};
  if (!page) {
    PostToMainThread([id] { Finish(id, false, kCanceledCode, QString::fromUtf8(kCanceledText)); });
  } else {
    webkit_web_page_send_message_to_view(
        page, webkit_user_message_new("cefQuery", EncodeMessageArgs(message)), nullptr, OnReply,
        GINT_TO_POINTER(id));
  }
  return JSValueMakeNumber(context, id);
}

// Tells the shell that query id of the page is no longer wanted.
void SendCancel(std::uint64_t page_id, int id) {
  WebKitWebPage* page = webkit_web_extension_get_page(g_extension, page_id);
  if (!page) return;  // the page is closing: the shell cancels its queries itself
  ProcessMessage message;
  message.name = QStringLiteral("cefQueryCancel");
  message.args = {MessageArg::Int(id)};
  webkit_web_page_send_message_to_view(
      page, webkit_user_message_new("cefQueryCancel", EncodeMessageArgs(message)), nullptr, nullptr,
      nullptr);
}

// Cancels one of the calling context's own queries: another frame's or
// pop-up's queries are not its to cancel.
JSValueRef QueryCancel(ContextToken token, JSContextRef context, size_t argc,
                       const JSValueRef argv[], JSValueRef* exception) {
  if (argc != 1 || !JSValueIsNumber(context, argv[0])) {
    return Throw(context, exception, "Invalid arguments; expecting a single integer");
  }
  const int id = JsValue::Borrow(context, argv[0]).GetIntValue();
  const auto it = g_queries.find(id);
  if (it == g_queries.end() || it->second.token != token) return JSValueMakeBoolean(context, false);
  const std::uint64_t owner = it->second.page_id;
  g_queries.erase(it);
  SendCancel(owner, id);
  return JSValueMakeBoolean(context, true);
}

}  // namespace

QueryRouter& QueryRouter::Get() {
  static QueryRouter router;
  return router;
}

void QueryRouter::OnContextCreated(WebKitWebPage* page, JSGlobalContextRef context,
                                   ContextToken token) {
  if (!g_extension) g_extension = OmbrixCefRender::Get().extension();
  const std::uint64_t page_id = webkit_web_page_get_id(page);
  JSObjectRef global = JSContextGetGlobalObject(context);
  DefineReadOnly(context, global, "cefQuery",
                 MakeNativeFunction(context,
                                    [page_id, token](JSContextRef call, size_t argc,
                                                     const JSValueRef argv[], JSValueRef* error) {
                                      return Query(page_id, token, call, argc, argv, error);
                                    }),
                 false);
  DefineReadOnly(context, global, "cefQueryCancel",
                 MakeNativeFunction(context,
                                    [token](JSContextRef call, size_t argc, const JSValueRef argv[],
                                            JSValueRef* error) {
                                      return QueryCancel(token, call, argc, argv, error);
                                    }),
                 false);
}

void QueryRouter::OnContextReleased(ContextToken token) {
  // The shell cancels what the context still waits for, so a dialog opened for
  // a page that is gone closes and no late answer is sent.
  for (auto it = g_queries.begin(); it != g_queries.end();) {
    if (it->second.token != token) {
      ++it;
      continue;
    }
    SendCancel(it->second.page_id, it->first);
    it = g_queries.erase(it);
  }
}

bool QueryRouter::OnProcessMessageReceived(WebKitWebPage* page, WebKitUserMessage* message) {
  (void)page;
  const ProcessMessage decoded = DecodeMessage(webkit_user_message_get_name(message),
                                               webkit_user_message_get_parameters(message));
  if (decoded.name == QLatin1String("cefQuerySuccess")) {
    Finish(decoded.IntArg(0), true, 0, decoded.StringArg(1));
    return true;
  }
  if (decoded.name == QLatin1String("cefQueryFailure")) {
    Finish(decoded.IntArg(0), false, decoded.IntArg(1), decoded.StringArg(2));
    return true;
  }
  return false;
}

}  // namespace ombrix
