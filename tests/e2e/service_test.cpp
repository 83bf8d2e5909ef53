// The shell under a service manager: what it tells systemd's notify socket
// and its watchdog, and how it ends when its display goes away.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>

#include "fixture.h"

namespace e2e {
namespace {

// A notify socket as systemd opens one: a Unix datagram socket that reads
// each sender's credentials.
class NotifySocket {
 public:
  struct Message {
    pid_t pid;
    std::string text;
  };

  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int one = 1;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        setsockopt(fd_, SOL_SOCKET, SO_PASSCRED, &one, sizeof one) != 0)
      throw std::runtime_error("notify socket");
    reader_ = std::thread([this] { Read(); });
  }

  ~NotifySocket() {
    stop_ = true;
    reader_.join();
    close(fd_);
    unlink(path_.c_str());
  }

  std::vector<Message> messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

  // The index of the first message at or after from holding text; -1 for none.
  int Find(const std::string& text, size_t from = 0) const {
    const std::vector<Message> all = messages();
    for (size_t i = from; i < all.size(); ++i)
      if (all[i].text.find(text) != std::string::npos) return static_cast<int>(i);
    return -1;
  }

  int WaitFind(const std::string& text, size_t from, milliseconds limit) const {
    int found = -1;
    WaitFor([&] { return (found = Find(text, from)) >= 0; }, limit);
    return found;
  }

 private:
  void Read() {
    while (!stop_) {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 50) <= 0) continue;
      char text[4096];
      iovec piece{text, sizeof text};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
      msghdr message{};
      message.msg_iov = &piece;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      const ssize_t length = recvmsg(fd_, &message, MSG_DONTWAIT);
      if (length < 0) continue;
      pid_t pid = -1;
      for (cmsghdr* part = CMSG_FIRSTHDR(&message); part; part = CMSG_NXTHDR(&message, part)) {
        if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_CREDENTIALS) {
          ucred credentials;
          std::memcpy(&credentials, CMSG_DATA(part), sizeof credentials);
          pid = credentials.pid;
        }
      }
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back({pid, std::string(text, static_cast<size_t>(length))});
    }
  }

  std::string path_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
  std::thread reader_;
};

// The shell's children of this name ("comm", at most 15 characters).
std::vector<pid_t> Children(pid_t parent, const std::string& name) {
  std::istringstream found(Run("pgrep -P " + std::to_string(parent) + " " + name));
  std::vector<pid_t> pids;
  for (pid_t pid; found >> pid;) pids.push_back(pid);
  return pids;
}

// A process that has ended (gone, or a zombie nobody has reaped yet).
bool Ended(pid_t pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return true;
  const QByteArray text = stat.readAll();
  const int close = text.lastIndexOf(')');
  return close < 0 || text.mid(close + 2, 1) == "Z";
}

class ServiceTest : public ShellTest {};

