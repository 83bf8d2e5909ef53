#include "control/process_memory.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ombrix {
namespace {

std::string ReadSmallFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The engine names its page processes so (the kernel keeps 15 characters).
bool IsWebProcess(pid_t pid) {
  return ReadSmallFile("/proc/" + std::to_string(pid) + "/comm").rfind("WebKitWebProces", 0) == 0;
}

}  // namespace

int64_t ResidentBytesFromStatm(const std::string& statm, long page_size) {
  long long size = 0;
  long long resident = 0;
  if (std::sscanf(statm.c_str(), "%lld %lld", &size, &resident) != 2) return -1;
  return static_cast<int64_t>(resident) * page_size;
}

int64_t ResidentBytesOf(pid_t pid) {
  const int64_t bytes = ResidentBytesFromStatm(
      ReadSmallFile("/proc/" + std::to_string(pid) + "/statm"), sysconf(_SC_PAGESIZE));
  return bytes < 0 ? 0 : bytes;
}

std::vector<pid_t> WebProcessesOfShell() {
  // A child belongs to the thread that started it: each thread's list is read.
  std::vector<pid_t> found;
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return found;
  while (const dirent* task = readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    std::istringstream children(
        ReadSmallFile(std::string("/proc/self/task/") + task->d_name + "/children"));
    for (pid_t child; children >> child;) {
      if (IsWebProcess(child)) found.push_back(child);
    }
  }
  closedir(tasks);
  return found;
}

int64_t WebResidentBytes() {
  int64_t total = 0;
  for (pid_t pid : WebProcessesOfShell()) total += ResidentBytesOf(pid);
  return total;
}

}  // namespace ombrix
