// The shell's side of the page query functions `cefQuery` / `cefQueryCancel`:
// a query is offered to each handler in turn; when none takes it, it fails
// with -1 "The query has been canceled".
#pragma once

#include <webkit2/webkit2.h>

#include <QString>
#include <memory>
#include <vector>

namespace ombrix {

// Answers one query. A persistent query may succeed several times.
class QueryCallback {
 public:
  QueryCallback(WebKitWebView* view, WebKitUserMessage* message, int query_id, bool persistent);
  ~QueryCallback();
  void Success(const QString& response);
  void Failure(int code, const QString& message);

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
  void RemoveAllHandlers() { handlers_.clear(); }
  // True for the router's own messages, which it answers itself.
  bool OnMessage(WebKitWebView* view, WebKitUserMessage* message);

 private:
  std::vector<std::unique_ptr<QueryHandler>> handlers_;
};

}  // namespace ombrix
