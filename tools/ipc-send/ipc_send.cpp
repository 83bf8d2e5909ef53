// ombrix-ipc-send [--timeout SECONDS] CHANNEL TEXT...
// Sends the texts, joined by single spaces, as one message to a channel.
// Fails at once when nobody reads the channel, and gives up when its reader
// takes no block within SECONDS (default 5). On failure prints the status code
// on stdout and the reason on stderr and exits with 1; usage errors exit 2.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "fastipc/fastipc.h"
#include "fastipc/qx.h"

namespace {

constexpr uint32_t kBlockSize = 1024;
constexpr double kDefaultTimeoutSeconds = 5;
// Longer limits than this are taken as this (about 24 days of milliseconds).
constexpr double kMaxTimeoutSeconds = 2000000;

const char kUsage[] =
    "usage: ombrix-ipc-send [--timeout SECONDS] CHANNEL TEXT...\n"
    "Sends the texts, joined by single spaces, as one message to CHANNEL.\n"
    "  --timeout SECONDS  give up when the reader takes no part of the message\n"
    "                     within SECONDS (default 5; 0 waits as long as a reader\n"
    "                     is there). A channel whose reader is gone fails at once.\n"
    "Exits 0 when the message was handed over, 1 when it was not, 2 on a usage error.\n";

struct Options {
  double timeout_seconds = kDefaultTimeoutSeconds;
  int first = 0;  // index of CHANNEL in argv
};

bool parseSeconds(const char* text, double* seconds) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value) || value < 0) return false;
  *seconds = std::min(value, kMaxTimeoutSeconds);
  return true;
}

// Options come before CHANNEL; "--" ends them. Returns 0 to go on, otherwise
// the exit code.
int parseOptions(int argc, char** argv, Options* options) {
  int i = 1;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return -1;
    }
    if (std::strcmp(argv[i], "--timeout") == 0) {
      if (i + 1 >= argc || !parseSeconds(argv[i + 1], &options->timeout_seconds)) return 2;
      ++i;
    } else if (std::strcmp(argv[i], "--") == 0) {
      ++i;
      break;
    } else {
      break;
    }
  }
  if (i >= argc) return 2;
  options->first = i;
  return 0;
}

std::string joinArguments(int argc, char** argv, int first) {
  std::string text;
  for (int i = first; i < argc; ++i) {
    if (i > first) text += ' ';
    text += argv[i];
  }
  return text;
}

int fail(const char* step, uint32_t status) {
  std::printf("ombrix-ipc-send: %s failed with status %u\n", step, status);
  return 1;
}

void explainCreate(const char* channel, int status) {
  if (status == fastipc::kMapViewFailed) {
    std::fprintf(stderr, "ombrix-ipc-send: the block of channel %s is smaller than %u bytes\n",
                 channel, kBlockSize);
  } else {
    std::fprintf(stderr, "ombrix-ipc-send: no reader has created channel %s\n", channel);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int parsed = parseOptions(argc, argv, &options);
  if (parsed < 0) return 0;
  if (parsed > 0) {
    std::fputs(kUsage, stderr);
    return parsed;
  }
  const char* name = argv[options.first];
  std::wstring channel;
  try {
    channel = qx::s2w(name);
  } catch (const std::range_error&) {
    std::fprintf(stderr, "ombrix-ipc-send: the channel name is not valid UTF-8\n");
    return fail("create", fastipc::kOpenWriteEventFailed);
  }
  const std::string text = joinArguments(argc, argv, options.first + 1);
  fastipc::Client client;
  const int created = client.create(channel, kBlockSize);
  if (created != fastipc::kOk) {
    explainCreate(name, created);
    return fail("create", static_cast<uint32_t>(created));
  }
  // The limit is per block, so a slow reader that keeps taking blocks still
  // gets a long message whole.
  client.setBlockTimeout(static_cast<int>(std::ceil(options.timeout_seconds * 1000)));
  const uint32_t written = client.write(text.data(), static_cast<uint32_t>(text.size()));
  if (written == fastipc::kWaitFailed) {
    if (!client.hasReader()) {
      std::fprintf(stderr, "ombrix-ipc-send: no reader is listening on channel %s\n", name);
    } else {
      std::fprintf(
          stderr,
          "ombrix-ipc-send: the reader of channel %s did not take the message within %g s\n", name,
          options.timeout_seconds);
    }
  }
  if (written != fastipc::kOk) return fail("write", written);
  return 0;
}
