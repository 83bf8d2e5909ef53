// End-to-end harness: a private X display with a window manager, a copy of the
// built shell in a temporary folder, and the X tools that tell what a user sees.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "loopback_server.h"

namespace e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Runs a shell command and returns its standard output.
std::string Run(const std::string& command);

// Polls condition every 25 ms until it holds or limit passes.
bool WaitFor(const std::function<bool()>& condition, milliseconds limit);

// Xvfb (its own display number) with openbox and, on request, a tint2 panel.
class XServer {
 public:
  explicit XServer(bool with_panel = false, int width = 1280, int height = 1024);
  ~XServer();
  const std::string& display() const { return display_; }
  std::string X(const std::string& command) const;  // command with DISPLAY set
  // Left, top, width and height of the work area, as the window manager tells it.
  std::vector<int> WorkArea() const;
  void Screenshot(const std::string& path) const;

 private:
  // Starts program on this display until it is ready (or has ended three times).
  pid_t StartUntil(const std::string& program, const std::function<bool()>& ready) const;

  pid_t xvfb_ = -1;
  pid_t wm_ = -1;
  pid_t panel_ = -1;
  std::string display_;
};

struct Geometry {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool viewable = false;
};

// The shell copied into a temporary folder with its manifest and pages.
class Shell {
 public:
  // copy_built_shell false: the folder starts empty (an app folder for a shell
  // installed elsewhere, started with StartProgram).
  explicit Shell(const XServer& x, bool copy_built_shell = true);
  ~Shell();

  QString dir() const { return dir_.path(); }
  void WriteFile(const QString& relative_path, const QByteArray& content) const;
  void WriteManifest(const QJsonObject& manifest, const QString& name = "ombrix.json") const;

  // Starts the shell with these arguments, from working directory cwd (empty: /).
  void Start(const QStringList& args = {}, const QString& cwd = QString());
  // Starts program (a path) instead of the copy, with extra "NAME=value" entries
  // in its environment.
  void StartProgram(const QString& program, const QStringList& args, const QString& cwd,
                    const std::vector<std::string>& extra_env);
  // Waits for the shell to end; returns the exit status, or -1000 on time-out.
  int Wait(milliseconds limit = milliseconds(30000));
  bool Running();
  pid_t pid() const { return pid_; }
  // The shell's own session bus, for tools that talk to it.
  const std::string& bus_address() const { return bus_address_; }
  void Kill();
  std::string Output() const;  // standard output and error so far

  // The shell's top-level window with this title; 0 while there is none.
  unsigned long FindWindow(const std::string& title, bool only_visible) const;
  unsigned long WaitForWindow(const std::string& title, milliseconds limit = milliseconds(30000));
  Geometry GetGeometry(unsigned long window) const;
  std::string Property(unsigned long window, const std::string& name) const;

  // The JSON object a test page wrote to results.json with ombrix.file.write.
  QJsonObject WaitForResults(milliseconds limit = milliseconds(30000),
                             const QString& name = "results.json");

 private:
  const XServer& x_;
  QTemporaryDir dir_;
  pid_t pid_ = -1;
  int status_ = -1;
  void StartBus();
  pid_t bus_pid_ = -1;  // the shell's own session bus (the leader of its process group)
  std::string bus_address_;
};

// A program the test starts (a server, a daemon) in a process group of its
// own, with extra "NAME=value" environment entries and its output in log;
// it and what it started end with the object.
class Background {
 public:
  Background(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& log);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

 private:
  pid_t pid_ = -1;
};

// An HTTP server on loopback that holds every answer until Release().
class SlowServer {
 public:
  explicit SlowServer(QByteArray body, QByteArray type = "application/javascript");
  ~SlowServer() { Release(); }
  int port() const { return server_.port(); }
  bool asked() const { return asked_; }
  void Release() { released_ = true; }

 private:
  void Answer(int client);
  QByteArray body_;
  QByteArray type_;
  std::atomic<bool> asked_{false};
  std::atomic<bool> released_{false};
  ombrix_test::LoopbackServer server_;  // last: it ends first, while the rest still stands
};

// An HTTP server on loopback that answers GET of each path with its page (404
// for others).
class PageServer {
 public:
  explicit PageServer(std::map<std::string, QByteArray> pages);
  int port() const { return server_.port(); }

 private:
  void Answer(int client, const std::string& path) const;
  std::map<std::string, QByteArray> pages_;
  ombrix_test::LoopbackServer server_;
};

}  // namespace e2e
