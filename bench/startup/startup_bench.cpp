// Start-up benchmark: time from process start to the main window being mapped,
// and the memory (proportional set size) of the program and its web and network
// processes, for the engine's floor and for the shell on the same small page,
// from its file and from the app's content archive (as a vendor ships it),
// alternating in one run on one private X display.
//
// After one start of each to warm the file cache, each round starts the three
// programs one after the other, the first of them in turn, so that no program
// always follows the same one. A ratio is taken within each round and the
// median of the rounds' ratios is reported, so that the machine's drift over
// the run weighs on the floor and the shell alike. Memory is read in rounds of
// its own at the end, each program left to settle first; their times are not
// counted.
#include <X11/Xlib.h>
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
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

#include "bench/common/median.h"

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

// Waits for an event of the display that `wanted` accepts; false when none came
// within the limit.
template <typename Wanted>
bool WaitForEvent(Display* display, double limit_ms, Wanted wanted) {
  const auto end = Clock::now() + std::chrono::duration<double, std::milli>(limit_ms);
  pollfd connection{ConnectionNumber(display), POLLIN, 0};
  for (;;) {
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (wanted(event)) return true;
    }
    const auto left = std::chrono::duration<double, std::milli>(end - Clock::now()).count();
    if (left <= 0) return false;
    poll(&connection, 1, static_cast<int>(left) + 1);
  }
}

// Starts a program and returns when its first window is mapped: the time it
// took and, with `with_memory`, the memory of its processes once settled. The
// program and its web and network processes (its process group, ours once
// orphaned, as this process reaps its descendants) have ended, been reaped and
// had their window destroyed by the display before it returns, so that nothing
// of one program weighs on the next: a process still mapping the same
// libraries would lower the next one's proportional memory, and a display
// still tearing down a window would slow its start.
Sample RunOnce(Display* display, const std::string& display_name,
               const std::vector<std::string>& argv, const std::string& cwd, bool with_memory) {
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
  Window window = 0;
  const bool mapped = WaitForEvent(display, 30000, [&](const XEvent& event) {
    if (event.type != MapNotify || event.xmap.override_redirect) return false;
    window = event.xmap.window;
    return true;
  });
  if (mapped) {
    sample.start_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (with_memory) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // let memory settle
      sample.memory_mb = TreeMemoryMb(pid);
    }
  }
  kill(-pid, SIGKILL);
  while (waitpid(-pid, nullptr, 0) > 0) {
  }
  if (mapped) {
    WaitForEvent(display, 5000, [&](const XEvent& event) {
      return event.type == DestroyNotify && event.xdestroywindow.window == window;
    });
  }
  return sample;
}

// The app folder: the shell and its page side, the page as a file for the
// app "ombrix", and the same page packed into the archive of the app "archived"
// (a link to the same shell, as one installed shell serves many apps).
std::string MakeAppFolder(const std::string& bin_dir) {
  char pattern[] = "/tmp/ombrix-bench-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string copy = "cp '" + bin_dir + "/ombrix' '" + dir + "/' && mkdir -p '" + dir +
                           "/renderer' '" + dir + "/web' && cp '" + bin_dir + "/renderer/'*.so '" +
                           dir + "/renderer/' && ln -s ombrix '" + dir + "/archived'";
  if (std::system(copy.c_str()) != 0) return "";
  const char page[] =
      "<!DOCTYPE html><html><body><h1>Start-up</h1><p>A small local page.</p></body></html>";
  std::ofstream(dir + "/page.html") << page;
  std::ofstream(dir + "/web/page.html") << page;
  const std::string pack =
      "'" + bin_dir + "/ombrix-pack' '" + dir + "/web' '" + dir + "/archived.data' >/dev/null";
  if (std::system(pack.c_str()) != 0) return "";
  const std::string window = ", \"window\": {\"launch_width\": 800, \"launch_height\": 600}}";
  std::ofstream(dir + "/ombrix.json")
      << "{\"first_page\": \"file://${AppDir}/page.html\", \"cache_path\": \"${AppDir}/cache\""
      << window;
  std::ofstream(dir + "/archived.json")
      << "{\"first_page\": \"client:///page.html\", \"cache_path\": \"${AppDir}/cache2\"" << window;
  return dir;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int rounds = quick ? 2 : 21;
  const int memory_rounds = quick ? 1 : 3;
  prctl(PR_SET_CHILD_SUBREAPER, 1);
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

  // Per program (the floor, the shell from files, from the archive): its
  // times and memory, and its ratios to the floor of the same round.
  constexpr int kPrograms = 3;
  std::vector<double> start[kPrograms], memory[kPrograms], start_ratio[kPrograms],
      memory_ratio[kPrograms];
  const std::vector<std::string> programs[kPrograms] = {
      {floor_program, page}, {app + "/ombrix"}, {app + "/archived"}};
  for (const auto& program : programs) RunOnce(display, display_name, program, app, false);
  bool measured = true;
  for (int round = 0; round < rounds + memory_rounds && measured; ++round) {
    const bool with_memory = round >= rounds;  // memory rounds come last, untimed
    Sample samples[kPrograms];
    for (int turn = 0; turn < kPrograms; ++turn) {
      const int p = (round + turn) % kPrograms;
      samples[p] = RunOnce(display, display_name, programs[p], app, with_memory);
      measured = measured && samples[p].start_ms > 0;
    }
    for (int p = 0; p < kPrograms && measured; ++p) {
      if (with_memory) {
        memory[p].push_back(samples[p].memory_mb);
        memory_ratio[p].push_back(samples[p].memory_mb / samples[0].memory_mb);
      } else {
        start[p].push_back(samples[p].start_ms);
        start_ratio[p].push_back(samples[p].start_ms / samples[0].start_ms);
      }
    }
  }
  XCloseDisplay(display);
  kill(-xvfb, SIGKILL);
  waitpid(xvfb, nullptr, 0);
  std::system(("rm -rf '" + app + "'").c_str());
  if (!measured) {
    std::fprintf(stderr, "a program did not show its window within 30 s\n");
    return 1;
  }

  std::printf("%-24s %7.1f ms, %6.1f MB  (medians of %d and %d rounds)\n", "floor",
              bench::Median(start[0]), bench::Median(memory[0]), rounds, memory_rounds);
  const char* names[kPrograms] = {"", "shell from files", "shell from the archive"};
  const double start_targets[kPrograms] = {0, 1.05, 1.08};
  for (int p = 1; p < kPrograms; ++p) {
    std::printf(
        "%-24s %7.1f ms, %6.1f MB  (start-up %.3fx, target <= %.2f; memory %.3fx, "
        "target <= 1.05)\n",
        names[p], bench::Median(start[p]), bench::Median(memory[p]), bench::Median(start_ratio[p]),
        start_targets[p], bench::Median(memory_ratio[p]));
  }
  return 0;
}
