// Tells the service manager (systemd) how the shell is doing: READY=1 once the
// first page has finished or failed loading, a STATUS= line for each state of
// the main page, WATCHDOG=1 keep-alives while that page works and STOPPING=1
// when the shell exits. Without NOTIFY_SOCKET at start it sends nothing.
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>

#include "kiosk/page_status.h"
#include "kiosk/watchdog_schedule.h"

namespace ombrix {

// The STATUS= text for the main page: its state's name, its address and, when
// there is more to say, a note in brackets ("restarting URL (restart 2)",
// "shown URL (not responding)", "waiting URL (for the server)").
std::string ServiceStatusText(const PageStatus& status);

class ServiceNotifier {
 public:
  // Takes NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID out of the environment,
  // so that no web process, bus or program started later inherits them. Made
  // first thing in main: before any thread or child process exists.
  ServiceNotifier();
  ~ServiceNotifier();
  ServiceNotifier(const ServiceNotifier&) = delete;
  ServiceNotifier& operator=(const ServiceNotifier&) = delete;

  // A service manager listens.
  bool active() const { return !socket_.empty(); }
  // The watchdog's interval it asked for; 0 for none.
  uint64_t watchdog_usec() const { return watchdog_usec_; }

  // Follows the main page's board from now on and, with a watchdog, starts the
  // keep-alives (every half interval, on the main loop). The notifier
  // outlives the board, and Stopping() comes before the board goes.
  void Follow(PageStatusBoard* board);
  // STOPPING=1 (once); the keep-alives end.
  void Stopping();

 private:
  static gboolean OnTick(gpointer self);
  static gboolean OnReportDue(gpointer self);
  void OnStatus(const PageStatus& status);
  // READY=1 and STATUS= as the board says now, when they are news.
  void Report();
  // Sends one message (lines of NAME=value); main thread only.
  void Notify(const std::string& message);

  std::string socket_;  // NOTIFY_SOCKET as the shell was started with it
  uint64_t watchdog_usec_ = 0;
  const PageStatusBoard* board_ = nullptr;
  WatchdogSchedule schedule_;
  guint tick_ = 0;    // the watchdog's keep-alives
  guint report_ = 0;  // a report due once the main loop is idle
  bool ready_sent_ = false;
  bool stopping_sent_ = false;
  std::string status_sent_;
  bool failed_logged_ = false;
};

}  // namespace ombrix
