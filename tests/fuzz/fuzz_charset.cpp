// The text conversion on any bytes, in both encodings: the UTF-8 and UTF-16 results are the same
// characters and well formed; a U+FFFD is written for every sequence counted as malformed; and
// GB18030 encoding gives back bytes that decode to the very same characters.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "charset.h"

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Exactly the input's bytes, so that a read past the end is caught.
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (marc::TextEncoding enc : {marc::TextEncoding::Gb18030, marc::TextEncoding::Utf8}) {
    marc::Replacements r16, r8;
    const std::u16string text = marc::DecodeToUtf16(bytes, enc, &r16);
    const std::string utf8 = marc::DecodeToUtf8(bytes, enc, &r8);
    if (r16.count != r8.count || r16.firstOffset != r8.firstOffset)
      Broken("UTF-8 and UTF-16 count differently");
    if (marc::EncodeUtf16(text, marc::TextEncoding::Utf8) != utf8)
      Broken("UTF-8 and UTF-16 give different characters");
    marc::Replacements again;
    if (marc::DecodeToUtf8(utf8, marc::TextEncoding::Utf8, &again) != utf8 || again.count != 0)
      Broken("the UTF-8 written is not well formed");
    std::size_t fffd = 0;
    for (char16_t c : text) fffd += c == 0xFFFD;
    if (static_cast<std::size_t>(r16.count) > fffd) Broken("more replacements than U+FFFD");
    if ((r16.count == 0) != (r16.firstOffset < 0) ||
        r16.firstOffset >= static_cast<std::int64_t>(size))
      Broken("the first replacement's offset");
    const std::string gb = marc::EncodeUtf16(text, marc::TextEncoding::Gb18030);
    marc::Replacements none;
    if (marc::DecodeToUtf16(gb, marc::TextEncoding::Gb18030, &none) != text || none.count != 0)
      Broken("GB18030 does not round-trip");
  }
  return 0;
}
