#include <errno.h>
#include <semaphore.h>
#include <sys/mman.h>

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
  std::thread::id reader;
  std::atomic<bool> closing{false};

  int create(const std::wstring& name, uint32_t block_size);
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
    std::memset(mapped, 0, bytes);
    mapping.shareLock();
  }
  view = mapped;
  return kOk;
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
    return;
  }
  const size_t bytes = layout::blockBytes(size);
  const uint64_t sum = std::hash<std::string_view>()(
      std::string_view(reinterpret_cast<const char*>(view.load()), bytes));
  const Clock::time_point now = Clock::now();
  if (stuck_since == Clock::time_point() || sum != stuck_sum) {
    stuck_since = now;
    stuck_sum = sum;
    return;
  }
  if (now - stuck_since < kStuckClaim) return;
  stuck_since = Clock::time_point();
  if (layout::casState(view, layout::kStateClaimed, layout::kStateFree)) {
    qDebug() << "fastipc: freed a block its writer left claimed";
    if (read_event.valid()) read_event.set();
  }
}

void Server::Impl::readLoop() {
  while (!closing) {
    if (write_event.wait(kWaitSliceMs) == NamedEvent::Wait::kFailed) return;
    if (closing) return;
    // Only a block taken from "full" is delivered: a wake may be stale.
    if (!layout::casState(view, layout::kStateFull, layout::kStateClaimed)) {
      watchForStuckClaim();
      continue;
    }
    stuck_since = std::chrono::steady_clock::time_point();
    holding_block = true;
    deliverBlock();
    if (view == nullptr) return;  // the listener closed the server
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
  if (reading && reader != std::this_thread::get_id()) {
    if (write_event.valid()) write_event.set();
    reader_left.wait(lock, [this] { return !reading; });
  } else if (reading && holding_block) {
    releaseBlock();  // closed by the listener: hand the block back first
  }
  releaseAll();
}

void Server::Impl::releaseAll() {
  const bool remove_names = mapping.valid() && mapping.lastServer();
  write_event.close();
  read_event.close();
  view = nullptr;
  mapping.close();
  if (remove_names) {
    sem_unlink(names[0].c_str());
    sem_unlink(names[1].c_str());
    shm_unlink(names[2].c_str());
  }
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
