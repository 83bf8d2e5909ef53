#include "kiosk/recovery.h"

#include <QDateTime>
#include <QDebug>
#include <cstdio>

#include "util/log_text.h"
#include "util/process_message.h"

namespace ombrix {
namespace {

// The watch looks four times a second; a ping goes out at most once a second.
constexpr guint kTickMs = 250;
// A ping this late marks the page as not answering (the watchdog stops).
constexpr qint64 kUnresponsiveMs = 2000;

qint64 NowMs() { return g_get_monotonic_time() / 1000; }

}  // namespace

HangWatch::HangWatch(WebKitWebView* view, int hang_seconds, std::function<void()> on_hung,
                     std::function<void(bool)> on_responsive)
    : view_(view),
      clock_(qint64(hang_seconds) * 1000),
      on_hung_(std::move(on_hung)),
      on_responsive_(std::move(on_responsive)),
      cancellable_(g_cancellable_new()) {
  clock_.Reset(NowMs());
  timer_ = g_timeout_add(kTickMs, OnTick, this);
}

HangWatch::~HangWatch() {
  if (timer_) g_source_remove(timer_);
  g_cancellable_cancel(cancellable_);
  g_object_unref(cancellable_);
}

void HangWatch::Restarted() {
  // Answers to the old pings may still come: they are dropped with them.
  g_cancellable_cancel(cancellable_);
  g_object_unref(cancellable_);
  cancellable_ = g_cancellable_new();
  clock_.Reset(NowMs());
  SetResponsive(true);
}

bool HangWatch::PausedByDeveloper() const {
  // The developer tools' own view exists while they are open; a page stopped
  // at a breakpoint there does not answer and is not hung.
  return webkit_web_inspector_get_web_view(webkit_web_view_get_inspector(view_)) != nullptr;
}

void HangWatch::SetResponsive(bool responsive) {
  if (responsive == responsive_) return;
  responsive_ = responsive;
  if (on_responsive_) on_responsive_(responsive);
}

gboolean HangWatch::OnTick(gpointer self) {
  auto* watch = static_cast<HangWatch*>(self);
  const qint64 now = NowMs();
  if (watch->PausedByDeveloper()) {
    watch->Restarted();
    return G_SOURCE_CONTINUE;
  }
  if (watch->clock_.Ping(now)) {
    // A message to the page side rather than a script: it is answered on the
    // same loop as the page's scripts, and the shell's process never needs a
    // JavaScript engine of its own to read the answer.
    webkit_web_view_send_message_to_page(watch->view_,
                                         webkit_user_message_new(kPingMessage, nullptr),
                                         watch->cancellable_, OnAnswer, watch);
    return G_SOURCE_CONTINUE;
  }
  if (watch->clock_.Unanswered(now, kUnresponsiveMs)) watch->SetResponsive(false);
  if (watch->clock_.Hung(now)) {
    watch->Restarted();
    // A copy: the call may end the watch (a pop-up closes).
    const std::function<void()> hung = watch->on_hung_;
    if (hung) hung();
  }
  return G_SOURCE_CONTINUE;
}

void HangWatch::OnAnswer(GObject* source, GAsyncResult* result, gpointer self) {
  GError* error = nullptr;
  WebKitUserMessage* reply =
      webkit_web_view_send_message_to_page_finish(WEBKIT_WEB_VIEW(source), result, &error);
  if (reply) g_object_unref(reply);
  const bool cancelled = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
  g_clear_error(&error);
  if (cancelled) return;  // the watch may be gone
  // Any answer, an error included, came from a process that still runs its loop
  // (or from none: a crash is reported on its own).
  auto* watch = static_cast<HangWatch*>(self);
  watch->clock_.Answered(NowMs());
  watch->SetResponsive(true);
}

LoadRetry::LoadRetry(WebKitWebView* view, QString offline_page,
                     std::function<void(const QString&, int)> on_wait)
    : view_(view), offline_page_(std::move(offline_page)), on_wait_(std::move(on_wait)) {}

LoadRetry::~LoadRetry() {
  if (timer_) g_source_remove(timer_);
}

bool LoadRetry::OnFailed(const QString& url, const GError* error) {
  if (waiting_) {
    // The offline page itself did not load: the shell's own notice instead.
    if (!offline_page_.isEmpty() && url != url_) {
      qDebug() << "offline page failed:" << LogText(url);
      offline_page_.clear();
      ShowNotice(0);
    }
    return true;
  }
  const bool retried =
      !error || ClassifyLoadFailure(
                    error->domain == WEBKIT_NETWORK_ERROR, error->code,
                    error->domain == WEBKIT_POLICY_ERROR, error->domain == WEBKIT_PLUGIN_ERROR,
                    error->domain == WEBKIT_DOWNLOAD_ERROR) == LoadFailure::kRetried;
  if (!retried) return false;
  Wait(url);
  return true;
}

bool LoadRetry::OnFinished(const QString& url) {
  if (waiting_) return false;  // the notice, or the failed load's own end
  WebKitWebResource* main = webkit_web_view_get_main_resource(view_);
  WebKitURIResponse* response = main ? webkit_web_resource_get_response(main) : nullptr;
  const int status = response ? int(webkit_uri_response_get_status_code(response)) : 0;
  const bool http =
      url.startsWith(QLatin1String("http:")) || url.startsWith(QLatin1String("https:"));
  if (http && IsServerFailure(status)) {
    Wait(url);
    return false;
  }
  retries_.Loaded();
  return true;
}

void LoadRetry::Wait(const QString& url) {
  url_ = url;
  waiting_ = true;
  const int seconds = retries_.NextDelaySeconds();
  std::printf("load failed: %s retry in %d s\r\n", LogText(url).toUtf8().constData(), seconds);
  std::fflush(stdout);
  if (on_wait_) on_wait_(url, seconds);
  if (timer_) g_source_remove(timer_);
  timer_ = g_timeout_add_seconds(guint(seconds), OnRetryDue, this);
  due_ms_ = g_get_monotonic_time() / 1000 + seconds * 1000;
  ShowNotice(seconds);
}

void LoadRetry::ShowNotice(int seconds) {
  if (seconds <= 0)
    seconds = int(qMax<qint64>(1, (due_ms_ - g_get_monotonic_time() / 1000) / 1000));
  if (!offline_page_.isEmpty()) {
    webkit_web_view_load_uri(view_,
                             OfflinePageUrl(offline_page_, url_, seconds).toUtf8().constData());
    return;
  }
  const QString next =
      QDateTime::currentDateTime().addSecs(seconds).toString(QStringLiteral("HH:mm:ss"));
  // Shown under the failed address, as the engine's own error page is.
  webkit_web_view_load_alternate_html(view_, RetryNoticeHtml(url_, seconds, next).constData(),
                                      url_.toUtf8().constData(), nullptr);
}

gboolean LoadRetry::OnRetryDue(gpointer self) {
  auto* retry = static_cast<LoadRetry*>(self);
  retry->timer_ = 0;
  retry->waiting_ = false;
  qDebug() << "load tried again" << LogText(retry->url_);
  webkit_web_view_load_uri(retry->view_, retry->url_.toUtf8().constData());
  return G_SOURCE_REMOVE;
}

WebKitMemoryPressureSettings* NewMemoryLimit(int limit_mb) {
  if (limit_mb <= 0) return nullptr;
  WebKitMemoryPressureSettings* settings = webkit_memory_pressure_settings_new();
  webkit_memory_pressure_settings_set_memory_limit(settings, guint(limit_mb));
  // Ended at the limit itself; checked every second, so a page that grows
  // fast cannot get far beyond it.
  webkit_memory_pressure_settings_set_kill_threshold(settings, 1.0);
  webkit_memory_pressure_settings_set_poll_interval(settings, 1.0);
  return settings;
}

}  // namespace ombrix
