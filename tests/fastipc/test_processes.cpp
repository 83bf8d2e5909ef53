#include "test_processes.h"

#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

Child startChild(const std::vector<std::string>& argv, bool with_stderr) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return Child{};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  if (with_stderr) posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  Child child;
  if (posix_spawn(&child.pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
    child.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  child.out = pipe_fds[0];
  return child;
}

static bool readByte(const Child& child, int timeout_ms, char* byte) {
  pollfd pfd{child.out, POLLIN, 0};
  if (poll(&pfd, 1, timeout_ms) <= 0) return false;
  return read(child.out, byte, 1) == 1;
}

std::string readLine(const Child& child, int timeout_ms) {
  std::string line;
  char byte;
  while (readByte(child, timeout_ms, &byte) && byte != '\n') line += byte;
  return line;
}

std::string readAll(const Child& child, int timeout_ms) {
  std::string text;
  char byte;
  while (readByte(child, timeout_ms, &byte)) text += byte;
  return text;
}

int waitChild(Child* child, int timeout_ms) {
  if (child->pid <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  while (waitpid(child->pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      killChild(child, SIGKILL);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  child->pid = -1;
  if (child->out >= 0) close(child->out);
  child->out = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void killChild(Child* child, int signal_number) {
  if (child->pid <= 0) return;
  kill(child->pid, signal_number);
  if (signal_number == SIGKILL) {
    waitpid(child->pid, nullptr, 0);
    child->pid = -1;
    if (child->out >= 0) close(child->out);
    child->out = -1;
  }
}

int runChild(const std::vector<std::string>& argv, int timeout_ms) {
  Child child = startChild(argv);
  return waitChild(&child, timeout_ms);
}

void removeChannelNames(const std::string& channel) {
  sem_unlink(("/" + channel + "_w").c_str());
  sem_unlink(("/" + channel + "_r").c_str());
  shm_unlink(("/" + channel + "_m").c_str());
}

std::string uniqueChannel(const std::string& tag) {
  static std::atomic<int> counter{0};
  // Never destroyed: read by the exit handler.
  static auto* handed_out = new std::vector<std::string>;
  static const bool removed_at_exit = [] {
    std::atexit([] {
      for (const std::string& channel : *handed_out) removeChannelNames(channel);
    });
    return true;
  }();
  (void)removed_at_exit;
  std::string channel =
      "fastipc-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" + tag;
  handed_out->push_back(channel);
  return channel;
}
