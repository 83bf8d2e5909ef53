// How much memory the shell and its web processes hold, read from /proc.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ombrix {

// The resident size in bytes from the text of /proc/PID/statm (its second
// field, in pages); -1 when the text holds none.
int64_t ResidentBytesFromStatm(const std::string& statm, long page_size);

// The resident size of process pid in bytes; 0 when it cannot be read.
int64_t ResidentBytesOf(pid_t pid);

// The engine's web processes among the shell's own children.
std::vector<pid_t> WebProcessesOfShell();

// The resident size of the shell's web processes together.
int64_t WebResidentBytes();

}  // namespace ombrix
