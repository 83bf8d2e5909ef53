#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

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

}  // namespace ombrix_test
