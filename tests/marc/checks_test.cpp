// The checks: ISBN, price and class-number readers as tables, the pass over rows, and the real
// records' report against a golden file checked by hand.
#include "checks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "report.h"

namespace marc {
namespace {

constexpr auto kGbk = TextEncoding::Gb18030;
constexpr auto kUtf8 = TextEncoding::Utf8;

struct IsbnCase {
  const char* written;
  TextEncoding enc;
  IsbnReading::Kind kind;
  const char* isbn13;  // the key as an ISBN-13, "" for none
  bool wrong;
};

void PrintTo(const IsbnCase& c, std::ostream* os) { *os << c.written; }

class IsbnTest : public testing::TestWithParam<IsbnCase> {};

TEST_P(IsbnTest, Reads) {
  const IsbnCase& c = GetParam();
  const IsbnReading r = ReadIsbn(c.written, c.enc);
  EXPECT_EQ(r.kind, c.kind);
  EXPECT_EQ(r.checkDigitWrong, c.wrong);
  if (*c.isbn13) {
    EXPECT_EQ(Isbn13OfKey(r.key), c.isbn13);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, IsbnTest,
    testing::Values(
        IsbnCase{"7-5037-2623-7", kGbk, IsbnReading::Isbn10, "9787503726231", false},
        IsbnCase{"978-7-5037-2623-1", kGbk, IsbnReading::Isbn13, "9787503726231", false},
        IsbnCase{" 978 7 5037 2623 1 ", kGbk, IsbnReading::Isbn13, "9787503726231", false},
        IsbnCase{"ISBN 7-5037-2623-7", kGbk, IsbnReading::Isbn10, "9787503726231", false},
        IsbnCase{"isbn:9787503726231", kGbk, IsbnReading::Isbn13, "9787503726231", false},
        IsbnCase{"7-5037-2790-x", kGbk, IsbnReading::Isbn10, "9787503727900", false},
        IsbnCase{"7\xA3\xAD"
                 "5037\xA3\xAD"
                 "2623\xA3\xAD"
                 "7",
                 kGbk, IsbnReading::Isbn10, "9787503726231", false},  // full-width hyphens, GBK
        IsbnCase{"7\xEF\xBC\x8D"
                 "5037-2623-7",
                 kUtf8, IsbnReading::Isbn10, "9787503726231", false},  // and UTF-8
        IsbnCase{"979-10-90636-07-1", kGbk, IsbnReading::Isbn13, "9791090636071", false},
        // A wrong check digit keeps the key: the twin is still met.
        IsbnCase{"7-5037-2623-8", kGbk, IsbnReading::Isbn10, "9787503726231", true},
        IsbnCase{"978-7-5037-2623-0", kGbk, IsbnReading::Isbn13, "9787503726231", true},
        IsbnCase{"", kGbk, IsbnReading::Empty, "", false},
        IsbnCase{"  ", kGbk, IsbnReading::Empty, "", false},
        IsbnCase{"7-5037-2623", kGbk, IsbnReading::NotIsbn, "", false},
        IsbnCase{"X-5037-2623-7", kGbk, IsbnReading::NotIsbn, "", false},
        IsbnCase{"977-1234-5678-90", kGbk, IsbnReading::NotIsbn, "", false},
        IsbnCase{"978750372623X", kGbk, IsbnReading::NotIsbn, "", false},
        IsbnCase{"7-5037-2623-7(\xC6\xBD\xD7\xB0)", kGbk, IsbnReading::NotIsbn, "", false},
        IsbnCase{"97875037262311", kGbk, IsbnReading::NotIsbn, "", false}));

TEST(IsbnTest, RightCheckDigits) {
  EXPECT_EQ(RightCheckDigit(ReadIsbn("7-5037-2623-8")), '7');
  EXPECT_EQ(RightCheckDigit(ReadIsbn("7-5037-2790-0")), 'X');
  EXPECT_EQ(RightCheckDigit(ReadIsbn("978-7-5037-2623-0")), '1');
}

struct PriceCase {
  const char* name;
  std::string written;
  TextEncoding enc;
  PriceReading::Kind kind;
  std::int64_t fen;
  bool set;
};

void PrintTo(const PriceCase& c, std::ostream* os) { *os << c.name; }

class PriceTest : public testing::TestWithParam<PriceCase> {};

TEST_P(PriceTest, Reads) {
  const PriceCase& c = GetParam();
  const PriceReading r = ReadPrice(c.written, c.enc);
  EXPECT_EQ(r.kind, c.kind);
  if (c.kind == PriceReading::Counted || c.kind == PriceReading::Gift) {
    EXPECT_EQ(r.fen, c.fen);
  }
  EXPECT_EQ(r.set, c.set);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, PriceTest,
    testing::Values(
        PriceCase{"cny", "CNY25.00", kGbk, PriceReading::Counted, 2500, false},
        PriceCase{"blanks_lower_case", " cny 25.5 ", kGbk, PriceReading::Counted, 2550, false},
        PriceCase{"rmb", "RMB12", kGbk, PriceReading::Counted, 1200, false},
        PriceCase{"yen_utf8",
                  "\xC2\xA5"
                  "25",
                  kUtf8, PriceReading::Counted, 2500, false},
        PriceCase{"yen_gb18030",
                  "\x81\x30\x84\x36"
                  "25",
                  kGbk, PriceReading::Counted, 2500, false},
        PriceCase{"set_gbk",
                  "\xA3\xA4"
                  "66.00\xA3\xA8\xC8\xAB\xC8\xFD\xB2\xE1\xA3\xA9",
                  kGbk, PriceReading::Counted, 6600, true},
        PriceCase{"set_utf8",
                  "\xEF\xBF\xA5"
                  "66.00\xEF\xBC\x88\xE5\x85\xA8\xE4\xB8\x89\xE5\x86\x8C"
                  "\xEF\xBC\x89",
                  kUtf8, PriceReading::Counted, 6600, true},
        PriceCase{"note_not_set", "CNY25.00(\xC6\xBD\xD7\xB0)", kGbk, PriceReading::Counted, 2500,
                  false},
        PriceCase{"yuan", "25\xD4\xAA", kGbk, PriceReading::Counted, 2500, false},
        PriceCase{"fen_yuan", "0.38\xD4\xAA", kGbk, PriceReading::Counted, 38, false},
        PriceCase{"bare_decimal", "0.17", kGbk, PriceReading::Counted, 17, false},
        PriceCase{"bare_integer", "1", kGbk, PriceReading::Counted, 100, false},
        PriceCase{"zero", "CNY0.00", kGbk, PriceReading::Counted, 0, false},
        PriceCase{"trailing_zero", "CNY3.450", kGbk, PriceReading::Counted, 345, false},
        PriceCase{"full_width_digits", "\xEF\xBC\x92\xEF\xBC\x95\xEF\xBC\x8E\xEF\xBC\x95", kUtf8,
                  PriceReading::Counted, 2550, false},
        PriceCase{"gift",
                  "CNY\xD4\xF9"
                  "90.00",
                  kGbk, PriceReading::Gift, 9000, false},
        PriceCase{"gift_utf8",
                  "\xE8\xB5\xA0"
                  "5",
                  kUtf8, PriceReading::Gift, 500, false},
        PriceCase{"absent", "", kGbk, PriceReading::Absent, 0, false},
        PriceCase{"blank", "  ", kGbk, PriceReading::Absent, 0, false},
        PriceCase{"bare_cny", "CNY", kGbk, PriceReading::Unreadable, 0, false},
        PriceCase{"fraction_of_fen", "CNY3.456", kGbk, PriceReading::Unreadable, 0, false},
        PriceCase{"other_currency", "USD25.00", kGbk, PriceReading::Unreadable, 0, false},
        PriceCase{"per_volume", "25.00/\xB2\xE1", kGbk, PriceReading::Unreadable, 0, false},
        PriceCase{"words", "\xC3\xE2\xB7\xD1", kGbk, PriceReading::Unreadable, 0, false},
        PriceCase{"too_long", "CNY1234567890123", kGbk, PriceReading::Unreadable, 0, false}));

struct ClassCase {
  const char* number;
  std::vector<std::string> levels;
};

void PrintTo(const ClassCase& c, std::ostream* os) { *os << c.number; }

class ClassLevelsTest : public testing::TestWithParam<ClassCase> {};

TEST_P(ClassLevelsTest, Levels) { EXPECT_EQ(ClassLevels(GetParam().number), GetParam().levels); }

INSTANTIATE_TEST_SUITE_P(
    Numbers, ClassLevelsTest,
    testing::Values(ClassCase{"I712.45", {"I", "I712", "I712.45"}},
                    ClassCase{"TP311.56", {"T", "TP", "TP311", "TP311.56"}},
                    ClassCase{" tp18 ", {"T", "TP", "TP18"}},
                    ClassCase{"T-625.1", {"T", "T-625", "T-625.1"}},
                    ClassCase{"TU-092.2", {"T", "TU", "TU-092", "TU-092.2"}},
                    ClassCase{"X928.06-62", {"X", "X928", "X928.06", "X928.06-62"}},
                    ClassCase{"K825.6=2", {"K", "K825", "K825.6", "K825.6=2"}},
                    ClassCase{"I207.22(2)", {"I", "I207", "I207.22", "I207.22(2)"}},
                    ClassCase{"21.2", {"21", "21.2"}}, ClassCase{"I", {"I"}}, ClassCase{"", {}},
                    ClassCase{" \xE3\x80\x80", {}}));

// Every level's rows are its children's plus those that stop there.
void ExpectSums(const ClassCount& level) {
  std::int64_t children = 0;
  for (const ClassCount& child : level.children) {
    children += child.rows;
    ExpectSums(child);
  }
  EXPECT_EQ(level.rows, level.stop + children) << level.label;
}

std::shared_ptr<RowBlock> Rows(
    std::initializer_list<
        std::tuple<const char*, const char*, const char*, const char*, std::uint16_t>>
        rows) {
  auto block = std::make_shared<RowBlock>();
  for (const auto& [title, isbn, price, classNumber, fields] : rows) {
    std::array<std::string_view, CellCount> cells{};
    cells[Title] = title, cells[Isbn] = isbn, cells[ClassNumber] = classNumber;
    block->Append(cells, RowExtra{price, fields});
  }
  return block;
}

constexpr std::uint16_t kAll = Has200 | Has010 | Has690;

TEST(CheckerTest, FindingsOverBlocks) {
  Checker checker(kGbk);
  checker.Add(*Rows({{"A", "7-5037-2623-7", "CNY25.00", "TP18", kAll},
                     {"B", "9787111111115", "CNY10.50", "TP18", kAll},
                     {"C", "abc",
                      "CNY\xD4\xF9"
                      "10.00",
                      "TP311.5", kAll}}));
  checker.Add(*Rows({{"", "", "", "", 0},
                     {"", "", "\xC3\xE2\xB7\xD1", "", kAll},
                     {"F", "978-7-5037-2623-0",
                      "\xA3\xA4"
                      "66.00\xA3\xA8\xC8\xAB\xC8\xFD\xB2\xE1\xA3\xA9",
                      "T", kAll}}));
  const CheckFindings f = checker.Finish();
  EXPECT_EQ(f.rows, 6);
  // The ISBN-10 meets its ISBN-13 twin across blocks, wrong check digit and all.
  ASSERT_EQ(f.duplicates.size(), 1u);
  EXPECT_EQ(f.duplicates[0].rows,
            (std::vector<RowText>{{1, "7-5037-2623-7"}, {6, "978-7-5037-2623-0"}}));
  EXPECT_EQ(f.wrongCheckDigits, (std::vector<RowText>{{6, "978-7-5037-2623-0"}}));
  EXPECT_EQ(f.notIsbns, (std::vector<RowText>{{3, "abc"}}));
  EXPECT_EQ(f.totalFen, 2500 + 1050 + 6600);
  EXPECT_EQ(f.countedRows, 3);
  ASSERT_EQ(f.sets.size(), 1u);
  EXPECT_EQ(f.sets[0].text, "￥66.00（全三册）");
  EXPECT_EQ(f.giftFen, 1000);
  ASSERT_EQ(f.unreadablePrices.size(), 1u);
  EXPECT_EQ(f.unreadablePrices[0].text, "免费");
  // Missing: row 4 has none of the fields, row 5 has them empty.
  auto rows = [](const std::vector<MissingEntry>& v) {
    std::vector<std::pair<std::int64_t, bool>> out;
    for (const MissingEntry& m : v) out.emplace_back(m.row, m.noField);
    return out;
  };
  using Rows = std::vector<std::pair<std::int64_t, bool>>;
  EXPECT_EQ(rows(f.noIsbn), (Rows{{4, true}, {5, false}}));
  EXPECT_EQ(rows(f.noPrice), (Rows{{4, true}}));
  EXPECT_EQ(rows(f.noClassNumber), (Rows{{4, true}, {5, false}}));
  EXPECT_EQ(rows(f.noTitle), (Rows{{4, true}, {5, false}}));
  // T: 4 rows, 1 stopping at T; TP: 3, TP18 2, TP311 1 (TP311.5 1).
  ASSERT_EQ(f.classes.children.size(), 1u);
  const ClassCount& t = f.classes.children[0];
  EXPECT_EQ(t.label, "T");
  EXPECT_EQ(t.rows, 4);
  EXPECT_EQ(t.stop, 1);
  ASSERT_EQ(t.children.size(), 1u);
  EXPECT_EQ(t.children[0].rows, 3);
  ExpectSums(f.classes);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class KeepBlocks : public ReadSink {
 public:
  bool AppendRows(std::shared_ptr<const RowBlock> rows, std::int64_t) override {
    blocks.push_back(std::move(rows));
    return true;
  }
  void Progress(std::int64_t) override {}
  void Elapsed(std::chrono::steady_clock::duration) override {}
  std::vector<std::shared_ptr<const RowBlock>> blocks;
};

// The real records as the window holds them: the same report as marcrows --check prints, from
// GBK and UTF-8 alike (the golden file was checked by hand against records.json).
TEST(CheckReportTest, RealRecordsGolden) {
  const std::string golden = ReadFile(std::string(TESSALY_TEST_DATA) + "/realcn.check.txt");
  for (const char* name : {"realcn_lines.mrc", "realcn_utf8.mrc"}) {
    RecordReader reader;
    KeepBlocks sink;
    reader.Read(std::string(TESSALY_TEST_DATA) + "/" + name, sink);
    const CheckFindings f = CheckRows(sink.blocks, reader.Encoding());
    EXPECT_EQ(CheckReportText(f), golden) << name;
    EXPECT_EQ(CheckSummary(f),
              "重复 ISBN：1 组 2 条；码洋合计 ¥1,092.05（22 条计入，3 条赠书）；"
              "无 ISBN 4 条；无价格 2 条；无分类号 2 条")
        << name;
    ExpectSums(f.classes);
  }
}

TEST(CheckReportTest, ListsCutShort) {
  Checker checker(kGbk);
  checker.Add(*Rows({{"", "", "", "", 0}, {"", "", "", "", 0}, {"", "", "", "", 0}}));
  const std::string text = CheckReportText(checker.Finish(), ReportOptions{2});
  EXPECT_NE(text.find("    第 1、2 条\n    ……等 1 条\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace marc
