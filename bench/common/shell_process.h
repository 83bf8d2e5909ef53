// The shell as a benchmark runs it: copied with its page side into an app
// folder, started there with its output in shell.log, and its web processes'
// memory and descriptors read from /proc.
#pragma once

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <string>

namespace bench {

// Copies the shell and its page side from bin (the build's bin folder) to app.
inline bool CopyShell(const std::string& bin, const QString& app) {
  const std::string to = app.toStdString();
  const std::string copy = "cp '" + bin + "/ombrix' '" + to + "/' && mkdir -p '" + to +
                           "/renderer' && cp '" + bin + "/renderer/libombrix-renderer.so' '" + to +
                           "/renderer/'";
  return std::system(copy.c_str()) == 0;
}

// Starts app's shell in a process group of its own (ended with its web
// processes by kill(-pid)), its output kept in app/shell.log for a failed run.
inline pid_t StartShell(const QString& app) {
  const pid_t shell = fork();
  if (shell == 0) {
    setpgid(0, 0);
    const QByteArray log = QFile::encodeName(app + "/shell.log");
    if (!freopen(log.constData(), "w", stdout) || !freopen(log.constData(), "a", stderr)) {
      _exit(126);
    }
    execl(QFile::encodeName(app + "/ombrix").constData(), "ombrix", nullptr);
    _exit(127);
  }
  return shell;
}

// Resident memory and open descriptors of one or more processes.
struct Usage {
  long rss_kb = 0;
  int fds = 0;
  int processes = 0;
};

inline Usage UsageOf(const std::string& pid) {
  Usage usage;
  std::ifstream status("/proc/" + pid + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) usage.rss_kb = std::stol(line.substr(6));
  }
  if (DIR* fds = opendir(("/proc/" + pid + "/fd").c_str())) {
    while (const dirent* entry = readdir(fds)) usage.fds += entry->d_name[0] != '.';
    closedir(fds);
  }
  usage.processes = 1;
  return usage;
}

// The shell's web processes, summed (a reload may hand the page to a new one).
inline Usage WebProcessesOf(pid_t shell) {
  Usage total;
  DIR* proc = opendir("/proc");
  for (dirent* entry; proc && (entry = readdir(proc));) {
    std::ifstream status(std::string("/proc/") + entry->d_name + "/status");
    bool web = false, child = false;
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("Name:", 0) == 0) web = line.find("WebKitWebProces") != std::string::npos;
      if (line.rfind("PPid:", 0) == 0) child = std::stol(line.substr(5)) == shell;
    }
    if (!web || !child) continue;
    const Usage one = UsageOf(entry->d_name);
    total.rss_kb += one.rss_kb;
    total.fds += one.fds;
    total.processes += 1;
  }
  if (proc) closedir(proc);
  return total;
}

// An app folder of its own and the shell started in it, ended (with its web
// processes) when the folder goes.
struct App {
  QTemporaryDir dir;
  pid_t shell = -1;
  QString path() const { return dir.path(); }
  void Write(const QString& name, const QByteArray& text) const {
    QFile file(path() + "/" + name);
    if (file.open(QIODevice::WriteOnly)) file.write(text);
  }
  void Stop() {
    if (shell > 0) {
      kill(-shell, SIGKILL);
      waitpid(shell, nullptr, 0);
    }
    shell = -1;
  }
  ~App() { Stop(); }
};

}  // namespace bench
