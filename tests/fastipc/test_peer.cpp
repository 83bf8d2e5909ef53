// Peer process for the channel tests.
//   send CHANNEL SIZE COUNT FILL   COUNT messages of SIZE bytes of FILL
//   claim CHANNEL                  claims the block like a writer, then hangs
//   serve CHANNEL                  creates a server, then hangs
// Prints "ready" once set up; exits with the first failing status.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fastipc/fastipc.h"
#include "fastipc/qx.h"

namespace {

void ready() {
  std::printf("ready\n");
  std::fflush(stdout);
}

int sendMessages(const std::string& channel, uint32_t size, int count, char fill) {
  fastipc::Client client;
  const int created = client.create(qx::s2w(channel), 1024);
  if (created != 0) return created;
  const std::string message(size, fill);
  for (int i = 0; i < count; ++i) {
    const uint32_t status = client.write(message.data(), size);
    if (status != 0) return static_cast<int>(status);
  }
  return 0;
}

// Takes the block from free to claimed the way a writer does, so that being
// killed now leaves it as a writer dying mid-block would.
int claimBlock(const std::string& channel) {
  const int fd = shm_open(("/" + channel + "_m").c_str(), O_RDWR, 0);
  if (fd < 0) return 302;
  void* view = mmap(nullptr, fastipc::kBlockOverhead, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) return 303;
  int32_t expected = 0;
  if (!__atomic_compare_exchange_n(static_cast<int32_t*>(view), &expected, 2, false,
                                   __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
    return 205;
  }
  ready();
  for (;;) pause();
}

int serve(const std::string& channel) {
  static fastipc::Server server;  // never closed: the process is killed
  const int created = server.create(qx::s2w(channel), 1024);
  if (created != 0) return created;
  ready();
  for (;;) pause();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "send") == 0) {
    return sendMessages(argv[2], static_cast<uint32_t>(std::atoi(argv[3])), std::atoi(argv[4]),
                        argv[5][0]);
  }
  if (argc == 3 && std::strcmp(argv[1], "claim") == 0) return claimBlock(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "serve") == 0) return serve(argv[2]);
  std::fprintf(stderr, "usage: fastipc_test_peer send|claim|serve CHANNEL ...\n");
  return 2;
}
