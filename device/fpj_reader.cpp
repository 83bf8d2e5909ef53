#include "device/fpj_reader.h"

#include <algorithm>
#include <limits>

#include "device/fpj_frame.h"

namespace fpj {
namespace {

bool HoldsWholeFrame(const QByteArray& bytes) {
  const int length = ReplyFrameLength(bytes);
  return length > 0 && bytes.size() >= length;
}

int ClampWait(qint64 ms) { return int(std::clamp<qint64>(ms, 0, std::numeric_limits<int>::max())); }

}  // namespace

QByteArray ReadFrame(ByteSource& source, qint64 limitMs) {
  const qint64 start = source.NowMs();
  QByteArray bytes;
  if (!source.WaitForBytes(ClampWait(limitMs))) return bytes;
  bytes += source.ReadAvailable();
  while (!HoldsWholeFrame(bytes)) {
    const qint64 left = limitMs - (source.NowMs() - start);
    if (left < 1) break;
    if (!source.WaitForBytes(ClampWait(left))) break;
    bytes += source.ReadAvailable();
  }
  if (bytes.size() < 2) return QByteArray();
  const int length = ReplyFrameLength(bytes);
  if (bytes.size() > length) bytes.truncate(length);
  return bytes;
}

}  // namespace fpj
