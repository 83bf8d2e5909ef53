#include <errno.h>

#include <QDebug>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

#include "block_layout.h"
#include "channel_names.h"
#include "fastipc/fastipc.h"
#include "named_event.h"
#include "shared_block.h"

namespace fastipc {

namespace {
// Waits are cut into slices so that the loop also notices a full block whose
// wake went to another reader of the same channel, and a close whose wake was
// taken by one.
constexpr int kWaitSliceMs = 100;
}  // namespace

struct Server::Impl {
  NamedEvent write_event;
  NamedEvent read_event;
  SharedBlock mapping;
  std::atomic<unsigned char*> view{nullptr};
  ReadListener* listener = nullptr;
  uint32_t size = 0;
  std::string names[3];

  std::mutex mutex;
  std::condition_variable reader_left;
  bool reading = false;
  bool holding_block = false;  // the reader has taken the block and not released it yet
  // Since when the block has been seen claimed by a writer with the same bytes.
  std::chrono::steady_clock::time_point stuck_since;
  uint64_t stuck_sum = 0;
  // The claim was there when this server took the channel over alone.
  bool left_claim = false;
  std::thread::id reader;
  std::atomic<bool> closing{false};
  // Counts closes, so that a read loop whose listener closed (and perhaps
  // created) the server again ends without touching the new block.
  std::atomic<uint64_t> generation{0};

  int create(const std::wstring& name, uint32_t block_size);
  void takeOver(unsigned char* mapped);
  uint64_t blockSum(const unsigned char* mapped) const;
  bool beginReading();
  void watchForStuckClaim();
  void endReading();
  void readLoop();
  void deliverBlock();
  void releaseBlock();
  void close();
  void releaseAll();
};

int Server::Impl::create(const std::wstring& name, uint32_t block_size) {
  if (!posixObjectName(genWritedEventName(name), &names[0])) return kCreateWriteEventFailed;
  if (!posixObjectName(genReadedEventName(name), &names[1])) return kCreateReadEventFailed;
  if (!posixObjectName(genMappingFileName(name), &names[2])) return kCreateMappingFailed;
  const size_t bytes = layout::blockBytes(block_size);
  stuck_since = std::chrono::steady_clock::time_point();
  left_claim = false;
  bool alone = false;
  // The mapping is opened first: its lock tells whether this server is the
  // only one on the channel, so that a live block is never wiped.
  const bool mapping_ok = mapping.openForServer(names[2], bytes, &alone);
  // Marked before the events exist, so that a writer able to open the whole
  // channel finds its reader there.
  if (mapping_ok && !mapping.markReader()) {
    qDebug() << "fastipc: no reader mark on" << names[2].c_str() << "errno" << errno;
  }
  if (!write_event.open(names[0], true)) return kCreateWriteEventFailed;
  if (!read_event.open(names[1], true)) return kCreateReadEventFailed;
  if (!mapping_ok) return kCreateMappingFailed;
  unsigned char* mapped = mapping.map(bytes);
  if (mapped == nullptr) return kMapViewFailed;
  size = block_size;
  if (alone) {
    takeOver(mapped);
    mapping.shareLock();
  }
  view = mapped;
  return kOk;
}

// How long a claim that was already there when a server took the channel over
// alone must stand still before it is freed: a writer fills a block in
// microseconds, so such a claim is a dead writer's or a dead reader's.
constexpr auto kLeftClaim = std::chrono::milliseconds(200);

// A channel's objects outlive its servers, so a server alone on it finds the
// block as the last user left it: free; full with a message written while no
// reader was there (delivered by the read loop); claimed (freed once it has
// stood still for kLeftClaim); or damaged (wiped). A new object is all zeros.
void Server::Impl::takeOver(unsigned char* mapped) {
  const int32_t state = layout::loadState(mapped);
  if (state == layout::kStateFree || state == layout::kStateFull) return;
  if (state == layout::kStateClaimed) {
    stuck_since = std::chrono::steady_clock::now();
    stuck_sum = blockSum(mapped);
    left_claim = true;
    return;
  }
  std::memset(mapped + sizeof(int32_t), 0, layout::blockBytes(size) - sizeof(int32_t));
  layout::exchangeState(mapped, layout::kStateFree);
}

uint64_t Server::Impl::blockSum(const unsigned char* mapped) const {
  return std::hash<std::string_view>()(
      std::string_view(reinterpret_cast<const char*>(mapped), layout::blockBytes(size)));
}

bool Server::Impl::beginReading() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!write_event.valid() || view == nullptr || reading || closing) return false;
  reading = true;
  reader = std::this_thread::get_id();
  return true;
}

