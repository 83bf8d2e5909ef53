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
  bool persistent = false;
  JsValue on_success;
  JsValue on_failure;
};

struct FunctionData {
  std::uint64_t page_id;
  ContextToken token;
};

std::map<int, PendingQuery> g_queries;
int g_next_query_id = 0;

WebKitWebExtension* g_extension = nullptr;

void CallWith(const JsValue& function, const std::vector<JsPlain>& args) {
  if (!function.IsFunction()) return;
  JSCContext* context = jsc_value_get_context(function.raw());
  std::vector<JSCValue*> values;
  for (const JsPlain& arg : args) values.push_back(ToJsc(context, arg));
  if (JSCValue* result = CallFunction(function.raw(), values)) g_object_unref(result);
  for (JSCValue* value : values) g_object_unref(value);
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

JSCValue* Throw(JSCContext* context, const char* text) {
  jsc_context_throw(context, text);
  return jsc_value_new_undefined(context);
}

JSCValue* Query(GPtrArray* args, gpointer data) {
  auto* function = static_cast<FunctionData*>(data);
  JSCContext* context = jsc_context_get_current();
  if (args->len != 1 || !jsc_value_is_object(JSC_VALUE(args->pdata[0]))) {
    return Throw(context, "Invalid arguments; expecting a single object");
  }
  const JsValue request_object(JSC_VALUE(args->pdata[0]));
  const JsValue request = request_object.GetValue("request");
  if (!request.IsString()) {
    return Throw(context,
                 "Invalid arguments; object member 'request' is required and must have type "
                 "string");
  }
  PendingQuery query;
  query.token = function->token;
  query.persistent = request_object.GetValue("persistent").GetBoolValue();
  query.on_success = request_object.GetValue("onSuccess");
  query.on_failure = request_object.GetValue("onFailure");
  const int id = ++g_next_query_id;
  g_queries[id] = query;

  WebKitWebPage* page = webkit_web_extension_get_page(g_extension, function->page_id);
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
  return jsc_value_new_number(context, id);
}

JSCValue* QueryCancel(GPtrArray* args, gpointer data) {
  auto* function = static_cast<FunctionData*>(data);
  JSCContext* context = jsc_context_get_current();
  if (args->len != 1 || !jsc_value_is_number(JSC_VALUE(args->pdata[0]))) {
    return Throw(context, "Invalid arguments; expecting a single integer");
  }
  const int id = jsc_value_to_int32(JSC_VALUE(args->pdata[0]));
  const bool known = g_queries.erase(id) > 0;
  if (known) {
    if (WebKitWebPage* page = webkit_web_extension_get_page(g_extension, function->page_id)) {
      ProcessMessage message;
      message.name = QStringLiteral("cefQueryCancel");
      message.args = {MessageArg::Int(id)};
      webkit_web_page_send_message_to_view(
          page, webkit_user_message_new("cefQueryCancel", EncodeMessageArgs(message)), nullptr,
          nullptr, nullptr);
    }
  }
  return jsc_value_new_boolean(context, known);
}

void Define(JSCContext* context, const char* name, GCallback callback, const FunctionData& data) {
  JSCValue* function = jsc_value_new_function_variadic(
      context, name, callback, new FunctionData(data),
      [](gpointer p) { delete static_cast<FunctionData*>(p); }, JSC_TYPE_VALUE);
  JSCValue* global = jsc_context_get_global_object(context);
  jsc_value_object_define_property_data(global, name, JSCValuePropertyFlags(0), function);
  g_object_unref(global);
  g_object_unref(function);
}

}  // namespace

QueryRouter& QueryRouter::Get() {
  static QueryRouter router;
  return router;
}

void QueryRouter::OnContextCreated(WebKitWebPage* page, JSCContext* context, ContextToken token) {
  if (!g_extension) g_extension = OmbrixCefRender::Get().extension();
  const FunctionData data{webkit_web_page_get_id(page), token};
  Define(context, "cefQuery", G_CALLBACK(Query), data);
  Define(context, "cefQueryCancel", G_CALLBACK(QueryCancel), data);
}

void QueryRouter::OnContextReleased(ContextToken token) {
  for (auto it = g_queries.begin(); it != g_queries.end();) {
    it = it->second.token == token ? g_queries.erase(it) : std::next(it);
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
