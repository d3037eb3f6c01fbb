// Long time settings from the user's LC_TIME locale.
#include <langinfo.h>

#include <clocale>
#include <string>

#include "longtime.h"

namespace tessaly {

namespace {

// One conversion of a strftime pattern: its position, padding flag and letter.
struct Conversion {
  std::size_t begin = std::string::npos, end = std::string::npos;
  char flag = 0, letter = 0;
};

Conversion NextConversion(const std::string& pattern, std::size_t from) {
  for (std::size_t i = from; i + 1 < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    Conversion c;
    c.begin = i;
    std::size_t j = i + 1;
    if (pattern[j] == '-' || pattern[j] == '_' || pattern[j] == '0') c.flag = pattern[j++];
    if (j < pattern.size() && (pattern[j] == 'E' || pattern[j] == 'O')) ++j;
    if (j >= pattern.size()) return {};
    c.letter = pattern[j];
    c.end = j + 1;
    if (c.letter == '%') {
      i = j;
      continue;
    }
    return c;
  }
  return {};
}

// A pattern's literal text with "%%" as the "%" it stands for.
std::string Literal(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') ++i;
  }
  return out;
}

void Expand(std::string& pattern, const std::string& from, const std::string& to) {
  for (std::size_t p; (p = pattern.find(from)) != std::string::npos;) pattern.replace(p, 2, to);
}

}  // namespace

LongTimeFormat LongTimeFormatFromPattern(std::string pattern, const char* am, const char* pm) {
  LongTimeFormat fmt;
  if (am && *am) fmt.amMarker = am;
  if (pm && *pm) fmt.pmMarker = pm;
  Expand(pattern, "%r", "%I:%M:%S %p");
  Expand(pattern, "%T", "%H:%M:%S");
  Expand(pattern, "%R", "%H:%M");
  Conversion hours, marker;
  for (Conversion c = NextConversion(pattern, 0); c.letter; c = NextConversion(pattern, c.end)) {
    if (!hours.letter && (c.letter == 'H' || c.letter == 'I' || c.letter == 'k' || c.letter == 'l'))
      hours = c;
    if (!marker.letter && (c.letter == 'p' || c.letter == 'P')) marker = c;
  }
  if (!hours.letter) return fmt;
  fmt.twentyFourHour = hours.letter == 'H' || hours.letter == 'k';
  fmt.leadingZeroHours =
      hours.flag == '0' || ((hours.letter == 'H' || hours.letter == 'I') && hours.flag == 0);
  const Conversion minutes = NextConversion(pattern, hours.end);
  fmt.markerFirst = marker.letter && marker.begin < hours.begin;
  if (minutes.letter != 'M') return fmt;
  fmt.separator = pattern.substr(hours.end, minutes.begin - hours.end);
  // Patterns such as "%H时%M分%S秒" put their own text after the minutes and the seconds; a
  // text that only leads to a marker ("%S %p") is no suffix, the elapsed time has no marker.
  const Conversion seconds = NextConversion(pattern, minutes.end);
  if (seconds.letter != 'S') return fmt;
  std::string between = pattern.substr(minutes.end, seconds.begin - minutes.end);
  if (between != fmt.separator) fmt.secondsSeparator = std::move(between);
  if (!NextConversion(pattern, seconds.end).letter)
    fmt.suffix = Literal(pattern.substr(seconds.end));
  return fmt;
}

LongTimeFormat UserLongTimeFormat() {
  std::setlocale(LC_TIME, "");
  const char* pattern = nl_langinfo(T_FMT);
  if (!pattern || !*pattern) return {};
  return LongTimeFormatFromPattern(pattern, nl_langinfo(AM_STR), nl_langinfo(PM_STR));
}

}  // namespace tessaly
