#include <cstring>
#include <utility>

#include "fastipc/fastipc.h"

namespace fastipc {

MemBlock::MemBlock() : type(0), id(), length(0), data(nullptr) {}

MemBlock::~MemBlock() { delete[] data; }

MemBlock::MemBlock(const MemBlock& other) : MemBlock() { *this = other; }

MemBlock::MemBlock(MemBlock&& other) noexcept : MemBlock() { *this = std::move(other); }

MemBlock& MemBlock::operator=(const MemBlock& other) {
  if (this == &other) return *this;
  char* copy = nullptr;
  if (other.data != nullptr) {
    copy = new char[static_cast<size_t>(other.length) + 1];
    std::memcpy(copy, other.data, static_cast<size_t>(other.length) + 1);
  }
  delete[] data;
  data = copy;
  type = other.type;
  length = other.length;
  std::memcpy(id, other.id, kIdBytes);
  return *this;
}

MemBlock& MemBlock::operator=(MemBlock&& other) noexcept {
  if (this == &other) return *this;
  delete[] data;
  data = std::exchange(other.data, nullptr);
  type = other.type;
  length = std::exchange(other.length, 0);
  std::memcpy(id, other.id, kIdBytes);
  return *this;
}

std::string MemBlock::idText() const { return std::string(id, strnlen(id, kIdBytes)); }

ReadListener::~ReadListener() = default;

void ReadListener::onRead(MemBlock*) {}

}  // namespace fastipc
