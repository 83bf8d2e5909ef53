// Starting programs and waiting for them (and for a launcher's child).
#include <dirent.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "util/util_win.h"

extern char** environ;

namespace ombrix {
namespace {

constexpr int kPollMs = 200;

// Programs whose wait was given up: reaped by later calls so they leave no zombies.
struct AbandonedPrograms {
  std::mutex mutex;
  std::vector<pid_t> pids;
};

// Never destroyed: worker threads may still use it while the process exits.
AbandonedPrograms& Abandoned() {
  static AbandonedPrograms* abandoned = new AbandonedPrograms;
  return *abandoned;
}

void ReapAbandoned() {
  AbandonedPrograms& abandoned = Abandoned();
  std::lock_guard<std::mutex> lock(abandoned.mutex);
  std::vector<pid_t> still;
  for (pid_t pid : abandoned.pids) {
    if (waitpid(pid, nullptr, WNOHANG) == 0) still.push_back(pid);
  }
  abandoned.pids.swap(still);
}

void Abandon(pid_t pid) {
  AbandonedPrograms& abandoned = Abandoned();
  std::lock_guard<std::mutex> lock(abandoned.mutex);
  abandoned.pids.push_back(pid);
}

void PrintStartFailure(int error) {
  std::printf("CreateProcess failed (%d).\n", error);
  std::fflush(stdout);
}

// Starts the program words[0] (searched in PATH) with the other words as its
// arguments; the process id, or minus the error number.
pid_t SpawnWords(const QStringList& words, const QString& working_directory, bool own_group) {
  if (words.isEmpty() || words.first().isEmpty()) return -ENOENT;
  std::vector<QByteArray> bytes;
  for (const QString& word : words)
    bytes.push_back(word.toUtf8());  // text reaches programs as UTF-8
  std::vector<char*> argv;
  for (QByteArray& word : bytes) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);  // no inherited descriptors
  const QByteArray directory = QFile::encodeName(working_directory);
  if (!directory.isEmpty()) posix_spawn_file_actions_addchdir_np(&actions, directory.constData());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  // Ignored signals survive exec (the web process ignores SIGPIPE): the program
  // starts with every signal's default action.
  sigset_t all;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigdefault(&attributes, &all);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (own_group) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  posix_spawnattr_setflags(&attributes, flags);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -error;
}

// Starts the command line; the process id, or minus the error number.
pid_t Spawn(const QString& command_line, const QString& working_directory, bool own_group) {
  // No argument or folder can hold a NUL: the program would get a shorter one.
  if (command_line.contains(QChar(0)) || working_directory.contains(QChar(0))) return -EINVAL;
  return SpawnWords(SplitCommandLine(command_line), working_directory, own_group);
}

int PidFd(pid_t pid) { return int(syscall(SYS_pidfd_open, pid, 0)); }

// Waits until pid has ended or keep_waiting says stop; true when it ended.
// A pidfd works for processes that are not our children too.
bool WaitOnPidFd(int fd, const KeepWaiting& keep_waiting) {
  bool ended = false;
  while (!ended) {
    pollfd ready{fd, POLLIN, 0};
    ended = poll(&ready, 1, keep_waiting ? kPollMs : -1) > 0;
    if (!ended && keep_waiting && !keep_waiting()) break;
  }
  close(fd);
  return ended;
}

// Another process's end, where the kernel has no pidfd.
bool WaitByPolling(pid_t pid, const KeepWaiting& keep_waiting) {
  while (kill(pid, 0) == 0 || errno != ESRCH) {
    if (keep_waiting && !keep_waiting()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

bool WaitForOther(pid_t pid, const KeepWaiting& keep_waiting) {
  const int fd = PidFd(pid);
  if (fd >= 0) return WaitOnPidFd(fd, keep_waiting);
  return errno == ESRCH || WaitByPolling(pid, keep_waiting);
}

// Our own child's end, where the kernel has no pidfd: polled without
// collecting it. True when it ended (or is no longer ours to wait for).
bool WaitChildByPolling(pid_t pid, const KeepWaiting& keep_waiting) {
  const int options = WEXITED | WNOWAIT | (keep_waiting ? WNOHANG : 0);
  while (true) {
    siginfo_t info{};
    const int result = waitid(P_PID, id_t(pid), &info, options);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0 || info.si_pid == pid) return true;
    if (keep_waiting && !keep_waiting()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
}

// True when our own child has ended; false when the wait was given up.
bool WaitChildEnd(pid_t pid, const KeepWaiting& keep_waiting) {
  const int fd = PidFd(pid);
  if (fd >= 0) return WaitOnPidFd(fd, keep_waiting);
  return WaitChildByPolling(pid, keep_waiting);
}

// Waits for our own child and collects its exit code; false when the wait was
// given up or the child was collected elsewhere (its code is unknown).
bool WaitForChild(pid_t pid, int* exit_code, const KeepWaiting& keep_waiting) {
  if (!WaitChildEnd(pid, keep_waiting)) {
    Abandon(pid);
    return false;
  }
  int status = 0;
  pid_t reaped;
  do {
    reaped = waitpid(pid, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reaped != pid) return false;
  if (exit_code) *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

// Sleeps delay_ms in short slices; false as soon as keep_waiting gives the wait up.
bool SleepWhileWaiting(int delay_ms, const KeepWaiting& keep_waiting) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay_ms);
  for (auto now = std::chrono::steady_clock::now(); now < end;
       now = std::chrono::steady_clock::now()) {
    if (keep_waiting && !keep_waiting()) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        end - now, std::chrono::milliseconds(kPollMs)));
  }
  return true;
}

struct ProcessStat {
  pid_t parent = 0;
  pid_t group = 0;
  unsigned long long start = 0;  // clock ticks after boot
};

// Parent, group and start time of a process from /proc/<pid>/stat; false when it is gone.
bool ReadProcessStat(pid_t pid, ProcessStat* stat) {
  QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray line = file.readAll();
  const int name_end = line.lastIndexOf(')');  // the name itself may hold spaces and ')'
  if (name_end < 0) return false;
  // Fields from the third (state) on; the start time is the 22nd.
  const QList<QByteArray> fields = line.mid(name_end + 2).split(' ');
  if (fields.size() < 20) return false;
  stat->parent = pid_t(fields[1].toInt());
  stat->group = pid_t(fields[2].toInt());
  stat->start = fields[19].toULongLong();
  return true;
}

}  // namespace

QStringList SplitCommandLine(const QString& command_line) {
  return QProcess::splitCommand(command_line);
}

bool RunAndWait(const QString& command_line, const QString& working_directory, int* exit_code,
                const KeepWaiting& keep_waiting) {
  ReapAbandoned();
  const pid_t pid = Spawn(command_line, working_directory, false);
  if (pid < 0) {
    PrintStartFailure(-pid);
    return false;
  }
  return WaitForChild(pid, exit_code, keep_waiting);
}

bool RunAndWaitWithChild(const QString& command_line, int delay_ms, int* exit_code,
                         const KeepWaiting& keep_waiting) {
  ReapAbandoned();
  const pid_t pid = Spawn(command_line, QString(), true);
  if (pid < 0) {
    PrintStartFailure(-pid);
    return false;
  }
  if (!WaitForChild(pid, exit_code, keep_waiting)) return false;
  if (!SleepWhileWaiting(delay_ms, keep_waiting)) return false;
  const pid_t child = FindChildProcess(pid);
  if (child != 0) return WaitForOther(child, keep_waiting);
  return true;
}

bool StartDetached(const QString& program, const QString& working_directory) {
  if (program.contains(QChar(0)) || working_directory.contains(QChar(0))) return false;
  ReapAbandoned();
  const pid_t pid = SpawnWords({program}, working_directory, true);
  if (pid < 0) {
    PrintStartFailure(-pid);
    return false;
  }
  // Nobody waits for it: it is collected whenever it ends, so it leaves no zombie.
  try {
    std::thread([pid] {
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    Abandon(pid);  // collected by a later start instead
  }
  return true;
}

pid_t FindChildProcess(pid_t pid) {
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  pid_t found = 0;
  unsigned long long found_start = 0;
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long id = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || id <= 0 || id == pid) continue;
    ProcessStat stat;
    if (!ReadProcessStat(pid_t(id), &stat) || (stat.parent != pid && stat.group != pid)) continue;
    // The earliest started: the launcher's own child, not one of its children.
    if (found == 0 || stat.start < found_start) {
      found = pid_t(id);
      found_start = stat.start;
    }
  }
  closedir(proc);
  return found;
}

}  // namespace ombrix
