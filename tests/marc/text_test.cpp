// The byte-string operations at and beyond their edges.
#include "text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace marc {
namespace {

struct MidCase {
  const char* name;
  std::string s;
  std::int64_t start, count;
  std::string want;
};

void PrintTo(const MidCase& c, std::ostream* os) { *os << c.name; }

class MidViewTest : public testing::TestWithParam<MidCase> {};

TEST_P(MidViewTest, Cuts) {
  const MidCase& c = GetParam();
  EXPECT_EQ(MidView(c.s, c.start, c.count), c.want);
}

INSTANTIATE_TEST_SUITE_P(Edges, MidViewTest,
                         testing::Values(MidCase{"Middle", "ABCDEF", 2, 3, "BCD"},
                                         MidCase{"StartZero", "ABCDEF", 0, 3, "ABC"},
                                         MidCase{"StartNegativeKeepsCount", "ABCDEF", -2, 3, "ABC"},
                                         MidCase{"CountPastEnd", "ABCDEF", 5, 10, "EF"},
                                         MidCase{"LastByte", "ABCDEF", 6, 1, "F"},
                                         MidCase{"StartPastEnd", "ABCDEF", 7, 1, ""},
                                         MidCase{"CountZero", "ABCDEF", 3, 0, ""},
                                         MidCase{"CountNegative", "ABCDEF", 3, -1, ""},
                                         MidCase{"EmptyText", "", 0, 5, ""},
                                         MidCase{"ShortWhole", "abc", 0, 5, "abc"},
                                         MidCase{"HugeStart", "ABCDEF", INT64_MAX, 1, ""},
                                         MidCase{"HugeNegativeStart", "ABCDEF", INT64_MIN, 2, "AB"},
                                         MidCase{"HugeCount", "ABCDEF", 2, INT64_MAX, "BCDEF"},
                                         MidCase{"Int32MinCount", "ABCDEF", 1, -2147483648LL, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PosOnBoundary, SkipsMatchesInsideCharacters) {
  // 0xB3 0xD2 0xB3 0xD2: the bytes of 页 (D2 B3) straddle two characters.
  EXPECT_EQ(PosOnBoundary("\xD2\xB3", "\xB3\xD2\xB3\xD2", TextEncoding::Gb18030), 0);
  // 0x81 0x43 is one character, so the first "CNY" is no match.
  EXPECT_EQ(PosOnBoundary("CNY",
                          "\x81"
                          "CNYCNY",
                          TextEncoding::Gb18030),
            5);
  EXPECT_EQ(PosOnBoundary("CNY", "aCNY", TextEncoding::Gb18030), 2);
  // A lone lead byte at the end is a character of its own.
  EXPECT_EQ(PosOnBoundary("\x81", "ab\x81", TextEncoding::Gb18030), 3);
  // UTF-8: 页 is E9 A1 B5; a match may not start on a continuation byte.
  EXPECT_EQ(PosOnBoundary("\xA1\xB5", "\xE9\xA1\xB5", TextEncoding::Utf8), 0);
  EXPECT_EQ(PosOnBoundary("\xE9\xA1\xB5", "12\xE9\xA1\xB5", TextEncoding::Utf8), 3);
}

struct IntCase {
  const char* name;
  std::string s;
  bool ok;
  std::int32_t want;
};

void PrintTo(const IntCase& c, std::ostream* os) { *os << c.name; }

class StrToIntStrictTest : public testing::TestWithParam<IntCase> {};

TEST_P(StrToIntStrictTest, Converts) {
  const IntCase& c = GetParam();
  if (c.ok) {
    EXPECT_EQ(StrToIntStrict(c.s), c.want);
  } else {
    try {
      StrToIntStrict(c.s);
      FAIL() << "accepted '" << c.s << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + c.s + "' is not a valid integer value");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, StrToIntStrictTest,
    testing::Values(IntCase{"LeadingZeros", "00958", true, 958},
                    IntCase{"LeadingBlanks", "  42", true, 42}, IntCase{"Plus", "+7", true, 7},
                    IntCase{"Minus", "-12", true, -12}, IntCase{"Zero", "0", true, 0},
                    IntCase{"MinusZero", "  -0", true, 0}, IntCase{"DollarHex", "$1F", true, 31},
                    IntCase{"ZeroXHex", "0x1f", true, 31}, IntCase{"XHex", "x10", true, 16},
                    IntCase{"NegativeHex", "-$10", true, -16},
                    IntCase{"AllOnesHex", "$FFFFFFFF", true, -1},
                    IntCase{"MinHex", "$80000000", true, INT32_MIN},
                    IntCase{"NegatedMinHex", "-$80000000", true, INT32_MIN},
                    IntCase{"LeadingZerosFreeInHex", "$000000001", true, 1},
                    IntCase{"Max", "2147483647", true, INT32_MAX},
                    IntCase{"Min", "-2147483648", true, INT32_MIN}, IntCase{"Empty", "", false, 0},
                    IntCase{"Blanks", "   ", false, 0}, IntCase{"SignAlone", "-", false, 0},
                    IntCase{"DollarAlone", "$", false, 0}, IntCase{"ZeroXAlone", "0x", false, 0},
                    IntCase{"TrailingBlank", "12 ", false, 0},
                    IntCase{"InnerBlank", "1 2", false, 0},
                    IntCase{"SignThenBlank", "- 2", false, 0}, IntCase{"Letter", "4a", false, 0},
                    IntCase{"Tab", "\t5", false, 0}, IntCase{"PastMax", "2147483648", false, 0},
                    IntCase{"PastMin", "-2147483649", false, 0},
                    IntCase{"NineHexDigits", "$100000000", false, 0},
                    IntCase{"ManyDigits", "99999999999999999999999", false, 0},
                    IntCase{"TwoSigns", "+-1", false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StrToIntStrict, EmptyMessageStartsWithTwoApostrophes) {
  try {
    StrToIntStrict("");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "'' is not a valid integer value");
  }
}

TEST(IntToText, Decimal) {
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(12), "12");
  EXPECT_EQ(IntToText(-7), "-7");
}

TEST(RoundHalfEven, TiesToEven) {
  const std::vector<std::pair<double, std::int64_t>> cases = {
      {0.5, 0},      {1.5, 2},       {2.5, 2},       {0.0, 0},       {5 / 12.0, 0}, {6 / 12.0, 0},
      {7 / 12.0, 1}, {18 / 12.0, 2}, {24 / 12.0, 2}, {30 / 12.0, 2}, {42 / 12.0, 4}};
  for (auto [x, want] : cases) EXPECT_EQ(RoundHalfEven(x), want) << x;
}

TEST(HasFourByteSequence, OnlyOnACharacterBoundary) {
  EXPECT_TRUE(HasFourByteSequence("title \x95\x32\x82\x36"));
  EXPECT_FALSE(HasFourByteSequence("\xCA\xE9 ISBN 7-1"));
  EXPECT_FALSE(HasFourByteSequence("\x81\x95\x32\x82\x36"));  // 81 95 is one character
  EXPECT_FALSE(HasFourByteSequence("\x95\x32\x82"));          // cut short
  // At every place in a longer text (the search goes sixteen bytes at a time).
  for (std::size_t at = 0; at <= 40; ++at) {
    const std::string text = std::string(at, 'a') + "\x95\x32\x82\x36" + std::string(40 - at, 'b');
    EXPECT_TRUE(HasFourByteSequence(text)) << at;
    EXPECT_FALSE(HasFourByteSequence(text.substr(0, at) + "\x81" + text.substr(at))) << at;
  }
}

// 16 MB with no byte below 0x30 (no line, no record: a file that is no record text), a candidate
// every six bytes, none on a boundary. Walked back from every candidate, this takes hours.
TEST(HasFourByteSequence, LongRunWithoutLowBytesIsWalkedOnce) {
  std::string text;
  text.reserve(16u << 20);
  while (text.size() < (16u << 20)) text += "\x81\x81\x30\x81\x30\x41";  // 81 81|30|81 30|41
  EXPECT_FALSE(HasFourByteSequence(text));
  EXPECT_TRUE(HasFourByteSequence(text + "\x95\x32\x82\x36"));
}

}  // namespace
}  // namespace marc
