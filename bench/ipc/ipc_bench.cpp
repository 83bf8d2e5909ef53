// Hand-over of 1024-byte blocks from a client process to a server process:
// fastipc against a pipe ping-pong (one block, then a one-byte reply: the same
// one-block-at-a-time handshake, the floor) and a Unix-domain stream socket.
//
//   ipc_bench [--quick] [--blocks N] [--strict]
// --strict exits with 1 when fastipc takes more than 1.3 times the pipe's
// time per block.
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fastipc/fastipc.h"
#include "fastipc/qx.h"

namespace {

constexpr uint32_t kBlock = 1024;
constexpr double kTargetRatio = 1.3;
using Clock = std::chrono::steady_clock;

struct Result {
  const char* name;
  double seconds;
  long blocks;
};

bool readFully(int fd, char* buffer, size_t bytes) {
  while (bytes > 0) {
    const ssize_t n = read(fd, buffer, bytes);
    if (n <= 0) return false;
    buffer += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

bool writeFully(int fd, const char* buffer, size_t bytes) {
  while (bytes > 0) {
    const ssize_t n = write(fd, buffer, bytes);
    if (n <= 0) return false;
    buffer += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

bool waitForChild(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class CountingListener : public fastipc::ReadListener {
 public:
  explicit CountingListener(long target) : target_(target) {}
  void onRead(fastipc::MemBlock* block) override {
    bytes_ += block->length;
    if (++count_ == target_) {
      std::lock_guard<std::mutex> lock(mutex_);
      done_.notify_all();
    }
  }
  void waitAll() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return count_.load() >= target_; });
  }

 private:
  long target_;
  std::atomic<long> count_{0};
  long bytes_ = 0;
  std::mutex mutex_;
  std::condition_variable done_;
};

int fastipcClient(const std::wstring& channel, long blocks) {
  fastipc::Client client;
  if (client.create(channel, kBlock) != 0) return 1;
  const std::vector<char> block(kBlock, 'f');
  for (long i = 0; i < blocks; ++i) {
    if (client.write(block.data(), kBlock) != 0) return 1;
  }
  return 0;
}

Result runFastipc(long blocks) {
  // One name for every run: a channel's names outlive it, and runs never overlap.
  const std::wstring channel = L"ombrix-bench-ipc";
  fastipc::Server server;
  if (server.create(channel, kBlock) != 0) return {"fastipc", -1, blocks};
  CountingListener listener(blocks);
  server.setListener(&listener);
  const auto start = Clock::now();
  const pid_t child = fork();  // before the reader thread exists
  if (child == 0) _exit(fastipcClient(channel, blocks));
  std::thread reader([&server] { server.startRead(); });
  listener.waitAll();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  server.close();
  reader.join();
  return {"fastipc", waitForChild(child) ? seconds : -1, blocks};
}

Result runPipePingPong(long blocks) {
  int to_server[2], to_client[2];
  if (pipe(to_server) != 0 || pipe(to_client) != 0) return {"pipe ping-pong", -1, blocks};
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const std::vector<char> block(kBlock, 'p');
    char ack;
    for (long i = 0; i < blocks; ++i) {
      if (!writeFully(to_server[1], block.data(), kBlock) || !readFully(to_client[0], &ack, 1)) {
        _exit(1);
      }
    }
    _exit(0);
  }
  std::vector<char> block(kBlock);
  const char ack = 'k';
  for (long i = 0; i < blocks; ++i) {
    if (!readFully(to_server[0], block.data(), kBlock) || !writeFully(to_client[1], &ack, 1)) break;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (int fd : {to_server[0], to_server[1], to_client[0], to_client[1]}) close(fd);
  return {"pipe ping-pong", waitForChild(child) ? seconds : -1, blocks};
}

Result runUnixStream(long blocks) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return {"unix stream", -1, blocks};
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const std::vector<char> block(kBlock, 'u');
    for (long i = 0; i < blocks; ++i) {
      if (!writeFully(pair[1], block.data(), kBlock)) _exit(1);
    }
    _exit(0);
  }
  std::vector<char> block(kBlock);
  for (long i = 0; i < blocks; ++i) {
    if (!readFully(pair[0], block.data(), kBlock)) break;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  close(pair[0]);
  close(pair[1]);
  return {"unix stream", waitForChild(child) ? seconds : -1, blocks};
}

void print(const Result& r) {
  if (r.seconds <= 0) {
    std::printf("%-16s failed\n", r.name);
    return;
  }
  const double per_block_us = r.seconds * 1e6 / static_cast<double>(r.blocks);
  std::printf("%-16s %9.0f msg/s %8.1f MB/s %7.2f us/block\n", r.name,
              static_cast<double>(r.blocks) / r.seconds,
              static_cast<double>(r.blocks) * kBlock / r.seconds / 1e6, per_block_us);
}

}  // namespace

int main(int argc, char** argv) {
  long blocks = 100000;
  bool strict = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) blocks = 2000;
    if (std::strcmp(argv[i], "--strict") == 0) strict = true;
    if (std::strcmp(argv[i], "--blocks") == 0 && i + 1 < argc) blocks = std::atol(argv[++i]);
  }
  if (blocks <= 0) blocks = 1;
  std::printf("%ld blocks of %u bytes, client process to server process\n", blocks, kBlock);
  const Result ipc = runFastipc(blocks);
  const Result pipe_pp = runPipePingPong(blocks);
  const Result stream = runUnixStream(blocks);
  for (const Result& r : {ipc, pipe_pp, stream}) print(r);
  if (ipc.seconds <= 0 || pipe_pp.seconds <= 0 || stream.seconds <= 0) return 1;
  const double ratio = ipc.seconds / pipe_pp.seconds;
  std::printf("ratio fastipc / pipe ping-pong per block: %.2f (target <= %.1f: %s)\n", ratio,
              kTargetRatio, ratio <= kTargetRatio ? "met" : "missed");
  std::fflush(stdout);
  return strict && ratio > kTargetRatio ? 1 : 0;
}
