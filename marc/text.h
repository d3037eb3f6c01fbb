// Byte-string operations the decoder is written in. Texts are byte strings; positions are
// 1-based and lengths count bytes. Searches give 0 for "not found"; cuts clamp, never fail.
// Positions and counts are 64-bit so that arithmetic on a hostile leader cannot overflow.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "errors.h"

namespace marc {

using Text = std::string;

// How the bytes of a record file spell characters.
enum class TextEncoding {
  Gbk,   // GB18030, a superset of code page 936: a byte 0x81-0xFE starts a two- or four-byte
         // character
  Utf8,  // a lead byte and its continuation bytes are one character
};

// An ordered list of texts indexed from 0. Items live in one arena, so a list of a million
// lines costs one buffer and two offsets per line rather than a heap block per line.
class TStringList {
 public:
  std::int64_t Count() const { return static_cast<std::int64_t>(begins_.size()); }
  void Add(std::string_view s);
  void Clear();
  // The item at index; throws EStringListError out of range. The view lives until the list
  // next changes.
  std::string_view View(std::int64_t index) const;
  Text Get(std::int64_t index) const { return Text(View(index)); }
  Text operator[](std::int64_t index) const { return Get(index); }

  // Takes a whole file's bytes and cuts them into lines (see LoadTextLines).
  void AssignLines(std::string&& bytes);
  // Every byte the items are cut from (for a loaded file: the file up to its first NUL).
  std::string_view Bytes() const { return arena_; }

 private:
  std::string arena_;
  std::vector<std::uint64_t> begins_;
  std::vector<std::uint64_t> ends_;
};

// At most count bytes of s from position start (start below 1 counts as 1, count unchanged).
// Inline: the decoder cuts a dozen times a record.
inline std::string_view MidView(std::string_view s, std::int64_t start, std::int64_t count) {
  const auto len = static_cast<std::int64_t>(s.size());
  if (len == 0) return {};
  if (start < 1) start = 1;
  if (start > len || count <= 0) return {};
  if (count > len - start + 1) count = len - start + 1;
  return s.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count));
}
inline Text MidText(std::string_view s, std::int64_t start, std::int64_t count) {
  return Text(MidView(s, start, count));
}

// Position of the first occurrence of p in s, 0 when none (or p or s empty). Byte-wise.
std::int64_t PosText(std::string_view p, std::string_view s);
// As PosText, but only occurrences beginning at or after from.
std::int64_t PosTextFrom(std::string_view p, std::string_view s, std::int64_t from);

// Every occurrence of old replaced by new, left to right, ASCII letters matched without regard
// to case; under GBK an occurrence that would begin on a second byte is skipped.
Text ReplaceAllText(std::string_view s, std::string_view old, std::string_view replacement,
                    TextEncoding encoding = TextEncoding::Gbk);

// ReplaceAllText(s, old, replacement) for one byte that is no letter and a one-byte
// replacement, done in place; the read path's subfield delimiter replacement.
void ReplaceByteInPlace(std::string& s, char old, char replacement,
                        TextEncoding encoding = TextEncoding::Gbk);

// The 32-bit integer s spells (decimal, or hexadecimal after "$", "x" or "0x"); EConvertError
// otherwise.
std::int32_t StrToIntStrict(std::string_view s);
// The same rule without the exception: nullopt where StrToIntStrict fails.
std::optional<std::int32_t> ParseIntStrict(std::string_view s);
// "'%s' is not a valid integer value", the reason a text that is no integer is refused with.
std::string NotAnIntegerReason(std::string_view s);

Text IntToText(std::int64_t n);

// The pieces of s between occurrences of the one-byte delimiter d; no pieces for the empty text.
TStringList SplitOnDelimiter(std::string_view s, char d);
// The same pieces as views into s, written into out (cleared first); the read path uses this
// to keep from copying every field.
void SplitViews(std::string_view s, char d, std::vector<std::string_view>& out);

// Reads the file at path into list, one item per line (cut at CR, LF or CR LF; the first NUL ends
// the text); EFOpenError when it cannot be opened (a missing file and a folder included), and then
// the list is left as it was.
void LoadTextLines(TStringList& list, const std::string& path);

std::int64_t RoundHalfEven(double x);

// Days since 30 December 1899 00:00 local time, to the millisecond.
double ClockNow();

// The user's long time pattern, as six settings, and what a pattern may add to them: its own
// text between minutes and seconds, and text after the seconds ("%H时%M分%S秒").
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

// A duration in days as hours, minutes and seconds. A duration, not a time of day: hours count
// on past 24 and never take a 12-hour clock or a marker; separators, suffix and leading zero
// follow fmt.
Text FormatElapsed(double days, const LongTimeFormat& fmt);

// Length in bytes of the character that starts at s[i] (i inside s), as far as s holds it: under
// GBK a lead byte 0x81-0xFE and the byte after it, or four bytes 81-FE 30-39 81-FE 30-39 (GB18030);
// under UTF-8 a lead byte and the continuation bytes after it. A byte that starts none counts 1.
std::size_t CharLength(std::string_view s, std::size_t i, TextEncoding encoding);

// Whether a GB18030 four-byte sequence (81-FE 30-39 81-FE 30-39) starts on a character boundary
// anywhere in bytes: a file that holds one is GB18030 rather than plain GBK.
bool HasFourByteSequence(std::string_view bytes);

// Position of the first occurrence of p in s that begins on a character boundary, walking s
// from its first byte; 0 when none. Keeps "页" and "CNY" from matching across two characters.
std::int64_t PosOnBoundary(std::string_view p, std::string_view s, TextEncoding encoding);

}  // namespace marc
