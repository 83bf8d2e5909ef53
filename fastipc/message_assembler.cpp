#include <algorithm>

#include "fastipc/fastipc.h"

namespace fastipc {

MessageAssembler::MessageAssembler(size_t max_pending)
    : max_pending_(std::max<size_t>(1, max_pending)) {}

size_t MessageAssembler::pending() const { return partial_.size(); }

void MessageAssembler::dropOldestIfFull() {
  while (partial_.size() >= max_pending_ && !order_.empty()) {
    partial_.erase(order_.front());
    order_.pop_front();
  }
}

bool MessageAssembler::add(const MemBlock& block, std::string* message) {
  const char* bytes = block.data != nullptr ? block.data : "";
  const size_t length = block.data != nullptr ? block.length : 0;
  if (block.type <= kTypeWhole || block.type > kTypeLastPiece) {
    message->assign(bytes, length);
    return true;
  }
  const std::string id = block.idText();
  auto it = partial_.find(id);
  if (it == partial_.end()) {
    if (block.type == kTypeLastPiece) {  // earlier pieces were lost: deliver what arrived
      message->assign(bytes, length);
      return true;
    }
    dropOldestIfFull();
    it = partial_.emplace(id, std::string()).first;
    order_.push_back(id);
  }
  it->second.append(bytes, length);
  if (block.type == kTypePiece) return false;
  *message = std::move(it->second);
  partial_.erase(it);
  order_.erase(std::find(order_.begin(), order_.end(), id));
  return true;
}

}  // namespace fastipc