void Server::Impl::endReading() {
  std::lock_guard<std::mutex> lock(mutex);
  reading = false;
  reader_left.notify_all();
}

// A writer that dies while it holds the block (claimed, not yet full) would
// stall every other writer until the channel is made anew. The reader frees a
// block that stays claimed, its bytes unchanged, for this long.
constexpr auto kStuckClaim = std::chrono::seconds(5);

void Server::Impl::watchForStuckClaim() {
  using Clock = std::chrono::steady_clock;
  if (layout::loadState(view) != layout::kStateClaimed) {
    stuck_since = Clock::time_point();
    left_claim = false;
    return;
  }
  const uint64_t sum = blockSum(view);
  const Clock::time_point now = Clock::now();
  if (stuck_since == Clock::time_point() || sum != stuck_sum) {
    if (stuck_since != Clock::time_point()) left_claim = false;  // someone is at work on it
    stuck_since = now;
    stuck_sum = sum;
    return;
  }
  if (now - stuck_since < (left_claim ? Clock::duration(kLeftClaim) : kStuckClaim)) return;
  stuck_since = Clock::time_point();
  left_claim = false;
  if (layout::casState(view, layout::kStateClaimed, layout::kStateFree)) {
    qDebug() << "fastipc: freed a block its writer left claimed";
    if (read_event.valid()) read_event.set();
  }
}

void Server::Impl::readLoop() {
  const uint64_t opened = generation;
  while (!closing) {
    if (write_event.wait(kWaitSliceMs) == NamedEvent::Wait::kFailed) return;
    if (closing) return;
    // Only a block taken from "full" is delivered: a wake may be stale.
    if (!layout::casState(view, layout::kStateFull, layout::kStateClaimed)) {
      watchForStuckClaim();
      continue;
    }
    stuck_since = std::chrono::steady_clock::time_point();
    left_claim = false;
    holding_block = true;
    deliverBlock();
    if (generation != opened) return;  // the listener closed the server (and released the block)
    releaseBlock();
  }
}

void Server::Impl::deliverBlock() {
  try {
    MemBlock block;
    layout::readBlock(view, size, &block);
    if (listener != nullptr) listener->onRead(&block);
  } catch (...) {
    // A failing listener costs only its own block.
  }
}

void Server::Impl::releaseBlock() {
  holding_block = false;
  layout::exchangeState(view, layout::kStateFree);
  if (read_event.valid()) read_event.set();
}

void Server::Impl::close() {
  std::unique_lock<std::mutex> lock(mutex);
  closing = true;
  ++generation;
  if (reading && reader != std::this_thread::get_id()) {
    if (write_event.valid()) write_event.set();
    reader_left.wait(lock, [this] { return !reading; });
  } else if (reading && holding_block) {
    // Closed by the listener, on the reader's own thread: nothing to wait
    // for. The block goes back first; startRead returns once the listener does.
    releaseBlock();
  }
  releaseAll();
}

// The channel's names stay: a client that stays open (a program that opened
// the channel once) reaches the next server of that name, in this process or
// another, and a message it wrote meanwhile waits in the block for it.
void Server::Impl::releaseAll() {
  write_event.close();
  read_event.close();
  view = nullptr;
  mapping.close();
  for (std::string& n : names) n.clear();
}

Server::Server() : impl_(new Impl) {}

Server::~Server() {
  if (impl_ == nullptr) return;
  const bool was_open = isStable();
  close();
  if (was_open) qDebug() << "fastipc: server closed";
}

Server::Server(Server&& other) noexcept : impl_(std::move(other.impl_)) {
  other.impl_.reset(new Impl);
}
Server& Server::operator=(Server&& other) noexcept {
  if (this != &other) {
    close();
    impl_ = std::move(other.impl_);
    other.impl_.reset(new Impl);
  }
  return *this;
}

int Server::create(std::wstring name, uint32_t size) {
  close();
  impl_->closing = false;
  return impl_->create(name, size);
}

void Server::setListener(ReadListener* listener) { impl_->listener = listener; }

void Server::startRead() {
  if (!impl_->beginReading()) return;
  impl_->readLoop();
  impl_->endReading();
}

void Server::close() {
  if (impl_ != nullptr) impl_->close();
}

bool Server::isStable() const { return impl_ != nullptr && impl_->view != nullptr; }

}  // namespace fastipc
