// A byte source for fpj::ReadFrame that plays bytes at given times on a fake
// clock. It records how long the reader waited, so time limits can be checked
// exactly and fast.
#pragma once

#include <QByteArray>
#include <vector>

#include "device/fpj_reader.h"

struct Piece {
  qint64 atMs;  // arrival time, from the start of the read
  QByteArray bytes;
};

class ScriptedSource : public fpj::ByteSource {
 public:
  explicit ScriptedSource(std::vector<Piece> pieces) : pieces_(std::move(pieces)) {}

  qint64 NowMs() override { return now_; }

  bool WaitForBytes(int ms) override {
    if (ms < 0) negativeWait_ = true;
    if (next_ < pieces_.size() && pieces_[next_].atMs <= now_ + ms) {
      if (pieces_[next_].atMs > now_) now_ = pieces_[next_].atMs;
      return true;
    }
    now_ += ms;
    return false;
  }

  QByteArray ReadAvailable() override {
    QByteArray bytes;
    while (next_ < pieces_.size() && pieces_[next_].atMs <= now_) bytes += pieces_[next_++].bytes;
    return bytes;
  }

  qint64 elapsed() const { return now_; }
  bool negativeWait() const { return negativeWait_; }

 private:
  std::vector<Piece> pieces_;
  size_t next_ = 0;
  qint64 now_ = 0;
  bool negativeWait_ = false;
};
