// Long time settings from the user's locale items.
#include <windows.h>

#include <string>

#include "longtime.h"

namespace tessaly {

namespace {

bool Item(LCTYPE type, std::string& out) {
  char buf[80];
  const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buf, sizeof buf);
  if (n <= 0) return false;
  out.assign(buf, static_cast<std::size_t>(n - 1));
  return true;
}

}  // namespace

LongTimeFormat UserLongTimeFormat() {
  LongTimeFormat fmt;
  std::string v;
  if (Item(LOCALE_ITLZERO, v)) fmt.leadingZeroHours = v == "1";
  if (Item(LOCALE_ITIME, v)) fmt.twentyFourHour = v == "1";
  if (Item(LOCALE_ITIMEMARKPOSN, v)) fmt.markerFirst = v == "1";
  if (Item(LOCALE_STIME, v)) fmt.separator = v;
  if (Item(LOCALE_S1159, v)) fmt.amMarker = v;
  if (Item(LOCALE_S2359, v)) fmt.pmMarker = v;
  return fmt;
}

}  // namespace tessaly
