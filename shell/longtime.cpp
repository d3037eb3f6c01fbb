#include "longtime.h"

#include <algorithm>
#include <cstdint>

namespace tessaly {

std::string FormatElapsed(std::chrono::steady_clock::duration elapsed, const LongTimeFormat& fmt) {
  using namespace std::chrono;
  const std::int64_t total = std::max<std::int64_t>(duration_cast<seconds>(elapsed).count(), 0);
  const std::int64_t hours = total / 3600, minutes = total / 60 % 60, secs = total % 60;
  auto two = [](std::int64_t v) {
    return std::string{static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
  };
  std::string out = fmt.leadingZeroHours && hours < 10 ? two(hours) : std::to_string(hours);
  out += fmt.separator;
  out += two(minutes);
  out += fmt.secondsSeparator.value_or(fmt.separator);
  out += two(secs);
  out += fmt.suffix;
  return out;
}

}  // namespace tessaly
