#include "named_event.h"

#include <errno.h>
#include <fcntl.h>
#include <time.h>

namespace fastipc {

NamedEvent::~NamedEvent() { close(); }

bool NamedEvent::open(const std::string& name, bool create) {
  close();
  sem_t* sem = create ? sem_open(name.c_str(), O_CREAT, 0600, 0) : sem_open(name.c_str(), 0);
  if (sem == SEM_FAILED) return false;
  sem_ = sem;
  return true;
}

void NamedEvent::set() {
  int count = 0;
  if (sem_getvalue(sem_, &count) == 0 && count > 0) return;
  sem_post(sem_);
}

NamedEvent::Wait NamedEvent::wait(int timeout_ms) {
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeout_ms / 1000;
  deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  if (sem_clockwait(sem_, CLOCK_MONOTONIC, &deadline) == 0) return Wait::kSignalled;
  return errno == ETIMEDOUT || errno == EINTR ? Wait::kTimedOut : Wait::kFailed;
}

void NamedEvent::close() {
  sem_t* sem = sem_;
  sem_ = nullptr;
  if (sem != nullptr) sem_close(sem);
}

}  // namespace fastipc
