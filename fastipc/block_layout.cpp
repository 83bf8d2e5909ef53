#include "block_layout.h"

#include <algorithm>
#include <cstring>

namespace fastipc {
namespace layout {

uint32_t loadLe32(const unsigned char* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

void storeLe32(unsigned char* at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
  at[2] = static_cast<unsigned char>(value >> 16);
  at[3] = static_cast<unsigned char>(value >> 24);
}

static int32_t* stateField(unsigned char* view) {
  return reinterpret_cast<int32_t*>(view + kStateOffset);
}

bool casState(unsigned char* view, int32_t expected, int32_t desired) {
  return __atomic_compare_exchange_n(stateField(view), &expected, desired, false, __ATOMIC_SEQ_CST,
                                     __ATOMIC_SEQ_CST);
}

void exchangeState(unsigned char* view, int32_t value) {
  __atomic_exchange_n(stateField(view), value, __ATOMIC_SEQ_CST);
}

int32_t loadState(const unsigned char* view) {
  return __atomic_load_n(reinterpret_cast<const int32_t*>(view + kStateOffset), __ATOMIC_SEQ_CST);
}

void fillBlock(unsigned char* view, int32_t type, const char* id, const char* data, uint32_t len) {
  storeLe32(view + kLengthOffset, len);
  storeLe32(view + kTypeOffset, static_cast<uint32_t>(type));
  if (len > 0) std::memcpy(view + kPayloadOffset, data, len);
  if (type > 0) {
    std::memset(view + kIdOffset, 0, kIdBytes);
    if (id != nullptr) std::memcpy(view + kIdOffset, id, strnlen(id, kIdBytes));
  }
}

void readBlock(const unsigned char* view, uint32_t payload_size, MemBlock* out) {
  out->type = static_cast<int32_t>(loadLe32(view + kTypeOffset));
  out->length = std::min(loadLe32(view + kLengthOffset), payload_size);
  delete[] out->data;
  out->data = nullptr;
  out->data = new char[static_cast<size_t>(out->length) + 1]();
  std::memcpy(out->data, view + kPayloadOffset, out->length);
  if (out->type > 0) std::memcpy(out->id, view + kIdOffset, kIdBytes);
}

}  // namespace layout
}  // namespace fastipc
