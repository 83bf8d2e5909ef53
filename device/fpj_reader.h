// Reading one reply frame within a time limit. The byte source and its clock
// are an interface so the algorithm can be checked without a port.
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace fpj {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Monotonic milliseconds.
  virtual qint64 NowMs() = 0;
  // Waits up to `ms` for bytes to become readable; false when none came (time
  // out, or the source failed).
  virtual bool WaitForBytes(int ms) = 0;
  // All bytes readable now.
  virtual QByteArray ReadAvailable() = 0;
};

// Reads one reply frame, waiting at most `limitMs` in total from the call.
// The first byte that arrives is the frame's start byte, whatever its value
// (the caller clears stale input before each request). The frame length comes from byte 1 (length =
// byte 1 + 6); pieces are appended until the frame is whole, the time is up or no more bytes come.
// Bytes after the frame are dropped. Fewer than two bytes give an empty
// result; a short frame is returned as read.
QByteArray ReadFrame(ByteSource& source, qint64 limitMs);

}  // namespace fpj
