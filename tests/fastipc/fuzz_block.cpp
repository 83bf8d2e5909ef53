// The reader's handling of arbitrary block contents: whatever the bytes of the
// shared block hold, reading it stays inside the mapping, the payload is
// zero-terminated and never longer than the block size, and joining pieces
// never fails. Built for libFuzzer with clang; with FASTIPC_FUZZ_MAIN it is a
// plain program that feeds seeded random blocks for a bounded time.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "block_layout.h"
#include "fastipc/fastipc.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_block: %s\n", what);
    std::abort();
  }
}

// The first input byte picks the block size; the rest is the block, padded or
// cut to exactly S + 116 bytes in a buffer of that size, so a read past it is
// caught by the address sanitizer.
void readOne(const uint8_t* data, size_t size, fastipc::MessageAssembler* assembler) {
  const uint32_t block_size = size > 0 ? data[0] * 5u : 0;
  const size_t bytes = fastipc::layout::blockBytes(block_size);
  std::unique_ptr<unsigned char[]> view(new unsigned char[bytes]());
  if (size > 1) std::memcpy(view.get(), data + 1, std::min(size - 1, bytes));
  fastipc::MemBlock block;
  fastipc::layout::readBlock(view.get(), block_size, &block);
  check(block.length <= block_size, "length beyond the block size");
  check(block.data != nullptr && block.data[block.length] == '\0', "payload not terminated");
  check(std::memcmp(block.data, view.get() + fastipc::layout::kPayloadOffset, block.length) == 0,
        "payload differs from the block");
  std::string message;
  if (assembler->add(block, &message)) check(message.size() < (1u << 24), "runaway message");
  check(assembler->pending() <= 64, "unbounded unfinished messages");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fastipc::MessageAssembler assembler;
  readOne(data, size, &assembler);
  return 0;
}

#ifdef FASTIPC_FUZZ_MAIN
#include <chrono>
#include <random>
#include <vector>

// fastipc_fuzz_block [--seconds N] [--seed S]
int main(int argc, char** argv) {
  double seconds = 3;
  uint64_t seed = 20240601;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--seed") == 0) seed = std::strtoull(argv[i + 1], nullptr, 10);
  }
  std::mt19937_64 random(seed);
  std::vector<uint8_t> input;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  uint64_t runs = 0;
  while (std::chrono::steady_clock::now() < end) {
    for (int batch = 0; batch < 256; ++batch, ++runs) {
      input.resize(random() % 1400);
      for (uint8_t& byte : input) byte = static_cast<uint8_t>(random());
      // Steer some inputs to small types and lengths near the block size.
      if (input.size() > 113 && random() % 2 == 0) {
        input[5] = static_cast<uint8_t>(random() % 4);
        input[6] = input[7] = input[8] = 0;
        input[109] = static_cast<uint8_t>(random());
        input[110] = static_cast<uint8_t>(random() % 8);
        input[111] = input[112] = 0;
      }
      LLVMFuzzerTestOneInput(input.data(), input.size());
    }
  }
  std::printf("fuzz_block: %llu inputs, seed %llu\n", static_cast<unsigned long long>(runs),
              static_cast<unsigned long long>(seed));
  return 0;
}
#endif
