// File operations that name the same file take effect in the order they were
// asked for, whichever thread carries each out. An operation takes its place
// for every file it names when it is asked for (on the page's thread, in call
// order), waits on its own thread until every earlier operation on those files
// is done, and leaves when it is done itself.
#pragma once

#include <QString>
#include <QStringList>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

namespace ombrix {

class PathOrder {
 public:
  using Ticket = std::uint64_t;

  // The one order of the process (every frame of every page in it).
  static PathOrder& Get();

  // Takes the next place for each of keys (see PathKey).
  Ticket Enter(const QStringList& keys);
  // Blocks until ticket is the first for each of its keys.
  void WaitTurn(Ticket ticket);
  // Gives ticket's places up (also when it never waited), letting the next go.
  void Leave(Ticket ticket);

 private:
  bool IsFirst(Ticket ticket) const;

  std::mutex mutex_;
  std::condition_variable turn_;
  Ticket next_ = 1;
  std::map<QString, std::deque<Ticket>> queues_;
  std::map<Ticket, QStringList> keys_of_;
};

// The key of the file path names: the file links lead to when it exists,
// else its absolute, cleaned path.
QString PathKey(const QString& path);

// Holds a place in the order from its making until it goes.
class PathTurn {
 public:
  explicit PathTurn(const QStringList& paths);
  ~PathTurn();
  PathTurn(const PathTurn&) = delete;
  PathTurn& operator=(const PathTurn&) = delete;
  void Wait() { PathOrder::Get().WaitTurn(ticket_); }

 private:
  PathOrder::Ticket ticket_;
};

}  // namespace ombrix
