// Peak resident set of this process so far, for the benchmarks' memory figures.
#pragma once

#include <sys/resource.h>

#include <fstream>
#include <string>

inline long long PeakRssBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<long long>(usage.ru_maxrss) * 1024;  // Linux reports kilobytes
}

// The resident set's high-water mark since the last ResetPeakRss (or the start), and the resident
// set now, from /proc/self/status; -1 where it cannot be read. Unlike getrusage's, this peak can
// be reset, so that each step of a benchmark has a peak of its own.
inline long long StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::string(field).size())) * 1024;
  }
  return -1;
}
inline long long PeakRssSinceResetBytes() { return StatusBytes("VmHWM:"); }
inline long long RssBytes() { return StatusBytes("VmRSS:"); }
// Linux 4.0 and later: the high-water mark starts again from the present resident set.
inline void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }
