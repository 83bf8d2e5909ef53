#include "browser/crash_restart.h"

#include <algorithm>

namespace ombrix {
namespace {
constexpr qint64 kCalmMs = 60000;
constexpr size_t kImmediatePerMinute = 3;
constexpr int kFirstDelayMs = 1000;
constexpr int kLongestDelayMs = 30000;
}  // namespace

int CrashRestarts::OnCrash(qint64 now_ms) {
  if (crashed_before_ && now_ms - last_crash_ms_ > kCalmMs) {
    immediate_.clear();  // a calm minute: start afresh
    delay_ms_ = 0;
  }
  crashed_before_ = true;
  last_crash_ms_ = now_ms;
  immediate_.erase(std::remove_if(immediate_.begin(), immediate_.end(),
                                  [now_ms](qint64 at) { return now_ms - at > kCalmMs; }),
                   immediate_.end());
  if (delay_ms_ == 0 && immediate_.size() < kImmediatePerMinute) {
    immediate_.push_back(now_ms);
    return 0;
  }
  delay_ms_ = delay_ms_ == 0 ? kFirstDelayMs : std::min(kLongestDelayMs, delay_ms_ * 2);
  return delay_ms_;
}

QByteArray StoppedPageHtml(int delay_ms) {
  const QByteArray seconds = QByteArray::number((delay_ms + 999) / 1000);
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Application stopped</title>"
         "<style>body{margin:0;height:100vh;display:flex;align-items:center;"
         "justify-content:center;background:#f4f4f4;color:#333;font:20px sans-serif;"
         "text-align:center}</style></head><body><div>"
         "<p>应用程序已停止运行，<span id=\"s\">" +
         seconds +
         "</span> 秒后重新启动。</p>"
         "<p>The application stopped. It starts again in <span id=\"t\">" +
         seconds +
         "</span> s.</p></div><script>"
         "var left=" +
         seconds +
         ";setInterval(function(){if(left>0)left--;"
         "document.getElementById('s').textContent=left;"
         "document.getElementById('t').textContent=left;},1000);"
         "</script></body></html>";
}

}  // namespace ombrix
