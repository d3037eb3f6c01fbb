// Reading the long time settings from a locale's time pattern, and the elapsed time spelt in
// them.
#include "longtime.h"

#include <gtest/gtest.h>

namespace tessaly {
namespace {

using namespace std::chrono_literals;

LongTimeFormat Fmt(std::string sep, bool zero, bool h24) {
  LongTimeFormat f;
  f.separator = std::move(sep);
  f.leadingZeroHours = zero;
  f.twentyFourHour = h24;
  return f;
}

LongTimeFormat ChineseFmt() {
  LongTimeFormat f = Fmt("时", true, true);
  f.secondsSeparator = "分";
  f.suffix = "秒";
  return f;
}

struct ElapsedCase {
  const char* name;
  std::chrono::steady_clock::duration elapsed;
  LongTimeFormat fmt;
  std::string want;
};

void PrintTo(const ElapsedCase& c, std::ostream* os) { *os << c.name; }

class FormatElapsedTest : public testing::TestWithParam<ElapsedCase> {};

TEST_P(FormatElapsedTest, Formats) {
  const ElapsedCase& c = GetParam();
  EXPECT_EQ(FormatElapsed(c.elapsed, c.fmt), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Durations, FormatElapsedTest,
    testing::Values(ElapsedCase{"Zero", 0s, Fmt(":", false, true), "0:00:00"},
                    ElapsedCase{"DropsFraction", 7400ms, Fmt(":", false, true), "0:00:07"},
                    ElapsedCase{"NoRoundingUp", 3723999ms, Fmt(":", false, true), "1:02:03"},
                    ElapsedCase{"PastOneDay", 25h, Fmt(":", false, true), "25:00:00"},
                    ElapsedCase{"LeadingZero", 7s, Fmt(":", true, true), "00:00:07"},
                    ElapsedCase{"OtherSeparator", 65s, Fmt(".", false, true), "0.01.05"},
                    ElapsedCase{"EmptySeparator", 65s, Fmt("", false, true), "00105"},
                    // A duration, not a time of day: no 12-hour clock, no marker.
                    ElapsedCase{"TwelveHourSettings", 7s, Fmt(":", false, false), "0:00:07"},
                    ElapsedCase{"NegativeIsNone", -2s, Fmt(":", false, true), "0:00:00"},
                    ElapsedCase{"OwnTextsInTheirPlaces", 3725s, ChineseFmt(), "01时02分05秒"}),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32

struct PatternCase {
  const char* name;
  const char* pattern;
  const char* separator;
  bool leadingZero, twentyFour, markerFirst;
  const char* secondsSeparator = nullptr;  // none: the separator again
  const char* suffix = "";
};

void PrintTo(const PatternCase& c, std::ostream* os) { *os << c.name; }

class LongTimePatternTest : public testing::TestWithParam<PatternCase> {};

TEST_P(LongTimePatternTest, Settings) {
  const PatternCase& c = GetParam();
  const LongTimeFormat f = LongTimeFormatFromPattern(c.pattern, "AM", "PM");
  EXPECT_EQ(f.separator, c.separator);
  EXPECT_EQ(f.leadingZeroHours, c.leadingZero);
  EXPECT_EQ(f.twentyFourHour, c.twentyFour);
  EXPECT_EQ(f.markerFirst, c.markerFirst);
  EXPECT_EQ(f.amMarker, "AM");
  EXPECT_EQ(f.secondsSeparator,
            c.secondsSeparator ? std::optional<std::string>(c.secondsSeparator) : std::nullopt);
  EXPECT_EQ(f.suffix, c.suffix);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, LongTimePatternTest,
    testing::Values(PatternCase{"C", "%H:%M:%S", ":", true, true, false},
                    PatternCase{"Twelve", "%I:%M:%S %p", ":", true, false, false},
                    PatternCase{"Ampm", "%r", ":", true, false, false},
                    PatternCase{"ChineseMarkerFirst",
                                "%p %I\xE6\x97\xB6%M\xE5\x88\x86%S\xE7\xA7\x92", "\xE6\x97\xB6",
                                true, false, true, "\xE5\x88\x86", "\xE7\xA7\x92"},
                    // glibc's zh_CN: 时, 分 and 秒 each in its place.
                    PatternCase{"ChineseHourMinuteSecond",
                                "%H\xE6\x97\xB6%M\xE5\x88\x86%S\xE7\xA7\x92", "\xE6\x97\xB6", true,
                                true, false, "\xE5\x88\x86", "\xE7\xA7\x92"},
                    PatternCase{"Suffix", "%H:%M:%S Uhr", ":", true, true, false, nullptr, " Uhr"},
                    PatternCase{"Unpadded", "%-H.%M.%S", ".", false, true, false},
                    PatternCase{"SpacePadded", "%k:%M:%S", ":", false, true, false},
                    PatternCase{"T", "%T", ":", true, true, false},
                    PatternCase{"LiteralPercent", "%%H %H-%M", "-", true, true, false},
                    PatternCase{"NoHours", "%M:%S", ":", false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

}  // namespace
}  // namespace tessaly
