// The shell's figures in Prometheus' text format (version 0.0.4), and the
// answer of its health check. Pure: the endpoint gathers the figures.
#pragma once

#include <cstdint>
#include <string>

namespace ombrix {

struct MetricsFigures {
  std::string version;  // the shell's
  int64_t start_time_seconds = 0;
  std::string page_state;  // "loading", "shown", ...
  bool page_responsive = true;
  uint64_t loads_ok = 0;
  uint64_t loads_failed = 0;
  uint64_t restarts_crash = 0;
  uint64_t restarts_hang = 0;
  uint64_t restarts_memory = 0;
  int64_t resident_shell_bytes = 0;
  int64_t resident_web_bytes = 0;  // the shell's web processes together
  uint64_t idle_resets = 0;
  uint64_t dispenser_tickets = 0;   // all pages' dispensers together
  int64_t dispenser_last_code = 0;  // of the latest command, 0 before any
  uint64_t print_completed = 0;
  uint64_t print_stopped = 0;
  uint64_t print_canceled = 0;
  uint64_t print_aborted = 0;
  uint64_t print_failed = 0;
};

// The content type of MetricsText's answer.
constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

// Every family with its "# HELP" and "# TYPE" lines, then its samples.
std::string MetricsText(const MetricsFigures& figures);

// A label value as the text format writes it between quotes.
std::string EscapeLabelValue(const std::string& value);

struct HealthAnswer {
  int status;        // 200 or 503
  std::string body;  // "ok", or what is wrong
};

// 200 "ok" when the main page is shown and answers; otherwise 503 with its
// state ("loading", "hung", ..., or "shown, not responding").
HealthAnswer Health(const std::string& page_state, bool responsive);

}  // namespace ombrix
