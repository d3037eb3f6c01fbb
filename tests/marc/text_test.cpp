// The byte-string operations at and beyond their edges.
#include "text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace marc {
namespace {

std::string Hex(const std::string& s) {
  std::string out;
  for (unsigned char c : s) out += "0123456789ABCDEF"[c >> 4], out += "0123456789ABCDEF"[c & 15];
  return out;
}

struct MidCase {
  const char* name;
  std::string s;
  std::int64_t start, count;
  std::string want;
};

void PrintTo(const MidCase& c, std::ostream* os) { *os << c.name; }

class MidTextTest : public testing::TestWithParam<MidCase> {};

TEST_P(MidTextTest, Cuts) {
  const MidCase& c = GetParam();
  EXPECT_EQ(MidText(c.s, c.start, c.count), c.want);
}

INSTANTIATE_TEST_SUITE_P(Edges, MidTextTest,
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

struct PosCase {
  const char* name;
  std::string p, s;
  std::int64_t from;  // 0: PosText
  std::int64_t want;
};

void PrintTo(const PosCase& c, std::ostream* os) { *os << c.name; }

class PosTextTest : public testing::TestWithParam<PosCase> {};

TEST_P(PosTextTest, Finds) {
  const PosCase& c = GetParam();
  if (c.from == 0) {
    EXPECT_EQ(PosText(c.p, c.s), c.want);
    EXPECT_EQ(PosTextFrom(c.p, c.s, 1), c.want) << "from 1 equals PosText";
  } else {
    EXPECT_EQ(PosTextFrom(c.p, c.s, c.from), c.want);
  }
}

INSTANTIATE_TEST_SUITE_P(Edges, PosTextTest,
                         testing::Values(PosCase{"Dollar", "$", "ab$cd$", 0, 3},
                                         PosCase{"Pair", "cd", "ab$cd$", 0, 4},
                                         PosCase{"Overlapping", "aa", "aaa", 0, 1},
                                         PosCase{"LongerThanText", "abcd", "abc", 0, 0},
                                         PosCase{"EmptyPattern", "", "abc", 0, 0},
                                         PosCase{"EmptyText", "a", "", 0, 0},
                                         PosCase{"InsideTwoByteCharacter", "A", "\x81\x41", 0, 2},
                                         PosCase{"CnyAfterLeadByte", "CNY",
                                                 "\x81"
                                                 "CNY",
                                                 0, 2},
                                         PosCase{"FromAtMatch", "$", "ab$cd$", 3, 3},
                                         PosCase{"FromAfterMatch", "$", "ab$cd$", 4, 6},
                                         PosCase{"FromPastEnd", "$", "ab$cd$", 7, 0},
                                         PosCase{"FromTooLateForPattern", "cd$", "ab$cd$", 5, 0},
                                         PosCase{"FromInEmptyText", "$", "", 2, 0},
                                         PosCase{"HugeFrom", "$", "ab$", INT64_MAX, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PosOnBoundary, SkipsMatchesInsideCharacters) {
  // 0xB3 0xD2 0xB3 0xD2: the bytes of 页 (D2 B3) straddle two characters.
  EXPECT_EQ(PosText("\xD2\xB3", "\xB3\xD2\xB3\xD2"), 2);
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

struct ReplaceCase {
  const char* name;
  std::string s, old, replacement, want;
};

void PrintTo(const ReplaceCase& c, std::ostream* os) { *os << c.name; }

class ReplaceAllTextTest : public testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceAllTextTest, Replaces) {
  const ReplaceCase& c = GetParam();
  EXPECT_EQ(ReplaceAllText(c.s, c.old, c.replacement), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, ReplaceAllTextTest,
    testing::Values(ReplaceCase{"IgnoresCase", "xAbab", "ab", "-", "x--"},
                    ReplaceCase{"NoOverlap", "aaa", "aa", "b", "ba"},
                    ReplaceCase{"ResultNotSearchedAgain", "a", "a", "aa", "aa"},
                    ReplaceCase{"Delimiters",
                                "A\x1F"
                                "bC\x1F",
                                "\x1F", "$", "A$bC$"},
                    ReplaceCase{"SecondByteIsNoMatch", "\x81\x41", "A", "-", "\x81\x41"},
                    ReplaceCase{"AfterWholeCharacter", "\x81\x41\x41", "A", "-", "\x81\x41-"},
                    ReplaceCase{"EvenLeadRun", "\xB0\xA1\x1F", "\x1F", "$", "\xB0\xA1$"},
                    ReplaceCase{"KeepsCaseOfInput", "aXbx", "x", "y", "ayby"},
                    ReplaceCase{"OnlyDelimiter", "\x1F", "\x1F", "$", "$"},
                    ReplaceCase{"NoDelimiter", "abc", "\x1F", "$", "abc"},
                    ReplaceCase{"EmptyText", "", "a", "b", ""},
                    ReplaceCase{"EmptyOld", "abc", "", "b", "abc"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplaceAllText, Utf8HasNoSecondByteRule) {
  EXPECT_EQ(ReplaceAllText("\x81\x41", "A", "-", TextEncoding::Utf8), "\x81-");
}

// The read path's in-place replacement is ReplaceAllText for one byte, on any bytes: runs of
// lead bytes of every parity before a delimiter, delimiters back to back.
TEST(ReplaceByteInPlace, AgreesWithReplaceAllText) {
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  const char alphabet[] = {'\x1F', '\x81', '\xB0', '\xFE', 'a', '$', '\x80', '\xFF', '\x1E'};
  for (int round = 0; round < 20000; ++round) {
    std::string s(next() % 24, ' ');
    for (char& c : s) c = alphabet[next() % sizeof alphabet];
    for (TextEncoding enc : {TextEncoding::Gb18030, TextEncoding::Utf8}) {
      std::string inPlace = s;
      ReplaceByteInPlace(inPlace, '\x1F', '$', enc);
      ASSERT_EQ(inPlace, ReplaceAllText(s, "\x1F", "$", enc)) << Hex(s);
      // A byte that can be a second byte follows the two-byte rule.
      std::string trail = s;
      ReplaceByteInPlace(trail, '\xB0', '$', enc);
      ASSERT_EQ(trail, ReplaceAllText(s, "\xB0", "$", enc)) << Hex(s);
    }
  }
}

TEST(ReplaceAllText, DelimiterReplacementKeepsLength) {
  std::string line =
      "00123nam0 2200037   450 \x1E"
      "10\x1F"
      "a\xCA\xE9\x1F"
      "f\xD6\xF8\x1E\x1D";
  const std::string out = ReplaceAllText(line, "\x1F", "$");
  EXPECT_EQ(out.size(), line.size());
  EXPECT_EQ(out.find('\x1F'), std::string::npos);
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

std::vector<std::string> Items(const TStringList& list) {
  std::vector<std::string> out;
  for (std::int64_t i = 0; i < list.Count(); ++i) out.push_back(list[i]);
  return out;
}

TEST(SplitOnDelimiter, Pieces) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Items(SplitOnDelimiter("", '\x1E')), V{});
  EXPECT_EQ(Items(SplitOnDelimiter("a", '\x1E')), V{"a"});
  EXPECT_EQ(Items(SplitOnDelimiter("\x1E"
                                   "a\x1E"
                                   "b",
                                   '\x1E')),
            (V{"", "a", "b"}));
  EXPECT_EQ(Items(SplitOnDelimiter("a\x1E", '\x1E')), (V{"a", ""}));
  EXPECT_EQ(Items(SplitOnDelimiter("\x1E\x1E", '\x1E')), (V{"", "", ""}));
}

TEST(TStringList, IndexOutOfBounds) {
  TStringList list;
  list.Add("x");
  EXPECT_EQ(list[0], "x");
  for (std::int64_t bad : {-1LL, 1LL, 1LL << 40}) {
    try {
      (void)list[bad];
      FAIL() << bad;
    } catch (const EStringListError& e) {
      EXPECT_EQ(std::string(e.what()), "List index out of bounds (" + std::to_string(bad) + ")");
    }
  }
}

struct LinesCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> want;
};

void PrintTo(const LinesCase& c, std::ostream* os) { *os << c.name; }

class LoadTextLinesTest : public testing::TestWithParam<LinesCase> {};

TEST_P(LoadTextLinesTest, CutsLines) {
  const LinesCase& c = GetParam();
  const auto path =
      std::filesystem::temp_directory_path() / ("tessaly_lines_" + std::string(c.name) + ".txt");
  std::ofstream(path, std::ios::binary) << c.bytes;
  TStringList list;
  list.Add("stale");
  LoadTextLines(list, path.string());
  std::filesystem::remove(path);
  EXPECT_EQ(Items(list), c.want);
}

using std::string_literals::operator""s;

INSTANTIATE_TEST_SUITE_P(LineEnds, LoadTextLinesTest,
                         testing::Values(LinesCase{"CrLf", "a\r\nb", {"a", "b"}},
                                         LinesCase{"FinalCrLfAddsNoLine", "a\r\n", {"a"}},
                                         LinesCase{"LfCrIsTwoEnds", "a\n\rb", {"a", "", "b"}},
                                         LinesCase{"CrCrLf", "a\r\r\nb", {"a", "", "b"}},
                                         LinesCase{"OnlyCrLf", "\r\n", {""}},
                                         LinesCase{"NoLineEnd", "abc", {"abc"}},
                                         LinesCase{"NulEndsText", "a\0b\r\nc"s, {"a"}},
                                         LinesCase{"NulInThirdLine",
                                                   "1\n2\n3\0"
                                                   "4\n5"s,
                                                   {"1", "2", "3"}},
                                         LinesCase{"NulFirst", "\0abc"s, {}},
                                         LinesCase{"Empty", "", {}},
                                         LinesCase{"CrOnly", "a\rb\r", {"a", "b"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LoadTextLines, MissingFileFailsAndKeepsList) {
  TStringList list;
  list.Add("kept");
  const std::string path = "no-such-dir-tessaly/missing.mrc";
  try {
    LoadTextLines(list, path);
    FAIL();
  } catch (const EFOpenError& e) {
    // The reason is the system's own text (strerror here, the message table on Windows; the
    // hostile-input and Windows tests hold each to its exact words).
    const std::string prefix =
        "Cannot open file \"" + std::filesystem::absolute(path).string() + "\". ";
    const std::string what = e.what();
    EXPECT_EQ(what.substr(0, prefix.size()), prefix);
    EXPECT_GT(what.size(), prefix.size());
  }
  EXPECT_EQ(Items(list), std::vector<std::string>{"kept"});
}

TEST(LoadTextLines, FolderFails) {
  TStringList list;
  EXPECT_THROW(LoadTextLines(list, std::filesystem::temp_directory_path().string()), EFOpenError);
}

struct ElapsedCase {
  const char* name;
  double seconds;
  LongTimeFormat fmt;
  std::string want;
};

LongTimeFormat Fmt(std::string sep, bool zero, bool h24) {
  LongTimeFormat f;
  f.separator = std::move(sep);
  f.leadingZeroHours = zero;
  f.twentyFourHour = h24;
  return f;
}

void PrintTo(const ElapsedCase& c, std::ostream* os) { *os << c.name; }

LongTimeFormat ChineseFmt() {
  LongTimeFormat f = Fmt("时", true, true);
  f.secondsSeparator = "分";
  f.suffix = "秒";
  return f;
}

class FormatElapsedTest : public testing::TestWithParam<ElapsedCase> {};

TEST_P(FormatElapsedTest, Formats) {
  const ElapsedCase& c = GetParam();
  EXPECT_EQ(FormatElapsed(c.seconds / 86400.0, c.fmt), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Durations, FormatElapsedTest,
    testing::Values(ElapsedCase{"Zero", 0, Fmt(":", false, true), "0:00:00"},
                    ElapsedCase{"DropsFraction", 7.4, Fmt(":", false, true), "0:00:07"},
                    ElapsedCase{"NoRoundingUp", 3723.999, Fmt(":", false, true), "1:02:03"},
                    ElapsedCase{"PastOneDay", 25 * 3600, Fmt(":", false, true), "25:00:00"},
                    ElapsedCase{"LeadingZero", 7, Fmt(":", true, true), "00:00:07"},
                    ElapsedCase{"OtherSeparator", 65, Fmt(".", false, true), "0.01.05"},
                    ElapsedCase{"EmptySeparator", 65, Fmt("", false, true), "00105"},
                    // A duration, not a time of day: no 12-hour clock, no marker.
                    ElapsedCase{"TwelveHourSettings", 7, Fmt(":", false, false), "0:00:07"},
                    ElapsedCase{"Negative", -2, Fmt(":", false, true), "0:00:02"},
                    ElapsedCase{"OwnTextsInTheirPlaces", 3725, ChineseFmt(), "01时02分05秒"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClockNow, CountsDaysSince1899) {
  const double now = ClockNow();
  EXPECT_GT(now, 45000.0);  // after 2023
  EXPECT_LT(now, 80000.0);
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
