// The extractors over field texts (subfield delimiters already "$"), one named row per case.
#include "extract.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace marc {
namespace {

// GBK spellings used below.
#define YE "\xD2\xB3"                 // 页
#define GUANG_PAN "\xB9\xE2\xC5\xCC"  // 光盘
#define HAN "\xBA\xAC"                // 含
#define NIAN "\xC4\xEA"               // 年

using Extractor = std::function<Text(std::string_view)>;

struct ExtractCase {
  const char* name;
  Extractor extract;
  std::string field;
  std::string want;
};

void PrintTo(const ExtractCase& c, std::ostream* os) { *os << c.name; }

class ExtractTest : public testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractTest, Cell) {
  const ExtractCase& c = GetParam();
  EXPECT_EQ(c.extract(c.field), c.want) << "field: " << c.field;
}

Text Price(std::string_view s) { return ExtractPrice(s); }
Text PubDate(std::string_view s) { return ExtractPubDate(s); }
Text PagesOf(std::string_view s) { return ExtractPages(s); }

INSTANTIATE_TEST_SUITE_P(
    Fields, ExtractTest,
    testing::Values(
        // 200: title $a, author $f, each its own subfield whatever the order.
        ExtractCase{"TitleAndAuthor", ExtractTitle, "10$aXYZ$fABC", "XYZ"},
        ExtractCase{"AuthorAfterTitle", ExtractAuthor, "10$aXYZ$fABC", "ABC"},
        ExtractCase{"TitleLastSubfield", ExtractTitle, "10$aXYZ", "XYZ"},
        ExtractCase{"AuthorMissing", ExtractAuthor, "10$aXYZ", ""},
        ExtractCase{"TitleMissing", ExtractTitle, "10$fABC", ""},
        ExtractCase{"NoIndicators", ExtractTitle, "$aXYZ$fABC", "XYZ"},
        ExtractCase{"TitleAfterOtherSubfield", ExtractTitle, "10$eQQ$aXYZ$fABC", "XYZ"},
        ExtractCase{"PinyinUpperCaseFirst", ExtractTitle, "1 $AShao Nian$a\xC9\xD9\xC4\xEA$9shao",
                    "\xC9\xD9\xC4\xEA"},
        ExtractCase{"RepeatedTitleTakesFirst", ExtractTitle, "1 $aONE$aTWO", "ONE"},
        ExtractCase{"EmptyTitle", ExtractTitle, "1 $a$fX", ""},
        ExtractCase{"EmptyField", ExtractTitle, "", ""},
        // 010: ISBN $a; price after "CNY" to the next "$", cut two bytes past its ".".
        ExtractCase{"IsbnBeforePrice", ExtractIsbn, "11$a7-111-22222-3$dCNY25.00", "7-111-22222-3"},
        ExtractCase{"IsbnAlone", ExtractIsbn, "11$a7-111-22222-3", "7-111-22222-3"},
        ExtractCase{"IsbnMissing", ExtractIsbn, "11$dCNY1234.5", ""},
        ExtractCase{"Price", Price, "11$a7-111-22222-3$dCNY25.00", "25.00"},
        ExtractCase{"PriceWithoutDot", Price, "11$a7$dCNY25", "25"},
        ExtractCase{"PriceOneDecimal", Price, "11$dCNY1234.5", "1234.5"},
        ExtractCase{"PriceCutAfterTwoDecimals", Price, "11$dCNY3.456", "3.45"},
        ExtractCase{"PriceStopsAtNextSubfield", Price, "11$dCNY12$bX.99", "12"},
        ExtractCase{"PriceWithNote", Price, "  $a978-7$dCNY79.00 (" HAN GUANG_PAN ")", "79.00"},
        ExtractCase{"PriceNoCny", Price, "11$a7-111$d12.00", ""},
        ExtractCase{"PriceBareCny", Price, "  $a7$dCNY", ""},
        ExtractCase{"PriceCnyThenSubfield", Price, "  $dCNY$b1", ""},
        ExtractCase{"PriceGift", Price,
                    "  $dCNY\xD4\xF9"
                    "90.00",
                    "\xD4\xF9"
                    "90.00"},
        ExtractCase{"PriceCnyInsideCharacter", Price,
                    "  $a\x81"
                    "CNY5.00",
                    ""},
        // 210: place $a, publisher $c, date $d (at most 8 bytes, never half a character).
        ExtractCase{"Place", ExtractPubPlace, "11$aPLACE$cPUB$d2001", "PLACE"},
        ExtractCase{"Publisher", ExtractPublisher, "11$aPLACE$cPUB$d2001", "PUB"},
        ExtractCase{"PublisherLast", ExtractPublisher, "11$aPLACE$cPUB", "PUB"},
        ExtractCase{"Date", PubDate, "11$aPLACE$cPUB$d2001", "2001"},
        ExtractCase{"DateMissing", PubDate, "11$aPLACE$cPUB", ""},
        ExtractCase{"DateMonth", PubDate, "  $a\xB1\xB1\xBE\xA9$d1985.07", "1985.07"},
        ExtractCase{"DateCutAtEight", PubDate, "11$d2001.10.5", "2001.10."},
        ExtractCase{"DateStopsAtSubfield", PubDate, "11$d2001$eXY$gZ", "2001"},
        ExtractCase{"DateCutNotInCharacter", PubDate, "11$d20010" NIAN NIAN, "20010" NIAN},
        ExtractCase{"DateEightEndsOnCharacter", PubDate, "11$d2001" NIAN NIAN, "2001" NIAN NIAN},
        ExtractCase{"PlaceMissing", ExtractPubPlace, "11$d2001.10.5", ""},
        // 215: pages $a up to and including 页, size $d, accompanying material after $e.
        ExtractCase{"Pages", PagesOf, "11$a123" YE "$d26cm$e1" GUANG_PAN, "123" YE},
        ExtractCase{"PagesWithoutYe", PagesOf, "11$a123p.$d26cm", "123p."},
        ExtractCase{"PagesVolumes", PagesOf, "  $a3\xB2\xE1(50,23,1942" YE ")",
                    "3\xB2\xE1(50,23,1942" YE},
        ExtractCase{"PagesYeInLaterSubfield", PagesOf, "  $a12$c5" YE, "12"},
        ExtractCase{"PagesYeAcrossCharacters", PagesOf, "  $a\xB3\xD2\xB3\xD2", "\xB3\xD2\xB3\xD2"},
        ExtractCase{"PagesZero", PagesOf, "  $a0", "0"},
        ExtractCase{"Size", ExtractDimensions, "11$a123" YE "$d26cm$e1" GUANG_PAN, "26cm"},
        ExtractCase{"SizeMissing", ExtractDimensions, "11$a123" YE, ""},
        ExtractCase{"Accompanying", ExtractAccompanying, "11$a1$d26cm$e1" GUANG_PAN, "1" GUANG_PAN},
        ExtractCase{"AccompanyingRest", ExtractAccompanying, "11$e1CD$f2", "1CD$f2"},
        ExtractCase{"AccompanyingMissing", ExtractAccompanying, "11$a123p.$d26cm", ""},
        // 690, 606: class number and subject heading $a.
        ExtractCase{"ClassNumber", ExtractClassNumber, "11$aI247.5$b4", "I247.5"},
        ExtractCase{"ClassNumberLast", ExtractClassNumber, "11$aI247.5", "I247.5"},
        ExtractCase{"ClassNumberAfterCode", ExtractClassNumber, "  $9x$aTP18$v5", "TP18"},
        ExtractCase{"Subject", ExtractSubjectHeading, "01$aSUBJ$xSUB2", "SUBJ"},
        ExtractCase{"SubjectLast", ExtractSubjectHeading, "01$aSUBJ", "SUBJ"},
        ExtractCase{"SubjectAfterSource", ExtractSubjectHeading, "0 $4x$aSUBJ", "SUBJ"},
        // 330: the rest of the field after $a.
        ExtractCase{"Summary", ExtractSummary, "11$aTEXT$bMORE", "TEXT$bMORE"},
        ExtractCase{"SummaryMissing", ExtractSummary, "11NOSUB", ""},
        ExtractCase{"SummaryEmpty", ExtractSummary, "  $a", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Extract, Utf8FollowsCharacters) {
  // 页 in UTF-8, and a date cut that would split a three-byte character.
  EXPECT_EQ(ExtractPages("  $a206\xE9\xA1\xB5$d21cm", TextEncoding::Utf8), "206\xE9\xA1\xB5");
  EXPECT_EQ(ExtractPubDate("  $d2001\xE5\xB9\xB4\xE5\xB9\xB4", TextEncoding::Utf8),
            "2001\xE5\xB9\xB4");
  // Under GBK the UTF-8 bytes of 页 are not 页.
  EXPECT_EQ(ExtractPages("  $a206\xE9\xA1\xB5$d21cm", TextEncoding::Gb18030), "206\xE9\xA1\xB5");
  EXPECT_EQ(ExtractPages("  $a206" YE "x", TextEncoding::Utf8), "206" YE "x");
}

TEST(Extract, Gb18030FourByteCharacterIsOneCharacter) {
  // 𠀀 (95 32 82 36) after "20011" is cut whole, not in half.
  EXPECT_EQ(ExtractPubDate("  $d20011\x95\x32\x82\x36", TextEncoding::Gb18030), "20011");
  EXPECT_EQ(ExtractPubDate("  $d2001\x95\x32\x82\x36", TextEncoding::Gb18030),
            "2001\x95\x32\x82\x36");
}

}  // namespace
}  // namespace marc
