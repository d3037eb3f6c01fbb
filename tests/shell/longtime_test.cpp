// Reading the long time settings from a locale's time pattern.
#include "longtime.h"

#include <gtest/gtest.h>

namespace tessaly {
namespace {

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
  const marc::LongTimeFormat f = LongTimeFormatFromPattern(c.pattern, "AM", "PM");
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

}  // namespace
}  // namespace tessaly
