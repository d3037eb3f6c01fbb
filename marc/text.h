// Byte-string operations the decoder is written in. Texts are byte strings; positions are
// 1-based and lengths count bytes. Searches give 0 for "not found"; cuts clamp, never fail.
// Positions and counts are 64-bit so that arithmetic on a hostile leader cannot overflow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "errors.h"

namespace marc {

using Text = std::string;

// How the bytes of a record file spell characters.
enum class TextEncoding {
  // GB18030, the superset of GBK (code page 936) that files in either are read as: a byte
  // 0x81-0xFE starts a two- or four-byte character. Users see "GBK", or "GB18030" for a file
  // that holds four-byte characters.
  Gb18030,
  Utf8,  // a lead byte and its continuation bytes are one character
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

// The 32-bit integer s spells (decimal, or hexadecimal after "$", "x" or "0x"); EConvertError
// otherwise.
std::int32_t StrToIntStrict(std::string_view s);
// The same rule without the exception: nullopt where StrToIntStrict fails.
std::optional<std::int32_t> ParseIntStrict(std::string_view s);
// "'%s' is not a valid integer value", the reason a text that is no integer is refused with.
std::string NotAnIntegerReason(std::string_view s);

// Appends text as one field of a tab-separated line: backslash, TAB, CR and LF written as \\,
// \t, \r and \n, so that a field never cuts its line or splits into two fields.
void AppendTsvField(std::string& out, std::string_view text);

Text IntToText(std::int64_t n);

std::int64_t RoundHalfEven(double x);

// Length in bytes of the character that starts at s[i] (i inside s), as far as s holds it: under
// GB18030 a lead byte 0x81-0xFE and the byte after it, or four bytes 81-FE 30-39 81-FE 30-39
// (GB18030); under UTF-8 a lead byte and the continuation bytes after it. A byte that starts none
// counts 1.
std::size_t CharLength(std::string_view s, std::size_t i, TextEncoding encoding);

// Whether a GB18030 four-byte sequence (81-FE 30-39 81-FE 30-39) starts on a character boundary
// anywhere in bytes: a file that holds one is GB18030 rather than plain GBK.
bool HasFourByteSequence(std::string_view bytes);

// Position of the first occurrence of p in s that begins on a character boundary, walking s
// from its first byte; 0 when none. Keeps "页" and "CNY" from matching across two characters.
std::int64_t PosOnBoundary(std::string_view p, std::string_view s, TextEncoding encoding);

}  // namespace marc
