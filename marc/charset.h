// The one conversion between a record file's bytes and Unicode, used by every path that shows,
// prints or exports text. A file that is not UTF-8 is read as GB18030 (a superset of code page
// 936), both by the decoders of the WHATWG Encoding Standard in replacement mode: every malformed
// byte sequence becomes one U+FFFD, and a byte that cannot continue a sequence starts the next.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text.h"

namespace marc {

// How many malformed sequences a decode replaced, and where the first one began.
struct Replacements {
  std::int64_t count = 0;
  std::int64_t firstOffset = -1;  // 0-based byte offset in the decoded text; -1 when none
};

// Decodes bytes of the given encoding into well-formed UTF-8 or UTF-16. Each call stands alone:
// no state is carried from a neighbouring cell. When replaced is given, the malformed sequences
// are added to it.
std::string DecodeToUtf8(std::string_view bytes, TextEncoding encoding,
                         Replacements* replaced = nullptr);
std::u16string DecodeToUtf16(std::string_view bytes, TextEncoding encoding,
                             Replacements* replaced = nullptr);

// Encodes UTF-16 text into the encoding: every character is kept, under GB18030 too (a character
// outside GBK takes four bytes). A lone surrogate is written as U+FFFD.
std::string EncodeUtf16(std::u16string_view text, TextEncoding encoding);

}  // namespace marc
