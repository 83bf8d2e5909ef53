#include "device/fpj_port_thread.h"

namespace fpj {

PortThread::PortThread() {
  setObjectName(QStringLiteral("fpj-port"));
  start();
}

PortThread::~PortThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  wait();
}

void PortThread::Post(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

// The next job, or an empty function once stopping with nothing queued.
std::function<void()> PortThread::Take() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
  if (jobs_.empty()) return {};
  std::function<void()> job = std::move(jobs_.front());
  jobs_.pop_front();
  return job;
}

void PortThread::run() {
  while (std::function<void()> job = Take()) job();
}

}  // namespace fpj
