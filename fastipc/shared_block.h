// The shared memory object "/N_m" holding the block, plus two advisory locks
// the kernel drops when their holder dies:
// - a flock() by which servers sharing one channel know whether they are
//   alone on it. A server holds a shared lock while it runs; the object and
//   its name stay when the last one closes or dies.
// - the reader mark, a read lock (an open-file-description lock) on one byte
//   far beyond the block, held by every open server. A writer asks for it once
//   per message without taking it, so a channel whose readers are gone fails
//   at once instead of taking a message nobody will read.
#ifndef FASTIPC_SHARED_BLOCK_H_
#define FASTIPC_SHARED_BLOCK_H_

#include <cstddef>
#include <string>

namespace fastipc {

class SharedBlock {
 public:
  SharedBlock() = default;
  ~SharedBlock();
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;

  // Server side: opens or creates `name` and locks it. Sets *alone when no
  // other live server holds the channel. The object is kept at least `bytes`
  // long with its space reserved. When alone, the lock stays exclusive until
  // shareLock().
  bool openForServer(const std::string& name, size_t bytes, bool* alone);
  // Turns the server's lock into a shared one, letting other servers join.
  void shareLock();
  // Server side: takes the reader mark; it goes when the object is closed.
  bool markReader();
  // Client side: true when some process holds the reader mark (or when the
  // kernel cannot tell, so that such a system works as before).
  bool readerPresent() const;
  // Client side: opens an existing object; fails when it is missing.
  bool openExisting(const std::string& name);
  // Maps `bytes` from offset 0; fails when the object is shorter.
  unsigned char* map(size_t bytes);
  void close();
  bool valid() const { return fd_ >= 0; }

 private:
  bool lockForServer(const std::string& name, bool* alone);
  bool stillNamed(const std::string& name) const;
  bool reserve(size_t bytes);
  int fd_ = -1;
  unsigned char* view_ = nullptr;
  size_t view_bytes_ = 0;
};

}  // namespace fastipc

#endif  // FASTIPC_SHARED_BLOCK_H_
