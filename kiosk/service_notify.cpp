#include "kiosk/service_notify.h"

#include <systemd/sd-daemon.h>

#include <QDebug>
#include <algorithm>
#include <cstdlib>

namespace ombrix {
namespace {

qint64 NowMs() { return g_get_monotonic_time() / 1000; }

}  // namespace

std::string ServiceStatusText(const PageStatus& status) {
  std::string text = PageStateName(status.state);
  text += ' ';
  text += status.url.toStdString();
  if (status.state == PageState::kRestarting)
    text += " (restart " + std::to_string(status.restarts) + ")";
  else if (status.state == PageState::kWaiting)
    text += " (for the server)";
  else if (!status.responsive && status.state != PageState::kHung)
    text += " (not responding)";
  // One line: the service manager takes a line break as the end of the field.
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  return text;
}

ServiceNotifier::ServiceNotifier() {
  uint64_t usec = 0;
  // Compares WATCHDOG_PID with this process (a watchdog meant for a parent is
  // not ours) and unsets both variables.
  if (sd_watchdog_enabled(1, &usec) > 0) watchdog_usec_ = usec;
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket && *socket) socket_ = socket;
  unsetenv("NOTIFY_SOCKET");
}

ServiceNotifier::~ServiceNotifier() {
  if (tick_) g_source_remove(tick_);
  if (report_) g_source_remove(report_);
}

void ServiceNotifier::Follow(PageStatusBoard* board) {
  if (!active() || board_) return;
  board_ = board;
  board->Watch([this](const PageStatus& status) { OnStatus(status); });
  OnStatus(board->status());
  if (watchdog_usec_ == 0) return;
  const guint interval_ms = static_cast<guint>(std::max<uint64_t>(1, watchdog_usec_ / 2000));
  tick_ = g_timeout_add(interval_ms, OnTick, this);
}

void ServiceNotifier::Stopping() {
  if (!active() || stopping_sent_) return;
  if (report_) {  // what the board said last goes out first
    g_source_remove(report_);
    report_ = 0;
    Report();
  }
  stopping_sent_ = true;
  if (tick_) g_source_remove(tick_);
  tick_ = 0;
  Notify("STOPPING=1");
}

gboolean ServiceNotifier::OnTick(gpointer self) {
  auto* notifier = static_cast<ServiceNotifier*>(self);
  if (notifier->schedule_.Feeds(NowMs())) notifier->Notify("WATCHDOG=1");
  return G_SOURCE_CONTINUE;
}

void ServiceNotifier::OnStatus(const PageStatus& status) {
  schedule_.OnStatus(status, NowMs());
  // The board often changes twice in a row (a restart's state, then its
  // count): what it says is sent once the main loop is idle, in one message.
  if (!report_ && !stopping_sent_) report_ = g_idle_add(OnReportDue, this);
}

gboolean ServiceNotifier::OnReportDue(gpointer self) {
  auto* notifier = static_cast<ServiceNotifier*>(self);
  notifier->report_ = 0;
  notifier->Report();
  return G_SOURCE_REMOVE;
}

void ServiceNotifier::Report() {
  const PageStatus& status = board_->status();
  std::string message;
  if (status.first_load_done && !ready_sent_) {
    ready_sent_ = true;
    message = "READY=1\n";
  }
  const std::string text = ServiceStatusText(status);
  if (!status.url.isEmpty() && text != status_sent_) {
    status_sent_ = text;
    message += "STATUS=" + text;
  }
  if (!message.empty()) Notify(message);
}

void ServiceNotifier::Notify(const std::string& message) {
  // sd_notify reads the socket's address from the environment at each call.
  // It is there only for this call, on the main thread, which is where the
  // shell starts its children; sd_notify's unset_environment takes it out
  // again before it returns, whether the message went out or not.
  setenv("NOTIFY_SOCKET", socket_.c_str(), 1);
  const int sent = sd_notify(1, message.c_str());
  unsetenv("NOTIFY_SOCKET");
  if (sent < 0 && !failed_logged_) {
    failed_logged_ = true;
    qDebug() << "service manager notify failed:" << g_strerror(-sent);
  }
}

}  // namespace ombrix
