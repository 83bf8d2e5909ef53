#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>

namespace ombrix_test {

// A fuzz target's command line: "--seconds N" (how long to run, 3 by
// default) and "--seed N" (the random generator's seed, 1 by default).
struct FuzzOptions {
  long seconds = 3;
  uint32_t seed = 1;
};

inline FuzzOptions ReadFuzzOptions(int argc, char** argv) {
  FuzzOptions options;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0)
      options.seconds = std::strtol(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--seed") == 0)
      options.seed = uint32_t(std::strtoul(argv[i + 1], nullptr, 10));
  }
  return options;
}

// Runs batch(rng) again and again, rng seeded from the options, until their
// time is up; batch returns how many inputs it tried. Returns them all.
template <typename Batch>
long RunFuzz(const FuzzOptions& options, Batch batch) {
  std::mt19937 rng(options.seed);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
  long runs = 0;
  while (std::chrono::steady_clock::now() < end) runs += batch(rng);
  return runs;
}

}  // namespace ombrix_test
