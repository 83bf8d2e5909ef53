// The shell's side of the page query functions `cefQuery` / `cefQueryCancel`:
// a query is offered to each handler in turn; when none takes it, it fails
// with -1 "The query has been canceled". A query still open when its page
// cancels it, its frame goes or its view closes is cancelled: its handler is
// told and no answer is sent any more.
#pragma once

#include <webkit2/webkit2.h>

#include <QString>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace ombrix {

// Answers one query. A persistent query may succeed several times.
class QueryCallback {
 public:
  QueryCallback(WebKitWebView* view, WebKitUserMessage* message, int query_id, bool persistent);
  ~QueryCallback();
  void Success(const QString& response);
  void Failure(int code, const QString& message);
  // Drops the query without an answer; later answers go nowhere.
  void Cancel();
  // True when no answer can follow any more.
  bool done() const { return !message_ && !persistent_; }

 private:
  WebKitWebView* view_;         // weak: the view may go first
  WebKitUserMessage* message_;  // the query, until its reply is sent
  int query_id_;
  bool persistent_;
};

class QueryHandler {
 public:
  virtual ~QueryHandler() = default;
  // True when this handler takes the query (and answers through callback).
  virtual bool OnQuery(WebKitWebView* view, int query_id, const QString& request, bool persistent,
                       std::shared_ptr<QueryCallback> callback) = 0;
  virtual void OnQueryCanceled(WebKitWebView* view, int query_id) { (void)view, (void)query_id; }
};

class QueryRouterBrowser {
 public:
  void AddHandler(std::unique_ptr<QueryHandler> handler);
  bool HasHandlers() const { return !handlers_.empty(); }
  // Cancels every open query, then destroys the handlers.
  void RemoveAllHandlers();
  // True for the router's own messages, which it answers itself.
  bool OnMessage(WebKitWebView* view, WebKitUserMessage* message);
  // Answers a query the shell will not act on as one no handler took; other
  // messages are left alone.
  static void Refuse(WebKitUserMessage* message);
  // Cancels the open queries of a view that closes or loses its page.
  void OnViewGone(WebKitWebView* view);

 private:
  using Key = std::pair<WebKitWebView*, int>;
  struct OpenQuery {
    QueryHandler* handler;
    std::weak_ptr<QueryCallback> callback;
  };
  void OnQuery(WebKitWebView* view, WebKitUserMessage* message, int id, const QString& request,
               bool persistent);
  void CancelQuery(const Key& key);
  void ForgetAnswered();

  std::vector<std::unique_ptr<QueryHandler>> handlers_;
  // Queries a handler took and has not answered for good.
  std::map<Key, OpenQuery> open_;
};

}  // namespace ombrix
