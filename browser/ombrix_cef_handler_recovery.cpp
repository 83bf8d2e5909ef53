// The handler's side of recovery: a web process that crashed, hung or went
// over its memory limit starts again, and a main page whose load failed is
// tried again; the main page's state goes on page_status_.
#include <QDebug>
#include <algorithm>
#include <cstdio>

#include "browser/ombrix_cef_handler.h"
#include "util/log_text.h"

namespace {

// The standard-output line for each restart.
const char* EndReason(WebKitWebProcessTerminationReason reason) {
  switch (reason) {
    case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT:
      return "memory limit";
    case WEBKIT_WEB_PROCESS_TERMINATED_BY_API:
      return "hang";
    case WEBKIT_WEB_PROCESS_CRASHED:
    default:
      return "crash";
  }
}

void PrintLine(const QByteArray& line) {
  std::printf("%s\r\n", line.constData());
  std::fflush(stdout);
}

ombrix::RestartReason RestartReasonOf(WebKitWebProcessTerminationReason reason) {
  return reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? ombrix::RestartReason::kMemory
                                                            : ombrix::RestartReason::kCrash;
}

QString UriOf(WebKitWebView* view) {
  const char* uri = webkit_web_view_get_uri(view);
  return QString::fromUtf8(uri ? uri : "");
}

}  // namespace

void OmbrixCefHandler::WatchView(WebKitWebView* view) {
  hang_watches_.push_back(std::make_unique<ombrix::HangWatch>(
      view, manifest_.hang_seconds_, [this, view] { OnPageHung(view); },
      [this, view](bool responsive) {
        if (view == main_browser_) page_status_.SetResponsive(responsive);
      }));
}

void OmbrixCefHandler::WatchMainView(WebKitWebView* view) {
  if (!manifest_.retry_failed_load_) return;
  load_retry_ = std::make_unique<ombrix::LoadRetry>(
      view, manifest_.OfflinePage(),
      [this](const QString& url, int) { page_status_.SetState(ombrix::PageState::kWaiting, url); });
}

void OmbrixCefHandler::ForgetWatch(WebKitWebView* view) {
  hang_watches_.erase(std::remove_if(hang_watches_.begin(), hang_watches_.end(),
                                     [view](const std::unique_ptr<ombrix::HangWatch>& watch) {
                                       return watch->view() == view;
                                     }),
                      hang_watches_.end());
}

bool OmbrixCefHandler::PartOfFailedLoad(const QString& uri) const {
  return failed_load_.view && failed_load_.view == main_browser_ &&
         (failed_load_.ending || uri == failed_load_.uri);
}

void OmbrixCefHandler::OnMainLoadStarted() {
  if (load_retry_ && load_retry_->waiting()) return;   // the notice, not the page
  if (restart_timer_) return;                          // the stopped-page notice
  if (PartOfFailedLoad(UriOf(main_browser_))) return;  // the engine's error page
  page_status_.SetState(ombrix::PageState::kLoading, UriOf(main_browser_));
}

void OmbrixCefHandler::OnMainLoadFinished(const QString& uri) {
  if (restart_timer_) return;
  if (PartOfFailedLoad(uri)) return;                  // the failure's own end, or its error page
  if (load_retry_ && load_retry_->waiting()) return;  // the notice
  if (load_retry_ && !load_retry_->OnFinished(uri)) {
    page_status_.CountLoad(false);  // an answer 500-599, waiting for the next try
    return;
  }
  page_status_.CountLoad(true);
  page_status_.SetState(ombrix::PageState::kShown, uri);
}

bool OmbrixCefHandler::OnMainLoadFailed(const QString& uri, const GError* error) {
  if (exiting_) return false;
  const bool cancelled =
      error && g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED);
  if (!cancelled) page_status_.CountLoad(false);
  if (load_retry_ && load_retry_->OnFailed(uri, error)) return true;
  if (!cancelled) page_status_.SetState(ombrix::PageState::kFailed, uri);
  return false;
}

void OmbrixCefHandler::OnPageHung(WebKitWebView* view) {
  if (exiting_) return;
  PrintLine("web process ended: hang");
  if (view == main_browser_) {
    page_status_.SetState(ombrix::PageState::kHung, UriOf(view));
    // Reported back as ended by the shell, which then restarts it itself.
    webkit_web_view_terminate_web_process(view);
    RestartCrashedPage(view, ombrix::RestartReason::kHang, first_page_url_);
    return;
  }
  // A hung pop-up goes: its user could not do anything with it. Its end
  // closes it (OnWebProcessTerminated).
  webkit_web_view_terminate_web_process(view);
}

void OmbrixCefHandler::OnWebProcessTerminated(WebKitWebView* view,
                                              WebKitWebProcessTerminationReason reason,
                                              gpointer self) {
  auto* handler = static_cast<OmbrixCefHandler*>(self);
  qDebug() << "web process ended" << int(reason);
  handler->query_router_.OnViewGone(view);  // its page's queries went with it
  if (handler->exiting_) return;
  if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) {
    // Ended by the shell for a hang: the main page restarts from OnPageHung,
    // a pop-up that shared the process closes.
    if (view != handler->main_browser_) handler->CloseBrowser(view);
    return;
  }
  PrintLine(QByteArray("web process ended: ") + EndReason(reason));
  handler->RestartCrashedPage(view, RestartReasonOf(reason));
}

void OmbrixCefHandler::RestartCrashedPage(WebKitWebView* view, ombrix::RestartReason reason,
                                          const QString& uri) {
  const qint64 now = g_get_monotonic_time() / 1000;
  for (const auto& watch : hang_watches_) {
    if (watch->view() == view) watch->Restarted();
  }
  if (view != main_browser_) {
    // A pop-up its user can close: a few restarts, then it is left as it is.
    if (popup_restarts_.OnCrash(now) == 0) webkit_web_view_reload(view);
    return;
  }
  if (restart_timer_) return;  // the notice page itself went: the restart is due anyway
  const QString current = UriOf(view);
  if (!uri.isEmpty()) {
    crashed_uri_ = uri;
  } else if (!current.isEmpty() && !current.startsWith(QLatin1String("about:"))) {
    crashed_uri_ = current;
  }
  if (crashed_uri_.isEmpty()) crashed_uri_ = first_page_url_;
  page_status_.SetState(ombrix::PageState::kRestarting, crashed_uri_);
  page_status_.CountRestart(reason);
  // A kiosk must never stay blank.
  const int delay_ms = main_restarts_.OnCrash(now);
  if (delay_ms == 0) {
    webkit_web_view_load_uri(view, crashed_uri_.toUtf8().constData());
    return;
  }
  qDebug() << "page restarts in" << delay_ms << "ms";
  webkit_web_view_load_html(view, ombrix::StoppedPageHtml(delay_ms).constData(), nullptr);
  restart_timer_ = g_timeout_add(guint(delay_ms), OnRestartDue, this);
}

gboolean OmbrixCefHandler::OnRestartDue(gpointer self) {
  auto* handler = static_cast<OmbrixCefHandler*>(self);
  handler->restart_timer_ = 0;
  if (handler->main_browser_ && !handler->exiting_) {
    webkit_web_view_load_uri(handler->main_browser_, handler->crashed_uri_.toUtf8().constData());
  }
  return G_SOURCE_REMOVE;
}
