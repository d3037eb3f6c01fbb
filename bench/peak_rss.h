// Peak resident set of this process so far, for the benchmarks' memory figures.
#pragma once

#include <sys/resource.h>

inline long long PeakRssBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<long long>(usage.ru_maxrss) * 1024;  // Linux reports kilobytes
}
