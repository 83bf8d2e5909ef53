// Real programs started and waited for; the command-line splitting they get.
#include <gtest/gtest.h>
#include <signal.h>

#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "util/util_win.h"

namespace ombrix {
namespace {

using Clock = std::chrono::steady_clock;

// The program id written to file, waited for up to ten seconds; 0 when none came.
pid_t WaitForPid(const QString& path) {
  const auto limit = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < limit) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
      const pid_t pid = pid_t(file.readAll().trimmed().toInt());
      if (pid > 0) return pid;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}

// Kills the program when the test ends, however it ends.
struct KillAtEnd {
  pid_t pid = 0;
  ~KillAtEnd() {
    if (pid > 0) kill(pid, SIGKILL);
  }
};

TEST(CommandLine, SplitsAsQtDoes) {
  EXPECT_EQ(SplitCommandLine("prog  a \"b c\" d\"e f\""),
            (QStringList{"prog", "a", "b c", "de f"}));
  EXPECT_EQ(SplitCommandLine("say \"\"\"hi\"\"\""), (QStringList{"say", "\"hi\""}));
  EXPECT_EQ(SplitCommandLine("open \"unbalanced rest"), (QStringList{"open", "unbalanced rest"}));
  EXPECT_TRUE(SplitCommandLine("   ").isEmpty());
}

TEST(RunAndWait, ReportsExitCodesSignalsFoldersAndFailures) {
  int code = -1;
  EXPECT_TRUE(RunAndWait("sh -c \"exit 3\"", "", &code));
  EXPECT_EQ(code, 3);
  EXPECT_TRUE(RunAndWait("sh -c \"kill -9 $$\"", "", &code));
  EXPECT_EQ(code, 128 + 9);
  EXPECT_TRUE(RunAndWait("sh -c \"test $(pwd) = /usr/share\"", "/usr/share", &code));
  EXPECT_EQ(code, 0);

  testing::internal::CaptureStdout();
  code = 0;
  EXPECT_FALSE(RunAndWait("/nonexistent/program arg", "", &code));
  EXPECT_FALSE(RunAndWait("true", "/nonexistent/folder", &code));
  EXPECT_FALSE(RunAndWait(QString("tr") + QChar(0) + "ue", "", &code));
  EXPECT_FALSE(RunAndWait("true", QString("/usr") + QChar(0) + "/nonexistent", &code));
  EXPECT_FALSE(RunAndWait("echo " + QString(1 << 20, 'x'), "", &code));
  EXPECT_FALSE(RunAndWait("", "", &code));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "CreateProcess failed (2).\nCreateProcess failed (2).\nCreateProcess failed (22).\n"
            "CreateProcess failed (22).\nCreateProcess failed (7).\nCreateProcess failed (2).\n");
  EXPECT_EQ(code, 0);
}

TEST(RunAndWait, GivesUpWhenTheCallerStopsWaitingAndLeavesTheProgramRunning) {
  QTemporaryDir dir;
  const QString pid_file = dir.path() + "/pid";
  int polls = 0;
  const auto start = Clock::now();
  EXPECT_FALSE(RunAndWait("sh -c \"echo $$ > " + pid_file + "; exec sleep 60\"", "", nullptr,
                          [&] { return ++polls < 10; }));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  KillAtEnd program{WaitForPid(pid_file)};
  ASSERT_GT(program.pid, 0);
  EXPECT_EQ(kill(program.pid, 0), 0);  // still running
}

TEST(RunAndWaitWithChild, WaitsForTheChildOfALauncherThatEndedAtOnce) {
  QTemporaryDir dir;
  const QString marker = dir.path() + "/child-done";
  const QString launcher = dir.path() + "/launcher.sh";
  QFile script(launcher);
  ASSERT_TRUE(script.open(QIODevice::WriteOnly));
  // The child outlives its launcher and is re-parented before it ends.
  script.write("#!/bin/sh\n(sleep 1; touch \"$1\") &\nexit 5\n");
  script.close();
  script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  int code = -1;
  EXPECT_TRUE(RunAndWaitWithChild(launcher + " " + marker, 100, &code));
  EXPECT_EQ(code, 5);
  EXPECT_TRUE(QFile::exists(marker));
  EXPECT_EQ(FindChildProcess(999999), 0);
}

}  // namespace
}  // namespace ombrix
