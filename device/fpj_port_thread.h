// One QThread that runs jobs handed to it by other threads, one at a time.
// Qt's serial port belongs to the thread that made it and needs a thread
// started by QThread, so every use of the dispenser port goes through here.
// No event loop runs: jobs use blocking waits.
#pragma once

#include <QThread>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>

namespace fpj {

class PortThread : public QThread {
 public:
  PortThread();
  ~PortThread() override;  // runs the queued jobs, then stops the thread

  PortThread(const PortThread&) = delete;
  PortThread& operator=(const PortThread&) = delete;

  // Runs `job` on this thread and returns its result; the caller blocks until
  // then. Called on this thread itself, the job runs at once.
  template <class Job>
  auto Call(Job job) -> decltype(job()) {
    using Result = decltype(job());
    if (QThread::currentThread() == this) return job();
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(job));
    std::future<Result> result = task->get_future();
    Post([task] { (*task)(); });
    return result.get();
  }

 protected:
  void run() override;

 private:
  void Post(std::function<void()> job);
  std::function<void()> Take();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
};

}  // namespace fpj
