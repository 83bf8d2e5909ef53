// How a message is cut into blocks: pure arithmetic on the message length and
// the block size.
#ifndef FASTIPC_PIECES_H_
#define FASTIPC_PIECES_H_

#include <cstdint>

namespace fastipc {

struct Piece {
  uint32_t offset;
  uint32_t length;
  int32_t type;  // kTypeWhole, kTypePiece or kTypeLastPiece
};

// Number of blocks a message of `len` bytes needs with block size `size`;
// 0 when it cannot travel (size 0 and a non-empty message).
uint32_t pieceCount(uint32_t len, uint32_t size);

// The `index`-th block (0 <= index < pieceCount(len, size)).
Piece pieceAt(uint32_t len, uint32_t size, uint32_t index);

}  // namespace fastipc

#endif  // FASTIPC_PIECES_H_
