// The text conversion against a conformance table: the code points each byte string must give.
#include "charset.h"

#include <gtest/gtest.h>

#include <string>

namespace marc {
namespace {

constexpr TextEncoding G = TextEncoding::Gbk;
constexpr TextEncoding U = TextEncoding::Utf8;

struct DecodeCase {
  const char* name;
  TextEncoding encoding;
  std::string bytes;
  std::u16string want;
  int replaced;  // malformed sequences
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

// UTF-8 of well-formed UTF-16, so the UTF-8 decoding can be held against the same column.
std::string Utf8(std::u16string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00) c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
      out += {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
    } else {
      out += {char(0xF0 | c >> 18), char(0x80 | (c >> 12 & 0x3F)), char(0x80 | (c >> 6 & 0x3F)),
              char(0x80 | (c & 0x3F))};
    }
  }
  return out;
}

class ConformanceTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(ConformanceTest, GivesTheCodePoints) {
  const DecodeCase& c = GetParam();
  Replacements r16, r8;
  EXPECT_EQ(DecodeToUtf16(c.bytes, c.encoding, &r16), c.want);
  EXPECT_EQ(DecodeToUtf8(c.bytes, c.encoding, &r8), Utf8(c.want));
  EXPECT_EQ(r16.count, c.replaced);
  EXPECT_EQ(r8.count, c.replaced);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConformanceTest,
    testing::Values(
        // GB18030: well-formed
        DecodeCase{"Ascii", G, "ISBN 7-1", u"ISBN 7-1", 0},
        DecodeCase{"TwoByte", G, "\xCA\xE9", u"书", 0},
        DecodeCase{"ByteEightyIsEuro", G, "\x80", u"€", 0},
        DecodeCase{"EuroInTwoBytes", G, "\xA2\xE3", u"€", 0},
        DecodeCase{"FE9FIsNotPrivateUse", G, "\xFE\x9F", u"\u4DAE", 0},
        DecodeCase{"FourByteFirst", G, "\x81\x30\x81\x30", u"\u0080", 0},
        DecodeCase{"FourByteSpecialE7C7", G, "\x81\x35\xF4\x37", u"\uE7C7", 0},
        DecodeCase{"FourByteLastBmp", G, "\x84\x31\xA4\x39", u"\uFFFF", 0},
        DecodeCase{"FourByteRealReplacementChar", G, "\x84\x31\xA4\x37", u"\uFFFD", 0},
        DecodeCase{"Supplementary20000", G, "\x95\x32\x82\x36", u"\U00020000", 0},
        DecodeCase{"Supplementary2CC56", G, "\x99\x33\xC3\x36", u"\U0002CC56", 0},
        DecodeCase{"LastCodePoint", G, "\xE3\x32\x9A\x35", u"\U0010FFFF", 0},
        // GB18030: every malformed shape once
        DecodeCase{"LeadThenAsciiKeepsAscii", G, "\xC2\x2E", u"\uFFFD.", 1},
        DecodeCase{"LeadThenDelete", G, "\x81\x7F", u"\uFFFD\x7F", 1},
        DecodeCase{"LeadThenFF", G, "\x81\xFFZ", u"\uFFFDZ", 1},
        DecodeCase{"ByteFF", G,
                   "a\xFF"
                   "b",
                   u"a\uFFFDb", 1},
        DecodeCase{"ThirdNotLead", G, "\x95\x32\x41",
                   u"\uFFFD"
                   "2A",
                   1},
        DecodeCase{"FourthNotDigit", G, "\x81\x30\x81\x40",
                   u"\uFFFD"
                   "0丂",
                   1},
        DecodeCase{"PointerInTheGap", G, "\x84\x31\xA5\x30Z", u"\uFFFDZ", 1},
        DecodeCase{"PointerPastTheEnd", G, "\xE3\x32\x9A\x36Z", u"\uFFFDZ", 1},
        // GB18030: cut short at the end of a cell
        DecodeCase{"EndsAfterLead", G, "A\x81", u"A\uFFFD", 1},
        DecodeCase{"EndsAfterSecond", G, "\x95\x32", u"\uFFFD", 1},
        DecodeCase{"EndsAfterThird", G, "\x95\x32\x82", u"\uFFFD", 1},
        DecodeCase{"TwoBrokenInARow", G, "\x81\x30\x81\x30\x81\x30", u"\u0080\uFFFD", 1},
        // UTF-8
        DecodeCase{"Utf8ThreeByte", U, "\xE4\xB9\xA6", u"书", 0},
        DecodeCase{"Utf8FourByte", U, "\xF0\xA0\x80\x80", u"\U00020000", 0},
        DecodeCase{"Utf8EndsInsideSequence", U, "a\xE4\xB9", u"a\uFFFD", 1},
        DecodeCase{"Utf8AsciiEndsSequence", U, "\xE4\x41", u"\uFFFDA", 1},
        DecodeCase{"Utf8StrayContinuation", U, "\x80", u"\uFFFD", 1},
        DecodeCase{"Utf8Overlong", U, "\xC0\x80", u"\uFFFD\uFFFD", 2},
        DecodeCase{"Utf8Surrogate", U, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", 3},
        DecodeCase{"Utf8PastLastCodePoint", U, "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", 4},
        DecodeCase{"Utf8NoLeadByte", U, "\xF8", u"\uFFFD", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Replacements, AddUpAcrossCellsAndKeepTheFirstOffset) {
  Replacements r;
  DecodeToUtf8("ab\xFF", TextEncoding::Gbk, &r);
  DecodeToUtf8("\xFF", TextEncoding::Gbk, &r);
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
  const std::u16string text = DecodeToUtf16(bytes, TextEncoding::Gbk, &r);
  EXPECT_EQ(r.count, 0);
  EXPECT_TRUE(EncodeUtf16(text, TextEncoding::Gbk) == bytes);
}

TEST(Gb18030Encoding, KeepsCharactersOutsideGbk) {
  EXPECT_EQ(EncodeUtf16(u"\U00020000\u4DAE€A", TextEncoding::Gbk),
            "\x95\x32\x82\x36\xFE\x9F\xA2\xE3"
            "A");
  EXPECT_EQ(EncodeUtf16(u"\xD800x", TextEncoding::Gbk), "\x84\x31\xA4\x37x");  // lone surrogate
  EXPECT_EQ(EncodeUtf16(u"\U00020000\xDC00", TextEncoding::Utf8), "\xF0\xA0\x80\x80\xEF\xBF\xBD");
}

}  // namespace
}  // namespace marc
