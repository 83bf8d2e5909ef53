#include "pieces.h"

#include "fastipc/fastipc.h"

namespace fastipc {

uint32_t pieceCount(uint32_t len, uint32_t size) {
  if (len <= size) return 1;
  if (size == 0) return 0;
  return len / size + (len % size == 0 ? 0 : 1);
}

Piece pieceAt(uint32_t len, uint32_t size, uint32_t index) {
  if (len <= size) return Piece{0, len, kTypeWhole};
  const uint32_t count = pieceCount(len, size);
  const uint32_t offset = index * size;
  const bool last = index + 1 == count;
  const uint32_t length = last ? len - offset : size;
  return Piece{offset, length, last ? kTypeLastPiece : kTypePiece};
}

}  // namespace fastipc
