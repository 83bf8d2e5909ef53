#include "sim_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace {

std::string MakeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/fpj-test-XXXXXX";
  return mkdtemp(&pattern[0]) ? pattern : std::string();
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& options) {
  dir_ = MakeTempDir();
  logPath_ = dir_ + "/frames.log";
  std::vector<std::string> args = {FPJ_SIM_PATH, "--log", logPath_};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the test
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  if (pid_ > 0) path_ = ReadFirstLine(out[0]);
  close(out[0]);
}

SimProcess::~SimProcess() {
  Kill();
  unlink(logPath_.c_str());
  rmdir(dir_.c_str());
}

std::string SimProcess::ReadFirstLine(int fd) {
  std::string line;
  char c;
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 10000) > 0 && read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

std::vector<std::string> SimProcess::Frames() const {
  std::vector<std::string> frames;
  std::ifstream log(logPath_);
  for (std::string line; std::getline(log, line);) frames.push_back(line);
  return frames;
}

void SimProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}
