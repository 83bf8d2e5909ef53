// The shell's recovery on the engine's side: a watch on each view's web
// process (pings it; a page that leaves one unanswered for the limit is hung),
// and the retries of a main page whose load failed.
#pragma once

#include <webkit2/webkit2.h>

#include <QString>
#include <functional>

#include "kiosk/recovery_rules.h"

namespace ombrix {

class HangWatch {
 public:
  // hang_seconds 0: the page is watched for answers but never counts as hung.
  HangWatch(WebKitWebView* view, int hang_seconds, std::function<void()> on_hung,
            std::function<void(bool responsive)> on_responsive);
  ~HangWatch();
  HangWatch(const HangWatch&) = delete;
  HangWatch& operator=(const HangWatch&) = delete;

  // The page was started again: pings out before are forgotten.
  void Restarted();
  WebKitWebView* view() const { return view_; }

 private:
  static gboolean OnTick(gpointer self);
  static void OnAnswer(GObject* source, GAsyncResult* result, gpointer self);
  bool PausedByDeveloper() const;
  void SetResponsive(bool responsive);

  WebKitWebView* view_;
  HangClock clock_;
  std::function<void()> on_hung_;
  std::function<void(bool)> on_responsive_;
  GCancellable* cancellable_;
  guint timer_ = 0;
  bool responsive_ = true;
};

class LoadRetry {
 public:
  // on_wait(url, seconds) is told of each wait; offline_page may be "".
  LoadRetry(WebKitWebView* view, QString offline_page,
            std::function<void(const QString& url, int seconds)> on_wait);
  ~LoadRetry();
  LoadRetry(const LoadRetry&) = delete;
  LoadRetry& operator=(const LoadRetry&) = delete;

  // A main-frame load failed: true when it will be tried again (its notice
  // is being shown; the engine shows no error page of its own).
  bool OnFailed(const QString& url, const GError* error);
  // A main-frame load finished: false when it counts as failed (a 5xx
  // answer) and will be tried again.
  bool OnFinished(const QString& url);
  // Between a failure and the next try: what shows is the notice.
  bool waiting() const { return waiting_; }

 private:
  void Wait(const QString& url);
  // The offline page, or the shell's notice, counting seconds (0: the rest of the wait).
  void ShowNotice(int seconds);
  static gboolean OnRetryDue(gpointer self);

  WebKitWebView* view_;
  QString offline_page_;
  std::function<void(const QString&, int)> on_wait_;
  LoadRetries retries_;
  QString url_;  // the address tried again
  bool waiting_ = false;
  guint timer_ = 0;
  qint64 due_ms_ = 0;  // when the next try is due (monotonic)
};

// The context's settings for the web processes' memory: a process over
// limit_mb is ended by the engine. nullptr for 0 (the engine's own limit).
WebKitMemoryPressureSettings* NewMemoryLimit(int limit_mb);

}  // namespace ombrix
