#include "kiosk/page_status.h"

#include <utility>

namespace ombrix {

const char* PageStateName(PageState state) {
  switch (state) {
    case PageState::kLoading:
      return "loading";
    case PageState::kShown:
      return "shown";
    case PageState::kFailed:
      return "failed";
    case PageState::kRestarting:
      return "restarting";
    case PageState::kHung:
      return "hung";
    case PageState::kWaiting:
      return "waiting";
  }
  return "loading";
}

void PageStatusBoard::SetState(PageState state, const QString& url) {
  if (state == status_.state && url == status_.url) return;
  status_.state = state;
  status_.url = url;
  if (state != PageState::kLoading) status_.first_load_done = true;
  Changed();
}

void PageStatusBoard::SetResponsive(bool responsive) {
  if (responsive == status_.responsive) return;
  status_.responsive = responsive;
  Changed();
}

void PageStatusBoard::CountRestart(RestartReason reason) {
  switch (reason) {
    case RestartReason::kCrash:
      ++counters_.restarts_crash;
      break;
    case RestartReason::kHang:
      ++counters_.restarts_hang;
      break;
    case RestartReason::kMemory:
      ++counters_.restarts_memory;
      break;
  }
  ++status_.restarts;
  Changed();
}

void PageStatusBoard::CountLoad(bool ok) {
  if (ok) {
    ++counters_.loads_ok;
  } else {
    ++counters_.loads_failed;
  }
}

void PageStatusBoard::CountDispenser(int tickets, int code) {
  if (tickets > 0) counters_.dispenser_tickets += static_cast<unsigned long long>(tickets);
  counters_.dispenser_last_code = code;
}

void PageStatusBoard::CountPrintJob(const QString& state) {
  const std::pair<const char*, unsigned long long*> states[] = {
      {"completed", &counters_.print_completed},
      {"stopped", &counters_.print_stopped},
      {"canceled", &counters_.print_canceled},
      {"aborted", &counters_.print_aborted},
      {"failed", &counters_.print_failed}};
  for (const auto& known : states) {
    if (state == QLatin1String(known.first)) ++*known.second;
  }
}

void PageStatusBoard::Changed() {
  for (const Watcher& watcher : watchers_) watcher(status_);
}

}  // namespace ombrix
