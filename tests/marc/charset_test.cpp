// The text conversion against the conformance table, and the GB18030 encoder.
#include "charset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conformance.h"

namespace marc {
namespace {

using tessaly::test::ConformanceCase;

class ConformanceTest : public testing::TestWithParam<ConformanceCase> {};

TEST_P(ConformanceTest, GivesTheCodePoints) {
  const ConformanceCase& c = GetParam();
  // A buffer of exactly the bytes, so that a read past the cell's end shows under ASan.
  const std::vector<char> exact(c.bytes.begin(), c.bytes.end());
  const std::string_view bytes(exact.data(), exact.size());
  Replacements r16, r8;
  EXPECT_EQ(DecodeToUtf16(bytes, c.encoding, &r16), c.want);
  EXPECT_EQ(DecodeToUtf8(bytes, c.encoding, &r8), EncodeUtf16(c.want, TextEncoding::Utf8));
  EXPECT_EQ(r16.count, c.replaced);
  EXPECT_EQ(r8.count, c.replaced);
}

INSTANTIATE_TEST_SUITE_P(Table, ConformanceTest,
                         testing::ValuesIn(tessaly::test::ConformanceCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Replacements, AddUpAcrossCellsAndKeepTheFirstOffset) {
  Replacements r;
  DecodeToUtf8("ab\xFF", TextEncoding::Gb18030, &r);
  DecodeToUtf8("\xFF", TextEncoding::Gb18030, &r);
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(r.firstOffset, 2);
}

// Encoding is the exact inverse of decoding over every character the tables hold.
TEST(Gb18030Encoding, RoundTripsEveryTwoAndFourByteCharacter) {
  std::string bytes;
  for (int lead = 0x81; lead <= 0xFE; ++lead)
    for (int trail = 0x40; trail <= 0xFE; ++trail)
      if (trail != 0x7F) bytes += {char(lead), char(trail)};
  for (int p = 0; p <= 39419; ++p)
    bytes += {char(0x81 + p / 12600), char(0x30 + p / 1260 % 10), char(0x81 + p / 10 % 126),
              char(0x30 + p % 10)};
  Replacements r;
  const std::u16string text = DecodeToUtf16(bytes, TextEncoding::Gb18030, &r);
  EXPECT_EQ(r.count, 0);
  EXPECT_TRUE(EncodeUtf16(text, TextEncoding::Gb18030) == bytes);
}

TEST(Gb18030Encoding, KeepsCharactersOutsideGbk) {
  EXPECT_EQ(EncodeUtf16(u"\U00020000\u4DAE€A", TextEncoding::Gb18030),
            "\x95\x32\x82\x36\xFE\x9F\xA2\xE3"
            "A");
  EXPECT_EQ(EncodeUtf16(u"\xD800x", TextEncoding::Gb18030), "\x84\x31\xA4\x37x");  // lone surrogate
  EXPECT_EQ(EncodeUtf16(u"\U00020000\xDC00", TextEncoding::Utf8), "\xF0\xA0\x80\x80\xEF\xBF\xBD");
}

}  // namespace
}  // namespace marc
