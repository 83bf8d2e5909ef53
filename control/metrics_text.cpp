#include "control/metrics_text.h"

#include <initializer_list>
#include <utility>

namespace ombrix {
namespace {

const char* const kPageStates[] = {"loading", "shown", "failed", "restarting", "hung", "waiting"};

class Writer {
 public:
  void Family(const char* name, const char* type, const char* help) {
    name_ = name;
    text_ += std::string("# HELP ") + name + " " + help + "\n";
    text_ += std::string("# TYPE ") + name + " " + type + "\n";
  }
  // One sample of the current family, with label="value" pairs.
  void Sample(const std::string& value,
              std::initializer_list<std::pair<const char*, std::string>> labels = {}) {
    text_ += name_;
    if (labels.size() > 0) {
      text_ += "{";
      bool first = true;
      for (const auto& label : labels) {
        if (!first) text_ += ",";
        first = false;
        text_ += std::string(label.first) + "=\"" + EscapeLabelValue(label.second) + "\"";
      }
      text_ += "}";
    }
    text_ += " " + value + "\n";
  }
  const std::string& text() const { return text_; }

 private:
  std::string name_;
  std::string text_;
};

std::string Number(uint64_t value) { return std::to_string(value); }
std::string Number(int64_t value) { return std::to_string(value); }

}  // namespace

std::string EscapeLabelValue(const std::string& value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string MetricsText(const MetricsFigures& f) {
  Writer w;
  w.Family("ombrix_build_info", "gauge", "The shell's version; always 1.");
  w.Sample("1", {{"version", f.version}});
  w.Family("ombrix_start_time_seconds", "gauge", "When the shell started, in Unix seconds.");
  w.Sample(Number(f.start_time_seconds));
  w.Family("ombrix_page_responsive", "gauge",
           "1 while the main page's web process answers the shell, else 0.");
  w.Sample(f.page_responsive ? "1" : "0");
  w.Family("ombrix_page_state", "gauge", "1 for the main page's current state, 0 for the others.");
  for (const char* state : kPageStates)
    w.Sample(f.page_state == state ? "1" : "0", {{"state", state}});
  w.Family("ombrix_page_loads_total", "counter",
           "Loads of the main page that finished (ok) or failed.");
  w.Sample(Number(f.loads_ok), {{"result", "ok"}});
  w.Sample(Number(f.loads_failed), {{"result", "failed"}});
  w.Family("ombrix_web_process_restarts_total", "counter",
           "Starts of the main page's web process after a crash, a hang or its memory limit.");
  w.Sample(Number(f.restarts_crash), {{"reason", "crash"}});
  w.Sample(Number(f.restarts_hang), {{"reason", "hang"}});
  w.Sample(Number(f.restarts_memory), {{"reason", "memory"}});
  w.Family("ombrix_resident_bytes", "gauge",
           "Resident memory of the shell and of its web processes together.");
  w.Sample(Number(f.resident_shell_bytes), {{"process", "shell"}});
  w.Sample(Number(f.resident_web_bytes), {{"process", "web"}});
  w.Family("ombrix_idle_resets_total", "counter",
           "Times the app started again at its first page after a spell without input.");
  w.Sample(Number(f.idle_resets));
  w.Family("ombrix_dispenser_tickets_total", "counter",
           "Tickets the dispenser handed out, over all pages.");
  w.Sample(Number(f.dispenser_tickets));
  w.Family("ombrix_dispenser_last_code", "gauge",
           "The result code of the dispenser's latest command; 0 before any.");
  w.Sample(Number(f.dispenser_last_code));
  w.Family("ombrix_print_jobs_total", "counter", "Print jobs by how they ended.");
  w.Sample(Number(f.print_completed), {{"state", "completed"}});
  w.Sample(Number(f.print_stopped), {{"state", "stopped"}});
  w.Sample(Number(f.print_canceled), {{"state", "canceled"}});
  w.Sample(Number(f.print_aborted), {{"state", "aborted"}});
  w.Sample(Number(f.print_failed), {{"state", "failed"}});
  return w.text();
}

HealthAnswer Health(const std::string& page_state, bool responsive) {
  if (page_state == "shown" && responsive) return {200, "ok"};
  if (!responsive) return {503, page_state + ", not responding"};
  return {503, page_state};
}

}  // namespace ombrix
