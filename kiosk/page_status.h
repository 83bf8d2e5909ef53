// What the main page is doing, as the shell's recovery sees it: one board that
// the service-manager notifier (and any other watcher) reads and follows.
#pragma once

#include <QString>
#include <functional>
#include <vector>

namespace ombrix {

enum class PageState {
  kLoading,     // a load of the main page is under way
  kShown,       // the main page has loaded
  kFailed,      // its load failed and is not tried again
  kRestarting,  // its web process ended; it starts again
  kHung,        // its web process stopped answering
  kWaiting,     // its load failed; the next try is due
};

// "loading", "shown", "failed", "restarting", "hung", "waiting".
const char* PageStateName(PageState state);

// Why the main page's web process was started again.
enum class RestartReason { kCrash, kHang, kMemory };

struct PageStatus {
  PageState state = PageState::kLoading;
  QString url;                   // the main page's address
  bool responsive = true;        // its web process answers
  int restarts = 0;              // how often it was started again (crash, hang, memory limit)
  bool first_load_done = false;  // the first page has finished or failed loading
};

// What happened to the main page since the start, for the shell's metrics.
// Counting does not call the watchers.
struct PageCounters {
  unsigned long long loads_ok = 0;      // loads that finished
  unsigned long long loads_failed = 0;  // loads that failed (each retry counts)
  unsigned long long restarts_crash = 0;
  unsigned long long restarts_hang = 0;
  unsigned long long restarts_memory = 0;
  unsigned long long idle_resets = 0;  // starts again at the first page after no input
  // The dispenser, over all pages and their dispenser objects.
  unsigned long long dispenser_tickets = 0;  // tickets handed out
  int dispenser_last_code = 0;               // the latest command's result code
  // Print jobs by how they ended.
  unsigned long long print_completed = 0;
  unsigned long long print_stopped = 0;
  unsigned long long print_canceled = 0;
  unsigned long long print_aborted = 0;
  unsigned long long print_failed = 0;
};

class PageStatusBoard {
 public:
  using Watcher = std::function<void(const PageStatus&)>;

  const PageStatus& status() const { return status_; }
  const PageCounters& counters() const { return counters_; }
  // Each watcher is called after every change, in the order they were added.
  void Watch(Watcher watcher) { watchers_.push_back(std::move(watcher)); }

  void SetState(PageState state, const QString& url);
  void SetResponsive(bool responsive);
  void CountRestart(RestartReason reason);
  void CountLoad(bool ok);
  void CountIdleReset() { ++counters_.idle_resets; }
  // A dispenser command's outcome; negative tickets count as none.
  void CountDispenser(int tickets, int code);
  // A print job that ended as state ("completed", "stopped", "canceled",
  // "aborted" or "failed"); other states are not counted.
  void CountPrintJob(const QString& state);

 private:
  void Changed();
  PageStatus status_;
  PageCounters counters_;
  std::vector<Watcher> watchers_;
};

}  // namespace ombrix
