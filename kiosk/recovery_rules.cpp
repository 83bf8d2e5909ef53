#include "kiosk/recovery_rules.h"

#include <QUrl>
#include <algorithm>

namespace ombrix {

bool HangClock::Ping(qint64 now_ms) {
  if (!started_) Reset(now_ms);
  if (out_ || (pinged_ && now_ms - last_ping_ms_ < interval_ms_)) return false;
  out_ = true;
  pinged_ = true;
  last_ping_ms_ = now_ms;
  // Silence is only known while the page is asked: after a pause in the
  // pings it counts from one interval before this one.
  last_answer_ms_ = std::max(last_answer_ms_, now_ms - interval_ms_);
  return true;
}

void HangClock::Answered(qint64 now_ms) {
  out_ = false;
  last_answer_ms_ = now_ms;
}

void HangClock::Reset(qint64 now_ms) {
  started_ = true;
  out_ = false;
  pinged_ = false;
  last_answer_ms_ = now_ms;
}

bool HangClock::Unanswered(qint64 now_ms, qint64 after_ms) const {
  return out_ && now_ms - last_answer_ms_ >= after_ms;
}

bool HangClock::Hung(qint64 now_ms) const { return limit_ms_ > 0 && Unanswered(now_ms, limit_ms_); }

int LoadRetries::NextDelaySeconds() {
  delay_s_ = delay_s_ == 0 ? 2 : std::min(delay_s_ * 2, 60);
  return delay_s_;
}

LoadFailure ClassifyLoadFailure(bool network_domain, int network_code, bool policy_domain,
                                bool plugin_domain, bool download_domain) {
  // WEBKIT_NETWORK_ERROR_CANCELLED is 302 in the engine's network domain.
  constexpr int kNetworkCancelled = 302;
  if (policy_domain || plugin_domain || download_domain) return LoadFailure::kCancelled;
  if (network_domain && network_code == kNetworkCancelled) return LoadFailure::kCancelled;
  return LoadFailure::kRetried;
}

bool IsServerFailure(int http_status) { return http_status >= 500 && http_status <= 599; }

QByteArray RetryNoticeHtml(const QString& url, int seconds, const QString& next_try) {
  const QString html =
      QStringLiteral(
          "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Waiting</title><style>"
          "body{margin:0;height:100vh;display:flex;align-items:center;justify-content:center;"
          "background:#1c2733;color:#eef;font:20px sans-serif;text-align:center}"
          "p{margin:8px 24px;word-break:break-all}#url{opacity:.7;font-size:16px}</style></head>"
          "<body><div><p>The application could not be loaded.</p><p id=\"url\">%1</p>"
          "<p>Next try at %2 (in <span id=\"n\">%3</span> s).</p></div><script>"
          "let n=%3;setInterval(function(){if(n>0)document.getElementById('n').textContent=--n;},"
          "1000);</script></body></html>")
          .arg(url.toHtmlEscaped(), next_try.toHtmlEscaped())
          .arg(seconds);
  return html.toUtf8();
}

QString OfflinePageUrl(const QString& offline_page, const QString& url, int seconds) {
  // Added before any "#fragment"; the address is encoded whole, so its own
  // "&" and "#" stay inside the value.
  const int hash = offline_page.indexOf(QLatin1Char('#'));
  const QString base = hash < 0 ? offline_page : offline_page.left(hash);
  const QString fragment = hash < 0 ? QString() : offline_page.mid(hash);
  const QChar joint = base.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?');
  return base + joint + QStringLiteral("url=") + QString::fromLatin1(QUrl::toPercentEncoding(url)) +
         QStringLiteral("&retry=") + QString::number(seconds) + fragment;
}

}  // namespace ombrix
