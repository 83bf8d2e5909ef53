// The middle of a benchmark's samples: the figure each bench reports.
#pragma once

#include <algorithm>
#include <vector>

namespace bench {

// The median of values; -1 when there are none (a run that measured nothing).
inline double Median(std::vector<double> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace bench
