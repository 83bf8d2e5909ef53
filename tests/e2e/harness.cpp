#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace e2e {
namespace {

// Starts argv with extra environment; stdout and stderr go to log (or /dev/null).
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& log, const std::string& cwd, int pass_fd = -1) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  setpgid(0, 0);
  int out = open(log.empty() ? "/dev/null" : log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  dup2(out, 1);
  dup2(out, 2);
  int in = open("/dev/null", O_RDONLY);
  dup2(in, 0);
  if (pass_fd >= 0) dup2(pass_fd, 3);
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
  for (const std::string& entry : env) putenv(strdup(entry.c_str()));
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

int Field(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) return 0;
  return std::atoi(text.c_str() + at + label.size());
}

}  // namespace

std::string Run(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
  pclose(pipe);
  return output;
}

bool WaitFor(const std::function<bool()>& condition, milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(milliseconds(25));
  }
  return condition();
}

XServer::XServer(bool with_panel, int width, int height) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  xvfb_ = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp"}, {}, "", "",
                fds[1]);
  close(fds[1]);
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) throw std::runtime_error("Xvfb did not start");
  display_ = ":" + number;
  // On a loaded machine a client now and then fails to open the new display
  // and ends at once; it is started again rather than leaving a test without
  // its window manager or panel.
  wm_ = StartUntil("openbox", [this] {
    return X("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") != std::string::npos;
  });
  if (with_panel) {
    panel_ = StartUntil("tint2", [this] {
      const std::string area = X("xprop -root _NET_WORKAREA");
      return area.find(", 1024") == std::string::npos && area.find("=") != std::string::npos;
    });
  }
}

pid_t XServer::StartUntil(const std::string& program, const std::function<bool()>& ready) const {
  pid_t pid = -1;
  for (int attempt = 0; attempt < 3; ++attempt) {
    pid = Spawn({program}, {"DISPLAY=" + display_}, "", "");
    bool ended = false;
    WaitFor(
        [&] {
          ended = waitpid(pid, nullptr, WNOHANG) == pid;
          return ended || ready();
        },
        milliseconds(20000));
    if (!ended) break;
    pid = -1;
  }
  return pid;
}

XServer::~XServer() {
  Stop(panel_);
  Stop(wm_);
  Stop(xvfb_);
}

std::vector<int> XServer::WorkArea() const {
  const std::string text = X("xprop -root _NET_WORKAREA");
  std::istringstream numbers(text.substr(text.find('=') + 1));
  std::vector<int> area(4);
  char comma;
  numbers >> area[0] >> comma >> area[1] >> comma >> area[2] >> comma >> area[3];
  return area;
}

std::string XServer::X(const std::string& command) const {
  return Run("DISPLAY=" + display_ + " " + command + " 2>/dev/null");
}

void XServer::Screenshot(const std::string& path) const { X("import -window root '" + path + "'"); }

