// Runs the fpj-sim dispenser simulator as a child process on its own
// pseudo-terminal, with a log of the frames it received.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& options = {});
  ~SimProcess();

  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool started() const { return !path_.empty(); }
  const std::string& path() const { return path_; }  // the device to open
  // Received frames so far, one hex line each ("02 00 01 11 14").
  std::vector<std::string> Frames() const;
  void Kill();  // SIGKILL, and reaps the process

 private:
  std::string ReadFirstLine(int fd);

  pid_t pid_ = -1;
  std::string dir_;
  std::string logPath_;
  std::string path_;
};
