// An auto-reset event made of a POSIX named semaphore. A semaphore counts
// every post where an event holds one wake, so set() posts only while the
// count is zero; callers still treat every wake as a hint and check the block.
#ifndef FASTIPC_NAMED_EVENT_H_
#define FASTIPC_NAMED_EVENT_H_

#include <semaphore.h>

#include <string>

namespace fastipc {

class NamedEvent {
 public:
  enum class Wait { kSignalled, kTimedOut, kFailed };

  NamedEvent() = default;
  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  // Opens the semaphore `name`, creating it (count 0) when `create` is set.
  bool open(const std::string& name, bool create);
  void set();
  // Waits up to `timeout_ms`; an interrupted wait counts as timed out.
  Wait wait(int timeout_ms);
  void close();
  bool valid() const { return sem_ != nullptr; }

 private:
  sem_t* sem_ = nullptr;
};

}  // namespace fastipc

#endif  // FASTIPC_NAMED_EVENT_H_