Shell::Shell(const XServer& x, bool copy_built_shell) : x_(x) {
  const QString bin = QStringLiteral(OMBRIX_TEST_BIN_DIR);
  QDir(dir()).mkpath(".xdg/cache");
  if (!copy_built_shell) return;
  QDir(dir()).mkpath("renderer");
  QFile::copy(bin + "/ombrix", dir() + "/ombrix");
  QFile::copy(bin + "/renderer/libombrix-renderer.so", dir() + "/renderer/libombrix-renderer.so");
  QFile::setPermissions(dir() + "/ombrix", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

Shell::~Shell() {
  Kill();
  Stop(bus_pid_);
}

void Shell::StartBus() {
  int fds[2];
  if (pipe(fds) != 0) return;
  bus_pid_ = Spawn({"dbus-daemon", "--session", "--nofork", "--print-address=3"},
                   {"DISPLAY=" + x_.display()}, "", "/", fds[1]);
  close(fds[1]);
  std::string address;
  for (char c; read(fds[0], &c, 1) == 1 && c != '\n';) address += c;
  close(fds[0]);
  bus_address_ = address;
}

void Shell::WriteFile(const QString& relative_path, const QByteArray& content) const {
  const QString path = dir() + "/" + relative_path;
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write test file");
  file.write(content);
}

void Shell::WriteManifest(const QJsonObject& manifest, const QString& name) const {
  WriteFile(name, QJsonDocument(manifest).toJson());
}

void Shell::Start(const QStringList& args, const QString& cwd) {
  StartProgram(dir() + "/ombrix", args, cwd, {});
}

void Shell::StartProgram(const QString& program, const QStringList& args, const QString& cwd,
                         const std::vector<std::string>& extra_env) {
  std::vector<std::string> argv{program.toStdString()};
  for (const QString& arg : args) argv.push_back(arg.toStdString());
  const std::string xdg = (dir() + "/.xdg").toStdString();
  std::vector<std::string> env{"DISPLAY=" + x_.display(),
                               "XDG_DATA_HOME=" + xdg + "/data",
                               "XDG_CACHE_HOME=" + xdg + "/cache",
                               "XDG_CONFIG_HOME=" + xdg + "/config",
                               "NO_AT_BRIDGE=1",
                               "GTK_A11Y=none"};
  env.insert(env.end(), extra_env.begin(), extra_env.end());
#ifdef OMBRIX_TEST_PRELOAD
  // The engine's web process, built without the sanitizers, inherits this and
  // so can load the instrumented extension. The bus below is started without
  // it: a bus the shell started itself would inherit it too, and the engine's
  // first accessibility call to it then waits 30 s.
  env.push_back("LD_PRELOAD=" OMBRIX_TEST_PRELOAD);
#endif
  // A session bus of the shell's own, in a process group of its own: what the
  // shell, the engine or the bus start on it (an accessibility bus, a file
  // manager) ends with the test. Without it the session library would launch
  // a bus of its own, which outlives the test.
  if (bus_pid_ <= 0) StartBus();
  if (!bus_address_.empty()) env.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus_address_);
  pid_ = Spawn(argv, env, (dir() + "/shell.log").toStdString(),
               cwd.isEmpty() ? "/" : cwd.toStdString());
}

int Shell::Wait(milliseconds limit) {
  if (pid_ <= 0) return status_;
  int status = 0;
  const bool ended = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
  if (!ended) return -1000;
  pid_ = -1;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

bool Shell::Running() { return pid_ > 0 && Wait(milliseconds(0)) == -1000; }

void Shell::Kill() {
  Stop(pid_);
  pid_ = -1;
}

std::string Shell::Output() const {
  QFile file(dir() + "/shell.log");
  if (!file.open(QIODevice::ReadOnly)) return std::string();
  return file.readAll().toStdString();
}

unsigned long Shell::FindWindow(const std::string& title, bool only_visible) const {
  const std::string found =
      x_.X(std::string("xdotool search ") + (only_visible ? "--onlyvisible " : "") + "--name '^" +
           title + "$'");
  return std::strtoul(found.c_str(), nullptr, 10);
}

unsigned long Shell::WaitForWindow(const std::string& title, milliseconds limit) {
  unsigned long window = 0;
  WaitFor([&] { return (window = FindWindow(title, true)) != 0; }, limit);
  return window;
}

Geometry Shell::GetGeometry(unsigned long window) const {
  const std::string info = x_.X("xwininfo -id " + std::to_string(window));
  Geometry g;
  g.x = Field(info, "Absolute upper-left X:");
  g.y = Field(info, "Absolute upper-left Y:");
  g.width = Field(info, "Width:");
  g.height = Field(info, "Height:");
  g.viewable = info.find("IsViewable") != std::string::npos;
  return g;
}

std::string Shell::Property(unsigned long window, const std::string& name) const {
  return Trim(x_.X("xprop -id " + std::to_string(window) + " " + name));
}

QJsonObject Shell::WaitForResults(milliseconds limit, const QString& name) {
  QJsonObject results;
  WaitFor(
      [&] {
        QFile file(dir() + "/" + name);
        if (!file.open(QIODevice::ReadOnly)) return false;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
        if (!document.isObject()) return false;
        results = document.object();
        return true;
      },
      limit);
  return results;
}

Background::Background(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       const std::string& log)
    : pid_(Spawn(argv, env, log, "/")) {}

Background::~Background() { Stop(pid_); }

SlowServer::SlowServer(QByteArray body, QByteArray type)
    : body_(std::move(body)),
      type_(std::move(type)),
      server_([this](int client, const std::string&) { Answer(client); }) {}

void SlowServer::Answer(int client) {
  asked_ = true;
  WaitFor([this] { return released_.load(); }, milliseconds(60000));
  ombrix_test::SendAll(client, ombrix_test::ResponseHead(200, body_.size(), type_.toStdString(),
                                                         "Access-Control-Allow-Origin: *\r\n") +
                                   body_.toStdString());
}

PageServer::PageServer(std::map<std::string, QByteArray> pages)
    : pages_(std::move(pages)),
      server_([this](int client, const std::string& path) { Answer(client, path); }) {}

void PageServer::Answer(int client, const std::string& path) const {
  const auto page = pages_.find(path);
  const QByteArray body = page == pages_.end() ? QByteArray("not here") : page->second;
  ombrix_test::SendAll(client, ombrix_test::ResponseHead(page == pages_.end() ? 404 : 200,
                                                         body.size(), "text/html; charset=utf-8") +
                                   body.toStdString());
}

}  // namespace e2e
