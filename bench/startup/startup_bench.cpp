// Start-up benchmark: time from process start to the main window being mapped,
// and the memory (proportional set size) of the program and its web and network
// processes, for the shell and for the engine's floor on the same small page,
// alternating in one run on one private X display.
#include <X11/Xlib.h>
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
  double start_ms = 0;
  double memory_mb = 0;
};

std::string StartXvfb(pid_t* pid) {
  int fds[2];
  if (pipe(fds) != 0) return "";
  *pid = fork();
  if (*pid == 0) {
    setpgid(0, 0);
    dup2(fds[1], 3);
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  return number.empty() ? "" : ":" + number;
}

std::vector<pid_t> Children(pid_t parent) {
  std::vector<pid_t> found;
  DIR* proc = opendir("/proc");
  if (!proc) return found;
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = std::atoi(entry->d_name);
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close_paren = line.rfind(')');
    if (close_paren == std::string::npos) continue;
    std::istringstream rest(line.substr(close_paren + 2));
    char state;
    pid_t ppid;
    rest >> state >> ppid;
    if (ppid == parent) found.push_back(pid);
  }
  closedir(proc);
  return found;
}

double PssKb(pid_t pid) {
  std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string key;
  double value;
  while (rollup >> key) {
    if (key == "Pss:") {
      rollup >> value;
      return value;
    }
    rollup.ignore(1 << 16, '\n');
  }
  return 0;
}

double TreeMemoryMb(pid_t root) {
  double kb = PssKb(root);
  std::vector<pid_t> pending = Children(root);
  while (!pending.empty()) {
    const pid_t pid = pending.back();
    pending.pop_back();
    kb += PssKb(pid);
    for (pid_t child : Children(pid)) pending.push_back(child);
  }
  return kb / 1024.0;
}

bool WaitForMap(Display* display, double limit_ms) {
  const auto end = Clock::now() + std::chrono::duration<double, std::milli>(limit_ms);
  while (Clock::now() < end) {
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MapNotify && !event.xmap.override_redirect) return true;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

Sample RunOnce(Display* display, const std::string& display_name,
               const std::vector<std::string>& argv, const std::string& cwd) {
  XSync(display, True);  // drop events of earlier runs
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    setenv("DISPLAY", display_name.c_str(), 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  Sample sample;
  if (WaitForMap(display, 30000)) {
    sample.start_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // let memory settle
    sample.memory_mb = TreeMemoryMb(pid);
  }
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  // Web processes of the killed program end with it; give them a moment.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  return sample;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string MakeAppFolder(const std::string& bin_dir) {
  char pattern[] = "/tmp/ombrix-bench-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string copy = "cp '" + bin_dir + "/ombrix' '" + dir + "/' && mkdir -p '" + dir +
                           "/renderer' && cp '" + bin_dir + "/renderer/'*.so '" + dir +
                           "/renderer/'";
  if (std::system(copy.c_str()) != 0) return "";
  std::ofstream(dir + "/page.html")
      << "<!DOCTYPE html><html><body><h1>Start-up</h1><p>A small local page.</p></body></html>";
  std::ofstream(dir + "/ombrix.json")
      << "{\"first_page\": \"file://${AppDir}/page.html\", \"cache_path\": \"${AppDir}/cache\","
         " \"window\": {\"launch_width\": 800, \"launch_height\": 600}}";
  return dir;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int rounds = quick ? 2 : 9;
  pid_t xvfb = -1;
  const std::string display_name = StartXvfb(&xvfb);
  Display* display = display_name.empty() ? nullptr : XOpenDisplay(display_name.c_str());
  if (!display) {
    std::fprintf(stderr, "cannot start Xvfb\n");
    return 1;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  const std::string app = MakeAppFolder(OMBRIX_BENCH_BIN_DIR);
  const std::string floor_program = OMBRIX_BENCH_FLOOR;
  const std::string page = "file://" + app + "/page.html";

  std::vector<double> shell_start, shell_memory, floor_start, floor_memory;
  RunOnce(display, display_name, {floor_program, page}, app);  // warm the file cache
  for (int i = 0; i < rounds; ++i) {
    const Sample f = RunOnce(display, display_name, {floor_program, page}, app);
    const Sample s = RunOnce(display, display_name, {app + "/ombrix"}, app);
    floor_start.push_back(f.start_ms);
    floor_memory.push_back(f.memory_mb);
    shell_start.push_back(s.start_ms);
    shell_memory.push_back(s.memory_mb);
  }
  XCloseDisplay(display);
  kill(-xvfb, SIGKILL);
  waitpid(xvfb, nullptr, 0);
  std::system(("rm -rf '" + app + "'").c_str());

  const double fs = Median(floor_start), ss = Median(shell_start);
  const double fm = Median(floor_memory), sm = Median(shell_memory);
  std::printf("startup (median of %d): shell %.1f ms, floor %.1f ms, ratio %.3f (target <= 1.15)\n",
              rounds, ss, fs, fs > 0 ? ss / fs : 0);
  std::printf("memory  (median of %d): shell %.1f MB, floor %.1f MB, ratio %.3f (target <= 1.10)\n",
              rounds, sm, fm, fm > 0 ? sm / fm : 0);
  return fs > 0 && ss > 0 ? 0 : 1;
}
