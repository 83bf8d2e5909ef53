// ombrix-ipc-listen CHANNEL [--count N]
// Creates a channel and prints each message that arrives, joined from its
// pieces, one per line. Stops after N messages or on SIGINT/SIGTERM, closing
// the channel so that its names are removed.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "fastipc/fastipc.h"
#include "fastipc/qx.h"

namespace {

constexpr uint32_t kBlockSize = 1024;

struct Options {
  std::string channel;
  long count = 0;  // 0: until a signal
};

bool parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) {
      options->count = std::strtol(argv[++i], nullptr, 10);
      if (options->count <= 0) return false;
    } else if (options->channel.empty() && argv[i][0] != '\0') {
      options->channel = argv[i];
    } else {
      return false;
    }
  }
  return !options->channel.empty();
}

class PrintingListener : public fastipc::ReadListener {
 public:
  explicit PrintingListener(long count) : remaining_(count) {}
  void onRead(fastipc::MemBlock* block) override {
    std::string message;
    if (!assembler_.add(*block, &message)) return;
    std::fwrite(message.data(), 1, message.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (remaining_ > 0 && --remaining_ == 0) kill(getpid(), SIGUSR1);  // wakes main
  }

 private:
  fastipc::MessageAssembler assembler_;
  long remaining_;
};

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: ombrix-ipc-listen CHANNEL [--count N]\n");
    return 2;
  }
  // The signals are taken by sigwait below, never by a handler, so that the
  // server is closed on an ordinary thread.
  const sigset_t signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  fastipc::Server server;
  int status;
  try {
    status = server.create(qx::s2w(options.channel), kBlockSize);
  } catch (const std::range_error&) {
    status = fastipc::kCreateWriteEventFailed;
  }
  if (status != fastipc::kOk) {
    std::printf("ombrix-ipc-listen: create failed with status %d\n", status);
    return 1;
  }
  PrintingListener listener(options.count);
  server.setListener(&listener);
  std::thread reader([&server] { server.startRead(); });
  std::fprintf(stderr, "listening on %s\n", options.channel.c_str());

  int signal_number = 0;
  sigwait(&signals, &signal_number);
  server.close();
  reader.join();
  return 0;
}
