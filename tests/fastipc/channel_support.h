// What the channel tests and the tools' tests share: a server reading on its
// own thread, what it collected, the channel's names and a bounded wait.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fastipc/fastipc.h"
#include "fastipc/qx.h"
#include "gtest/gtest.h"
#include "test_processes.h"

namespace channel_support {

using fastipc::MemBlock;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr uint32_t kBlock = 1024;

class Collector : public fastipc::ReadListener {
 public:
  void onRead(MemBlock* block) override {
    size_t count;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      blocks_.push_back(*block);
      count = blocks_.size();
    }
    changed_.notify_all();
    if (on_block_) on_block_(count);
  }
  bool waitFor(size_t count, int timeout_ms = 10000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, milliseconds(timeout_ms),
                             [&] { return blocks_.size() >= count; });
  }
  std::vector<MemBlock> blocks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_;
  }
  std::function<void(size_t)> on_block_;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<MemBlock> blocks_;
};

// A server reading on its own thread for the length of a test.
struct RunningServer {
  explicit RunningServer(const std::string& channel, uint32_t size = kBlock) {
    status = server.create(qx::s2w(channel), size);
    server.setListener(&collector);
    if (status == 0) {
      reader = std::thread([this] {
        reader_tid = gettid();
        server.startRead();
      });
    }
  }
  ~RunningServer() { stop(); }
  void stop() {
    server.close();
    if (reader.joinable()) reader.join();
  }
  fastipc::Server server;
  Collector collector;
  std::thread reader;
  std::atomic<pid_t> reader_tid{0};
  int status;
};

inline int sendText(const std::string& channel, const std::string& text) {
  return runChild({IPC_SEND_PATH, channel, text});
}

inline bool namesExist(const std::string& channel) {
  return access(("/dev/shm/" + channel + "_m").c_str(), F_OK) == 0 &&
         access(("/dev/shm/sem." + channel + "_w").c_str(), F_OK) == 0 &&
         access(("/dev/shm/sem." + channel + "_r").c_str(), F_OK) == 0;
}

inline bool eventually(const std::function<bool()>& condition, int timeout_ms = 5000) {
  const auto deadline = steady_clock::now() + milliseconds(timeout_ms);
  while (!condition()) {
    if (steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

}  // namespace channel_support