TEST_F(ServiceTest, ReadyStatusWatchdogWhileThePageAnswersAndStoppingFromTheShellAlone) {
  const std::string socket_path = (shell_->dir() + "/notify").toStdString();
  NotifySocket notify(socket_path);
  // The page ends the shell when the test leaves exit.flag beside it.
  shell_->WriteFile("web/index.html",
                    TestPage("setInterval(function() {\n"
                             "  if (ombrix.file.exist(ombrix.app.apppath() + '/exit.flag'))\n"
                             "    ombrix.app.exitapp();\n"
                             "}, 100);"));
  QJsonObject manifest = PageManifest("Service");
  manifest["kiosk"] = QJsonObject{{"hang_seconds", 0}};  // not responding, never restarted
  shell_->WriteManifest(manifest);
  // As systemd starts a service: WATCHDOG_PID names the service's own process
  // (the wrapper's pid, which exec keeps for the shell).
  shell_->StartProgram(
      "/bin/sh",
      {"-c", "WATCHDOG_PID=$$; export WATCHDOG_PID; exec \"$0\"", shell_->dir() + "/ombrix"},
      QString(), {"NOTIFY_SOCKET=" + socket_path, "WATCHDOG_USEC=1000000"});
  const pid_t shell = shell_->pid();
  const std::string page = "file://" + shell_->dir().toStdString() + "/web/index.html";

  // Ready once the first page has loaded, with its state and address.
  const int ready = notify.WaitFind("READY=1", 0, milliseconds(30000));
  ASSERT_GE(ready, 0);
  EXPECT_NE(notify.messages()[ready].text.find("STATUS=shown " + page), std::string::npos)
      << notify.messages()[ready].text;
  EXPECT_GE(notify.Find("STATUS=loading " + page), 0);
  EXPECT_LT(notify.Find("STATUS=loading " + page), ready);
  // Fed every half second while the page runs.
  const int fed = notify.WaitFind("WATCHDOG=1", ready, milliseconds(5000));
  ASSERT_GE(fed, 0);
  ASSERT_GE(notify.WaitFind("WATCHDOG=1", fed + 1, milliseconds(5000)), 0);

  // The engine's processes got none of the service manager's variables.
  const std::vector<pid_t> web = Children(shell, "WebKitWebProces");
  ASSERT_FALSE(web.empty());
  for (const char* name : {"WebKitWebProces", "WebKitNetworkPr"}) {
    for (pid_t child : Children(shell, name)) {
      QFile environ(QStringLiteral("/proc/%1/environ").arg(child));
      ASSERT_TRUE(environ.open(QIODevice::ReadOnly));
      const QByteArray variables = environ.readAll();
      EXPECT_FALSE(variables.contains("NOTIFY_SOCKET=")) << name;
      EXPECT_FALSE(variables.contains("WATCHDOG_")) << name;
    }
  }

  // A web process that stops answering: marked, and the watchdog goes hungry.
  for (pid_t child : web) kill(child, SIGSTOP);
  const int stuck = notify.WaitFind("(not responding)", 0, milliseconds(10000));
  EXPECT_GE(stuck, 0);
  const bool fed_while_stuck =
      notify.WaitFind("WATCHDOG=1", stuck + 1, milliseconds(1500)) >= 0;  // three intervals
  for (pid_t child : web) kill(child, SIGCONT);
  ASSERT_GE(stuck, 0);
  EXPECT_FALSE(fed_while_stuck);
  // Answering again: shown, and fed again.
  const int back = notify.WaitFind("STATUS=shown " + page, stuck + 1, milliseconds(10000));
  ASSERT_GE(back, 0);
  EXPECT_EQ(notify.messages()[back].text.find("not responding"), std::string::npos);
  EXPECT_GE(notify.WaitFind("WATCHDOG=1", back + 1, milliseconds(5000)), 0);

  // exitapp: STOPPING=1 is the last word.
  shell_->WriteFile("exit.flag", "");
  EXPECT_EQ(shell_->Wait(milliseconds(10000)), 0);
  const std::vector<NotifySocket::Message> all = notify.messages();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back().text, "STOPPING=1");
  // Every message came from the shell itself, none from a child.
  for (const NotifySocket::Message& message : all) EXPECT_EQ(message.pid, shell) << message.text;
}

TEST_F(ServiceTest, ShellEndsWithItsWebProcessesWhenTheXServerGoes) {
  // The page hangs once it has loaded: its web process cannot notice by itself
  // that the shell is gone.
  shell_->WriteFile("web/index.html", TestPage("save({loaded: true}, 'results.json', function() {\n"
                                               "  setTimeout(function() { for (;;) {} }, 0);\n"
                                               "});"));
  QJsonObject manifest = PageManifest("Display");
  manifest["kiosk"] = QJsonObject{{"hang_seconds", 0}};
  shell_->WriteManifest(manifest);
  shell_->Start();
  ASSERT_FALSE(shell_->WaitForResults().isEmpty());
  const std::vector<pid_t> web = Children(shell_->pid(), "WebKitWebProces");
  ASSERT_FALSE(web.empty());

  // The test's own display: the one Xvfb this test process started.
  const std::vector<pid_t> xvfb = Children(getpid(), "Xvfb");
  ASSERT_EQ(xvfb.size(), 1u);
  const auto killed = Clock::now();
  kill(xvfb.front(), SIGKILL);
  const int status = shell_->Wait(milliseconds(2000));
  const auto ended = Clock::now();
  EXPECT_NE(status, -1000) << "the shell still runs 2 s after its X server ended";
  EXPECT_NE(status, 0);
  EXPECT_TRUE(WaitFor(
      [&] { return std::all_of(web.begin(), web.end(), [](pid_t pid) { return Ended(pid); }); },
      milliseconds(2000)))
      << "a web process outlived the shell";
  std::printf(
      "shell ended %lld ms after its X server\n",
      static_cast<long long>(std::chrono::duration_cast<milliseconds>(ended - killed).count()));
  EXPECT_NE(shell_->Output().find("display lost: " + x_->display()), std::string::npos);
}

}  // namespace
}  // namespace e2e
