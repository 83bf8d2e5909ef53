// ombrix-ipc-listen CHANNEL [--count N] [--timeout SECONDS]
// Creates a channel and prints each message that arrives, joined from its
// pieces, one per line. Stops after N messages or on SIGINT/SIGTERM, closing
// its reader; the channel's names stay, so a writer that keeps the channel
// open reaches the next reader of that name. Gives up (exit 1) when the
// channel cannot be created within SECONDS (default 5), for example while
// another process holds it locked.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "fastipc/fastipc.h"
#include "fastipc/qx.h"

namespace {

constexpr uint32_t kBlockSize = 1024;
constexpr double kDefaultTimeoutSeconds = 5;
constexpr double kMaxTimeoutSeconds = 2000000;

const char kUsage[] =
    "usage: ombrix-ipc-listen CHANNEL [--count N] [--timeout SECONDS]\n"
    "Creates CHANNEL and prints each message that arrives, one per line.\n"
    "  --count N          stop after N messages (default: until SIGINT or SIGTERM)\n"
    "  --timeout SECONDS  give up when the channel cannot be created within SECONDS,\n"
    "                     for example while another process holds it locked\n"
    "                     (default 5; 0 waits without limit)\n"
    "Exits 0 when stopped, 1 when the channel could not be created, 2 on a usage error.\n";

struct Options {
  std::string channel;
  long count = 0;  // 0: until a signal
  double timeout_seconds = kDefaultTimeoutSeconds;
  bool help = false;
};

bool parseSeconds(const char* text, double* seconds) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value) || value < 0) return false;
  *seconds = std::min(value, kMaxTimeoutSeconds);
  return true;
}

bool parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      options->help = true;
      return true;
    } else if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) {
      options->count = std::strtol(argv[++i], nullptr, 10);
      if (options->count <= 0) return false;
    } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
      if (!parseSeconds(argv[++i], &options->timeout_seconds)) return false;
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

// Creates the channel on a thread of its own, so that a channel another
// process holds locked costs at most the limit. Returns false when the limit
// passed first; the creating thread is then still blocked and the process
// must end without waiting for it.
bool createWithin(fastipc::Server* server, const std::string& channel, double seconds,
                  int* status) {
  struct Outcome {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int status = 0;
  };
  auto outcome = std::make_shared<Outcome>();
  std::thread creator([server, channel, outcome] {
    int result;
    try {
      result = server->create(qx::s2w(channel), kBlockSize);
    } catch (const std::range_error&) {
      result = fastipc::kCreateWriteEventFailed;
    }
    std::lock_guard<std::mutex> lock(outcome->mutex);
    outcome->status = result;
    outcome->finished = true;
    outcome->done.notify_all();
  });
  std::unique_lock<std::mutex> lock(outcome->mutex);
  const auto finished = [&outcome] { return outcome->finished; };
  if (seconds > 0) {
    outcome->done.wait_for(lock, std::chrono::duration<double>(seconds), finished);
  } else {
    outcome->done.wait(lock, finished);
  }
  if (!outcome->finished) {
    creator.detach();
    return false;
  }
  lock.unlock();
  creator.join();
  *status = outcome->status;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // The signals are taken by sigwait below, never by a handler, so that the
  // server is closed on an ordinary thread.
  const sigset_t signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  fastipc::Server server;
  int status = fastipc::kOk;
  if (!createWithin(&server, options.channel, options.timeout_seconds, &status)) {
    // The creating thread still uses the server: end without unwinding.
    std::fprintf(stderr,
                 "ombrix-ipc-listen: could not create channel %s within %g s: it is held by "
                 "another process\n",
                 options.channel.c_str(), options.timeout_seconds);
    std::_Exit(1);
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
