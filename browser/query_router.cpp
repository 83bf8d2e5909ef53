#include "browser/query_router.h"

#include <cstring>

#include "util/process_message.h"

namespace ombrix {
namespace {

constexpr int kCanceledCode = -1;
constexpr const char* kCanceledText = "The query has been canceled";

WebKitUserMessage* NewMessage(const char* name, const ProcessMessage& message) {
  return webkit_user_message_new(name, EncodeMessageArgs(message));
}

// Answers a query's message with its failure: the code and the text.
void ReplyFailure(WebKitUserMessage* message, int code, const QString& text) {
  ProcessMessage reply;
  reply.args = {MessageArg::Int(code), MessageArg::String(text)};
  webkit_user_message_send_reply(message, NewMessage("cefQueryFailure", reply));
}

}  // namespace

QueryCallback::QueryCallback(WebKitWebView* view, WebKitUserMessage* message, int query_id,
                             bool persistent)
    : view_(view),
      message_(WEBKIT_USER_MESSAGE(g_object_ref(message))),
      query_id_(query_id),
      persistent_(persistent) {
  g_object_add_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
}

QueryCallback::~QueryCallback() {
  // A query nobody answered still fails, so the page is not left waiting.
  if (message_) Failure(kCanceledCode, QString::fromUtf8(kCanceledText));
  if (view_) g_object_remove_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
}

void QueryCallback::Success(const QString& response) {
  ProcessMessage reply;
  if (message_) {
    reply.args = {MessageArg::String(response)};
    webkit_user_message_send_reply(message_, NewMessage("cefQuerySuccess", reply));
    g_object_unref(message_);
    message_ = nullptr;
  } else if (persistent_ && view_) {
    reply.args = {MessageArg::Int(query_id_), MessageArg::String(response)};
    webkit_web_view_send_message_to_page(view_, NewMessage("cefQuerySuccess", reply), nullptr,
                                         nullptr, nullptr);
  }
}

void QueryCallback::Failure(int code, const QString& text) {
  if (message_) {
    WebKitUserMessage* message = message_;
    message_ = nullptr;
    ReplyFailure(message, code, text);
    g_object_unref(message);
  } else if (persistent_ && view_) {
    ProcessMessage reply;
    reply.args = {MessageArg::Int(query_id_), MessageArg::Int(code), MessageArg::String(text)};
    webkit_web_view_send_message_to_page(view_, NewMessage("cefQueryFailure", reply), nullptr,
                                         nullptr, nullptr);
  }
  persistent_ = false;  // a failure ends even a persistent query
}

void QueryCallback::Cancel() {
  persistent_ = false;
  if (message_) g_object_unref(message_);
  message_ = nullptr;
}

void QueryRouterBrowser::AddHandler(std::unique_ptr<QueryHandler> handler) {
  handlers_.push_back(std::move(handler));
}

void QueryRouterBrowser::RemoveAllHandlers() {
  while (!open_.empty()) {
    const Key key = open_.begin()->first;  // a copy: the entry goes before its handler is told
    CancelQuery(key);
  }
  handlers_.clear();
}

bool QueryRouterBrowser::OnMessage(WebKitWebView* view, WebKitUserMessage* message) {
  const ProcessMessage decoded = DecodeMessage(webkit_user_message_get_name(message),
                                               webkit_user_message_get_parameters(message));
  if (decoded.name == QLatin1String("cefQueryCancel")) {
    CancelQuery(Key(view, decoded.IntArg(0)));
    return true;
  }
  if (decoded.name != QLatin1String("cefQuery")) return false;
  OnQuery(view, message, decoded.IntArg(0), decoded.StringArg(1), decoded.BoolArg(2));
  return true;
}

void QueryRouterBrowser::Refuse(WebKitUserMessage* message) {
  if (std::strcmp(webkit_user_message_get_name(message), "cefQuery") != 0) return;
  ReplyFailure(message, kCanceledCode, QString::fromUtf8(kCanceledText));
}

void QueryRouterBrowser::OnQuery(WebKitWebView* view, WebKitUserMessage* message, int id,
                                 const QString& request, bool persistent) {
  ForgetAnswered();
  // A page whose web process was replaced counts its queries from 1 again:
  // the old query of the same number is gone with its page.
  const Key key(view, id);
  CancelQuery(key);
  auto callback = std::make_shared<QueryCallback>(view, message, id, persistent);
  for (const auto& handler : handlers_) {
    if (!handler->OnQuery(view, id, request, persistent, callback)) continue;
    if (!callback->done()) open_[key] = OpenQuery{handler.get(), callback};
    return;
  }
  callback->Failure(kCanceledCode, QString::fromUtf8(kCanceledText));
}

void QueryRouterBrowser::CancelQuery(const Key& key) {
  auto it = open_.find(key);
  if (it == open_.end()) return;
  const OpenQuery query = it->second;
  open_.erase(it);
  const std::shared_ptr<QueryCallback> callback = query.callback.lock();
  if (!callback || callback->done()) return;
  callback->Cancel();
  query.handler->OnQueryCanceled(key.first, key.second);
}

void QueryRouterBrowser::OnViewGone(WebKitWebView* view) {
  std::vector<Key> keys;
  for (const auto& entry : open_) {
    if (entry.first.first == view) keys.push_back(entry.first);
  }
  for (const Key& key : keys) CancelQuery(key);
}

void QueryRouterBrowser::ForgetAnswered() {
  for (auto it = open_.begin(); it != open_.end();) {
    const std::shared_ptr<QueryCallback> callback = it->second.callback.lock();
    it = !callback || callback->done() ? open_.erase(it) : std::next(it);
  }
}

}  // namespace ombrix
