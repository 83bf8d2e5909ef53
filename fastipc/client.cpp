#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <shared_mutex>

#include "block_layout.h"
#include "channel_names.h"
#include "fastipc/fastipc.h"
#include "fastipc/qx.h"
#include "named_event.h"
#include "pieces.h"
#include "shared_block.h"

namespace fastipc {

namespace {
// A writer waiting for the block looks again at least this often, so it
// never depends on one particular wake, notices close() from another thread,
// and notices a reader that died meanwhile.
constexpr int kWaitSliceMs = 100;
}  // namespace

struct Client::Impl {
  NamedEvent write_event;
  NamedEvent read_event;
  SharedBlock mapping;
  unsigned char* view = nullptr;
  uint32_t size = 0;

  // Writers hold it shared; close() takes it exclusively once they have left.
  std::shared_mutex in_use;
  std::atomic<bool> closing{false};
  std::atomic<int> block_timeout_ms{0};  // 0: wait for each block without limit

  int create(const std::wstring& name, uint32_t block_size);
  uint32_t write(const char* data, uint32_t len);
  uint32_t writeBlock(const char* data, uint32_t len, const char* id, int32_t type);
  uint32_t claimBlock();
  void close();
};

int Client::Impl::create(const std::wstring& name, uint32_t block_size) {
  std::string names[3];
  if (!posixObjectName(genWritedEventName(name), &names[0])) return kOpenWriteEventFailed;
  if (!posixObjectName(genReadedEventName(name), &names[1])) return kOpenReadEventFailed;
  if (!posixObjectName(genMappingFileName(name), &names[2])) return kOpenMappingFailed;
  if (!write_event.open(names[0], false)) return kOpenWriteEventFailed;
  if (!read_event.open(names[1], false)) return kOpenReadEventFailed;
  if (!mapping.openExisting(names[2])) return kOpenMappingFailed;
  // A block without payload cannot carry a message; a view longer than the
  // server's object would fault on access instead of failing here.
  if (block_size == 0) return kMapViewFailed;
  unsigned char* mapped = mapping.map(layout::blockBytes(block_size));
  if (mapped == nullptr) return kMapViewFailed;
  std::unique_lock<std::shared_mutex> lock(in_use);
  view = mapped;
  size = block_size;
  closing = false;
  return kOk;
}

uint32_t Client::Impl::claimBlock() {
  using Clock = std::chrono::steady_clock;
  const int limit_ms = block_timeout_ms;
  const Clock::time_point offered = Clock::now();
  while (!layout::casState(view, layout::kStateFree, layout::kStateClaimed)) {
    if (closing) return kClientNotOpen;
    int slice_ms = kWaitSliceMs;
    if (limit_ms > 0) {
      const auto waited =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - offered).count();
      if (waited >= limit_ms) return kWaitFailed;
      slice_ms = static_cast<int>(std::min<long long>(slice_ms, limit_ms - waited));
    }
    const NamedEvent::Wait woke = read_event.wait(slice_ms);
    if (woke == NamedEvent::Wait::kFailed) return kWaitFailed;
    // Only a wait that found no release asks again: a reader dying in the
    // middle of a long message ends it, and a busy channel pays nothing.
    if (woke == NamedEvent::Wait::kTimedOut && !mapping.readerPresent()) return kWaitFailed;
  }
  return kOk;
}

uint32_t Client::Impl::writeBlock(const char* data, uint32_t len, const char* id, int32_t type) {
  const uint32_t status = claimBlock();
  if (status != kOk) return status;
  layout::fillBlock(view, type, id, data, len);
  layout::exchangeState(view, layout::kStateFull);
  write_event.set();
  return kOk;
}

uint32_t Client::Impl::write(const char* data, uint32_t len) {
  std::shared_lock<std::shared_mutex> lock(in_use);
  if (view == nullptr || closing) return kClientNotOpen;
  // Once per message: a channel whose readers are gone takes nothing.
  if (!mapping.readerPresent()) return kWaitFailed;
  if (len <= size) return writeBlock(data, len, nullptr, kTypeWhole);
  char* id = qx::GenerateGuid();
  uint32_t status = kOk;
  const uint32_t count = pieceCount(len, size);
  for (uint32_t i = 0; i < count && status == kOk; ++i) {
    const Piece piece = pieceAt(len, size, i);
    status = writeBlock(data + piece.offset, piece.length, id, piece.type);
  }
  delete[] id;
  return status;
}

void Client::Impl::close() {
  closing = true;
  std::unique_lock<std::shared_mutex> lock(in_use);
  write_event.close();
  read_event.close();
  view = nullptr;
  size = 0;
  mapping.close();
}

Client::Client() : impl_(new Impl) {}

Client::~Client() { close(); }

Client::Client(Client&& other) noexcept : impl_(std::move(other.impl_)) {
  other.impl_.reset(new Impl);
}

Client& Client::operator=(Client&& other) noexcept {
  if (this != &other) {
    close();
    impl_ = std::move(other.impl_);
    other.impl_.reset(new Impl);
  }
  return *this;
}

int Client::create(std::wstring name, uint32_t size) {
  close();
  return impl_->create(name, size);
}

uint32_t Client::write(const char* data, uint32_t len) {
  if (data == nullptr && len > 0) return kClientNotOpen;
  return impl_->write(data == nullptr ? "" : data, len);
}

void Client::close() {
  if (impl_ != nullptr) impl_->close();
}

void Client::setBlockTimeout(int ms) {
  if (impl_ != nullptr) impl_->block_timeout_ms = ms > 0 ? ms : 0;
}

bool Client::hasReader() const {
  if (impl_ == nullptr) return false;
  std::shared_lock<std::shared_mutex> lock(impl_->in_use);
  return impl_->view != nullptr && impl_->mapping.readerPresent();
}

bool Client::isStable() const {
  if (impl_ == nullptr) return false;
  std::shared_lock<std::shared_mutex> lock(impl_->in_use);
  return impl_->view != nullptr;
}

}  // namespace fastipc
