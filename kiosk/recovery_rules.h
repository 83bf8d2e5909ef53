// The decisions of the shell's recovery, kept apart from the engine so they
// are checked without a window: when a page counts as hung, when a failed
// load is tried again, what shows meanwhile.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace ombrix {

// A page answers the shell's pings (one out at a time, at most one a
// second); it is hung once it has been silent for the limit while a ping is
// out: silence counts from its last answer.
class HangClock {
 public:
  explicit HangClock(qint64 limit_ms, qint64 interval_ms = 1000)
      : limit_ms_(limit_ms), interval_ms_(interval_ms) {}
  // Whether a ping goes out at now_ms (none is out, and the last went long enough ago).
  bool Ping(qint64 now_ms);
  void Answered(qint64 now_ms);
  // Forget the ping out: the page was started again or is paused by its
  // developer; silence counts from now_ms.
  void Reset(qint64 now_ms);
  bool Unanswered(qint64 now_ms, qint64 after_ms) const;
  bool Hung(qint64 now_ms) const;

 private:
  qint64 limit_ms_;
  qint64 interval_ms_;
  bool out_ = false;
  bool started_ = false;
  bool pinged_ = false;
  qint64 last_ping_ms_ = 0;
  qint64 last_answer_ms_ = 0;
};

// The waits between tries of a failed load: 2, 4, 8 ... at most 60 s, until
// one loads.
class LoadRetries {
 public:
  int NextDelaySeconds();
  void Loaded() { delay_s_ = 0; }

 private:
  int delay_s_ = 0;
};

// The kind of load failure the shell tries again: refused, unreachable, a
// name that does not resolve, TLS. Not a load cancelled by the page or the
// user, nor a download or a plug-in taking the load over.
enum class LoadFailure { kRetried, kCancelled };
LoadFailure ClassifyLoadFailure(bool network_domain, int network_code, bool policy_domain,
                                bool plugin_domain, bool download_domain);

// Whether an answer with this HTTP status counts as a failed load (5xx).
bool IsServerFailure(int http_status);

// The shell's own notice: the address could not be loaded, the next try at
// next_try ("12:30:05"), counting down seconds.
QByteArray RetryNoticeHtml(const QString& url, int seconds, const QString& next_try);

// offline_page with "url" and "retry" added to its query.
QString OfflinePageUrl(const QString& offline_page, const QString& url, int seconds);

}  // namespace ombrix
