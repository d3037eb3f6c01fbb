// The user's long time pattern and the read's elapsed time spelt in it. Reading the settings is
// platform code (one file per platform); the spelling is not.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace tessaly {

// The user's long time pattern, as six settings, and what a pattern may add to them: its own
// text between minutes and seconds, and text after the seconds ("%H时%M分%S秒"). Texts in the
// platform's bytes for them (the locale's codeset; the ANSI code page on Windows).
struct LongTimeFormat {
  std::string separator = ":";
  bool leadingZeroHours = false;
  bool twentyFourHour = false;
  bool markerFirst = false;
  std::string amMarker = "am";
  std::string pmMarker = "pm";
  std::optional<std::string> secondsSeparator;  // none: the separator again
  std::string suffix;
};

// The six settings of the user's long time pattern; the defaults where the platform has none.
LongTimeFormat UserLongTimeFormat();

// POSIX: the settings a strftime time pattern such as "%H:%M:%S" or "%I:%M:%S %p" stands for.
LongTimeFormat LongTimeFormatFromPattern(std::string pattern, const char* amMarker,
                                         const char* pmMarker);

// A duration as hours, minutes and whole seconds. A duration, not a time of day: hours count on
// past 24 and never take a 12-hour clock or a marker; separators, suffix and leading zero follow
// fmt. A negative duration (which no steady clock gives) reads as none.
std::string FormatElapsed(std::chrono::steady_clock::duration elapsed, const LongTimeFormat& fmt);

}  // namespace tessaly
