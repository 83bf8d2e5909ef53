// Child processes for the channel tests: start, read a line, wait, kill.
#ifndef TESTS_FASTIPC_TEST_PROCESSES_H_
#define TESTS_FASTIPC_TEST_PROCESSES_H_

#include <sys/types.h>

#include <string>
#include <vector>

struct Child {
  pid_t pid = -1;
  int out = -1;  // read end of the child's stdout
};

// Starts `argv` with its stdout (and with `with_stderr` its stderr too) on a pipe.
Child startChild(const std::vector<std::string>& argv, bool with_stderr = false);
// Reads the child's stdout up to a newline or `timeout_ms`; the line without it.
std::string readLine(const Child& child, int timeout_ms);
// Reads the child's stdout until it closes or `timeout_ms` passes.
std::string readAll(const Child& child, int timeout_ms);
// Waits for the child; its exit code, 128 + signal, or -1 after `timeout_ms`
// (the child is then killed).
int waitChild(Child* child, int timeout_ms);
void killChild(Child* child, int signal_number);

// Runs `argv` to its end and returns its exit code.
int runChild(const std::vector<std::string>& argv, int timeout_ms = 20000);

// A channel name no other test or test run uses. A channel's names outlive
// its servers; those of every name handed out are removed when the test
// program ends.
std::string uniqueChannel(const std::string& tag);
// Removes the channel's three names.
void removeChannelNames(const std::string& channel);

#endif  // TESTS_FASTIPC_TEST_PROCESSES_H_
