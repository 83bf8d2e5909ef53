// ombrix-ipc-send CHANNEL TEXT...
// Sends the texts, joined by single spaces, as one message to a channel.
// On failure prints the status code and exits with 1; usage errors exit 2.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "fastipc/fastipc.h"
#include "fastipc/qx.h"

namespace {

constexpr uint32_t kBlockSize = 1024;

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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ombrix-ipc-send CHANNEL TEXT...\n");
    return 2;
  }
  std::wstring channel;
  try {
    channel = qx::s2w(argv[1]);
  } catch (const std::range_error&) {
    return fail("create", fastipc::kOpenWriteEventFailed);
  }
  const std::string text = joinArguments(argc, argv, 2);
  fastipc::Client client;
  const int created = client.create(channel, kBlockSize);
  if (created != fastipc::kOk) return fail("create", static_cast<uint32_t>(created));
  const uint32_t written = client.write(text.data(), static_cast<uint32_t>(text.size()));
  if (written != fastipc::kOk) return fail("write", written);
  return 0;
}
