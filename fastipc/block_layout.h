// The shared block's byte layout and its state field, on plain memory: no OS
// calls, so it is testable and fuzzable without shared memory.
#ifndef FASTIPC_BLOCK_LAYOUT_H_
#define FASTIPC_BLOCK_LAYOUT_H_

#include <cstddef>
#include <cstdint>

#include "fastipc/fastipc.h"

namespace fastipc {
namespace layout {

constexpr size_t kStateOffset = 0;
constexpr size_t kTypeOffset = 4;
constexpr size_t kIdOffset = 8;
constexpr size_t kLengthOffset = 108;
constexpr size_t kPayloadOffset = 112;

constexpr int32_t kStateFree = 0;
constexpr int32_t kStateFull = 1;
constexpr int32_t kStateClaimed = 2;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the state field is shared as a native 32-bit integer and must be little-endian");

// Bytes of the whole mapping for payload size S.
inline size_t blockBytes(uint32_t payload_size) {
  return static_cast<size_t>(payload_size) + kBlockOverhead;
}

uint32_t loadLe32(const unsigned char* at);
void storeLe32(unsigned char* at, uint32_t value);

// Atomic operations on the state field at the start of `view`.
bool casState(unsigned char* view, int32_t expected, int32_t desired);
void exchangeState(unsigned char* view, int32_t value);
int32_t loadState(const unsigned char* view);

// Writes type, length, payload and (for type > 0) the identifier: at most 100
// characters of `id`, the rest of the field zero. The state is not touched.
void fillBlock(unsigned char* view, int32_t type, const char* id, const char* data, uint32_t len);

// Copies a block into `out`: type, id (when type > 0), and the payload with a
// zero byte after it. A length field above `payload_size` is cut to it, so a
// damaged block never makes the reader leave the mapping.
void readBlock(const unsigned char* view, uint32_t payload_size, MemBlock* out);

}  // namespace layout
}  // namespace fastipc

#endif  // FASTIPC_BLOCK_LAYOUT_H_
