// Fuzz target for the dispenser frame reader and reply checks. The input
// describes a time limit, the expected reply length and a stream of pieces
// with arrival times; the reader must never crash, read past a buffer, give
// up before the limit on an incomplete frame, or wait past the limit.
//
// Built with FPJ_LIBFUZZER it is a libFuzzer target; otherwise main() runs a
// seeded random loop for a bounded time.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "device/fpj_frame.h"
#include "device/fpj_reader.h"
#include "scripted_source.h"
#include "tests/support/fuzz_options.h"

namespace {

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_frame: %s\n", what);
  std::abort();
}

// The checks on a reply held in a buffer of exactly its size, so any read
// past its end is caught by AddressSanitizer.
void CheckReply(const std::vector<char>& exact, int expectedLength) {
  const QByteArray reply = QByteArray::fromRawData(exact.data(), int(exact.size()));
  const int code = fpj::EvaluateReply(reply, expectedLength);
  Require(code == 0 || (code <= -102 && code >= -109), "unknown result code");
  Require(code != 0 || (reply.size() == expectedLength && fpj::CheckCRC(reply)),
          "success without a whole, summed reply");
  Require(fpj::VersionText(reply).size() <= 6, "version text too long");
  fpj::ReplyValue16(reply);
  fpj::ReplyFrameLength(reply);
}

struct Script {
  qint64 limitMs;
  int expectedLength;
  std::vector<Piece> pieces;
  QByteArray stream;  // all pieces in order
};

Script Decode(const uint8_t* data, size_t size) {
  static const int kLengths[] = {6, 7, 8, 12};
  Script s{1, 8, {}, {}};
  if (size >= 3) {
    s.limitMs = 1 + (data[0] | data[1] << 8) % 6000;
    s.expectedLength = kLengths[data[2] % 4];
  }
  qint64 at = 0;
  for (size_t i = 3; i + 1 < size;) {
    at += data[i] * 8;
    const size_t n = std::min<size_t>(data[i + 1] % 32 + 1, size - i - 2);
    const QByteArray bytes(reinterpret_cast<const char*>(data + i + 2), int(n));
    s.pieces.push_back({at, bytes});
    s.stream += bytes;
    i += 2 + n;
  }
  return s;
}

void RunOne(const uint8_t* data, size_t size) {
  const Script script = Decode(data, size);
  ScriptedSource source(script.pieces);
  const QByteArray frame = fpj::ReadFrame(source, script.limitMs);

  Require(!source.negativeWait(), "negative wait");
  Require(source.elapsed() <= script.limitMs, "waited past the limit");
  Require(script.stream.startsWith(frame), "frame does not begin at the first byte");
  const int length = fpj::ReplyFrameLength(frame);
  Require(frame.isEmpty() || (frame.size() >= 2 && frame.size() <= length), "bad frame size");
  if (frame.isEmpty() || frame.size() < length) {
    Require(source.elapsed() >= script.limitMs - 1, "gave up before the limit");
  }
  CheckReply(std::vector<char>(frame.begin(), frame.end()), script.expectedLength);
  CheckReply(std::vector<char>(data, data + size), script.expectedLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RunOne(data, size);
  return 0;
}

#ifndef FPJ_LIBFUZZER

namespace {

// Random input, often shaped like a reply frame so the deeper paths are hit.
std::vector<uint8_t> RandomInput(std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<uint8_t> in(3 + rng() % 200);
  for (uint8_t& b : in) b = uint8_t(byte(rng));
  if (rng() % 2 && in.size() > 12) {
    const int n = int(rng() % 8);  // piece header, then a frame of n data bytes
    in[4] = uint8_t(n + 6 + rng() % 4 - 2);
    in[5] = 0x02;
    in[6] = uint8_t(n);
    if (rng() % 2) in[9] = 0;  // status 0
  }
  return in;
}

}  // namespace

int main(int argc, char** argv) {
  const long runs =
      ombrix_test::RunFuzz(ombrix_test::ReadFuzzOptions(argc, argv), [](std::mt19937& rng) {
        for (int i = 0; i < 256; ++i) {
          const std::vector<uint8_t> in = RandomInput(rng);
          RunOne(in.data(), in.size());
        }
        return 256L;
      });
  std::printf("fuzz_frame: %ld inputs, no failure\n", runs);
  return 0;
}

#endif
