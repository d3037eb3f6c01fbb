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
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, LongTimePatternTest,
    testing::Values(PatternCase{"C", "%H:%M:%S", ":", true, true, false},
                    PatternCase{"Twelve", "%I:%M:%S %p", ":", true, false, false},
                    PatternCase{"Ampm", "%r", ":", true, false, false},
                    PatternCase{"ChineseMarkerFirst",
                                "%p %I\xE6\x97\xB6%M\xE5\x88\x86%S\xE7\xA7\x92", "\xE6\x97\xB6",
                                true, false, true},
                    PatternCase{"Unpadded", "%-H.%M.%S", ".", false, true, false},
                    PatternCase{"SpacePadded", "%k:%M:%S", ":", false, true, false},
                    PatternCase{"T", "%T", ":", true, true, false},
                    PatternCase{"LiteralPercent", "%%H %H-%M", "-", true, true, false},
                    PatternCase{"NoHours", "%M:%S", ":", false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tessaly
