// Long time settings from the user's LC_TIME locale.
#include <langinfo.h>

#include <clocale>
#include <string>

#include "longtime.h"

namespace tessaly {

namespace {

// Reads a strftime time pattern such as "%H:%M:%S", "%I:%M:%S %p" or "%r".
marc::LongTimeFormat FromPattern(std::string pattern) {
  marc::LongTimeFormat fmt;
  for (std::size_t p; (p = pattern.find("%r")) != std::string::npos;)
    pattern.replace(p, 2, nl_langinfo(T_FMT_AMPM));
  for (std::size_t p; (p = pattern.find("%T")) != std::string::npos;) pattern.replace(p, 2, "%H:%M:%S");
  const std::size_t h = pattern.find_first_of("HIkl", 0);
  if (h == std::string::npos || h == 0 || pattern[h - 1] != '%') return fmt;
  const char hc = pattern[h];
  fmt.twentyFourHour = hc == 'H' || hc == 'k';
  fmt.leadingZeroHours = hc == 'H' || hc == 'I';
  const std::size_t m = pattern.find("%M", h);
  if (m != std::string::npos) fmt.separator = pattern.substr(h + 1, m - h - 1);
  const std::size_t marker = pattern.find("%p");
  fmt.markerFirst = marker != std::string::npos && marker < h;
  const char* am = nl_langinfo(AM_STR);
  const char* pm = nl_langinfo(PM_STR);
  if (am && *am) fmt.amMarker = am;
  if (pm && *pm) fmt.pmMarker = pm;
  return fmt;
}

}  // namespace

marc::LongTimeFormat UserLongTimeFormat() {
  std::setlocale(LC_TIME, "");
  const char* pattern = nl_langinfo(T_FMT);
  return pattern && *pattern ? FromPattern(pattern) : marc::LongTimeFormat{};
}

}  // namespace tessaly
