#include "util/path_order.h"

#include <QDir>
#include <QFileInfo>

namespace ombrix {

PathOrder& PathOrder::Get() {
  static auto* order = new PathOrder;  // worker threads may outlive static destruction
  return *order;
}

PathOrder::Ticket PathOrder::Enter(const QStringList& keys) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Ticket ticket = next_++;
  QStringList unique = keys;
  unique.removeDuplicates();
  for (const QString& key : unique) queues_[key].push_back(ticket);
  keys_of_[ticket] = unique;
  return ticket;
}

bool PathOrder::IsFirst(Ticket ticket) const {
  const auto keys = keys_of_.find(ticket);
  if (keys == keys_of_.end()) return true;
  for (const QString& key : keys->second) {
    const auto queue = queues_.find(key);
    if (queue != queues_.end() && queue->second.front() != ticket) return false;
  }
  return true;
}

void PathOrder::WaitTurn(Ticket ticket) {
  std::unique_lock<std::mutex> lock(mutex_);
  turn_.wait(lock, [&] { return IsFirst(ticket); });
}

void PathOrder::Leave(Ticket ticket) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto keys = keys_of_.find(ticket);
    if (keys == keys_of_.end()) return;
    for (const QString& key : keys->second) {
      std::deque<Ticket>& queue = queues_[key];
      for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (*it == ticket) {
          queue.erase(it);
          break;
        }
      }
      if (queue.empty()) queues_.erase(key);
    }
    keys_of_.erase(keys);
  }
  turn_.notify_all();
}

QString PathKey(const QString& path) {
  const QFileInfo file(path);
  const QString canonical = file.canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(file.absoluteFilePath()) : canonical;
}

PathTurn::PathTurn(const QStringList& paths) {
  QStringList keys;
  for (const QString& path : paths) keys << PathKey(path);
  ticket_ = PathOrder::Get().Enter(keys);
}

PathTurn::~PathTurn() { PathOrder::Get().Leave(ticket_); }

}  // namespace ombrix
