// Find over the rows: characters, not bytes; next, previous, wrap, stop; edited cells.
#include "find.h"

#include <gtest/gtest.h>

namespace marc {
namespace {

constexpr auto kGbk = TextEncoding::Gb18030;
constexpr auto kUtf8 = TextEncoding::Utf8;

struct MatchCase {
  const char* name;
  const char* needle;  // UTF-8, as typed
  std::string cell;    // the rows' bytes
  TextEncoding enc;
  bool match;
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.name; }

class MatchTest : public testing::TestWithParam<MatchCase> {};

TEST_P(MatchTest, Cell) {
  const MatchCase& c = GetParam();
  EXPECT_EQ(CellMatcher(c.needle, c.enc).Matches(c.cell), c.match);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, MatchTest,
    testing::Values(
        // 爸辛 is B0 D6 D0 C1: 中 (D6 D0) stands across the two.
        MatchCase{"gbk_across_characters", "中", "\xB0\xD6\xD0\xC1", kGbk, false},
        MatchCase{"gbk_after_one", "中", "\xB0\xD6\xD6\xD0", kGbk, true},
        MatchCase{"gbk_after_ascii", "中", "A\xD6\xD0", kGbk, true},
        // 乤 is 81 61: its second byte is no "a".
        MatchCase{"gbk_trail_is_no_letter", "a", "\x81\x61", kGbk, false},
        MatchCase{"gbk_letter_after_trail", "a",
                  "\x81\x61"
                  "A",
                  kGbk, true},
        // 乤 (81 61) is not 丄 (81 41): a second byte is never matched as a letter in either case.
        MatchCase{"gbk_trail_case_kept", "乤", "\x81\x41", kGbk, false},
        MatchCase{"gbk_trail_same", "乤", "\x81\x61", kGbk, true},
        MatchCase{"gb18030_four_byte", "\xF0\xA0\x80\x80", "x\x95\x32\x82\x36", kGbk, true},
        MatchCase{"utf8", "中国", "\xE4\xB8\xAD\xE5\x9B\xBD", kUtf8, true},
        MatchCase{"ascii_case", "python", "Real world PYTHON", kGbk, true},
        MatchCase{"isbn", "2623-7", "7-5037-2623-7", kGbk, true},
        MatchCase{"absent", "中", "\xB9\xFA", kGbk, false}));

// Rows of titles over blocks of three, so that searches cross blocks.
ListRows Titles(const std::vector<std::string>& titles) {
  ListRows rows;
  std::shared_ptr<RowBlock> block;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    if (i % 3 == 0) {
      if (block) rows.Add(block);
      block = std::make_shared<RowBlock>();
    }
    std::array<std::string_view, CellCount> cells{};
    cells[Title] = titles[i];
    cells[Author] = "x";
    block->Append(cells);
  }
  if (block) rows.Add(block);
  return rows;
}

constexpr auto kNext = FindDirection::Next;
constexpr auto kPrevious = FindDirection::Previous;
constexpr std::size_t kNone = RowFinder::kNoRow;

struct Step {
  std::size_t from;
  FindDirection direction;
  FindResult::Outcome outcome;
  std::size_t row;
  bool wrapped;
};

TEST(FindTest, NextPreviousWrap) {
  // "ab" in rows 1, 4 and 7 of 9; a needle that spans two cells ("bx") is in none.
  const ListRows rows = Titles({"", "ab", "", "", "Ab", "", "", "aB", ""});
  const CellMatcher ab("ab", kGbk);
  const RowFinder find(rows, ab);
  for (const Step& s :
       {Step{kNone, kNext, FindResult::Found, 1, false},
        Step{1, kNext, FindResult::Found, 4, false}, Step{4, kNext, FindResult::Found, 7, false},
        Step{7, kNext, FindResult::Found, 1, true}, Step{8, kNext, FindResult::Found, 1, true},
        Step{kNone, kPrevious, FindResult::Found, 7, false},
        Step{4, kPrevious, FindResult::Found, 1, false},
        Step{1, kPrevious, FindResult::Found, 7, true},
        Step{0, kPrevious, FindResult::Found, 7, true}}) {
    const FindResult r = find.Find(s.from, s.direction);
    EXPECT_EQ(r.outcome, s.outcome) << s.from;
    EXPECT_EQ(r.row, s.row) << s.from;
    EXPECT_EQ(r.wrapped, s.wrapped) << s.from;
  }
  const RowFinder::All all = find.FindAll();
  EXPECT_EQ(all.rows, (std::vector<std::size_t>{1, 4, 7}));
  EXPECT_EQ(HitPlace(all.rows, 4), 2u);
  EXPECT_EQ(HitPlace(all.rows, 5), 0u);

  const CellMatcher across("bx", kGbk);
  EXPECT_EQ(RowFinder(rows, across).Find(kNone, kNext).outcome, FindResult::NotFound);
}

TEST(FindTest, OnlyHitIsTheRowItself) {
  const ListRows rows = Titles({"", "", "ab", ""});
  const CellMatcher ab("ab", kGbk);
  const FindResult r = RowFinder(rows, ab).Find(2, kNext);
  EXPECT_EQ(r.outcome, FindResult::Found);
  EXPECT_EQ(r.row, 2u);
  EXPECT_TRUE(r.wrapped);
}

TEST(FindTest, StopsWhenAsked) {
  std::vector<std::string> titles(5000);
  titles.back() = "ab";
  const ListRows rows = Titles(titles);
  const CellMatcher ab("ab", kGbk);
  std::stop_source stop;
  stop.request_stop();
  const RowFinder find(rows, ab);
  EXPECT_EQ(find.Find(kNone, kNext, stop.get_token()).outcome, FindResult::Stopped);
  const RowFinder::All all = find.FindAll(stop.get_token());
  EXPECT_TRUE(all.stopped);
  EXPECT_TRUE(all.rows.empty());
  EXPECT_EQ(find.Find(kNone, kNext).row, 4999u);
}

TEST(FindTest, EditedCells) {
  ListRows rows = Titles({"ab", "", ""});
  rows.SetCell(0, Title, "zz");
  rows.SetCell(2, Title, "xaby");
  const CellMatcher ab("ab", kGbk);
  EXPECT_EQ(RowFinder(rows, ab).FindAll().rows, std::vector<std::size_t>{2});
}

}  // namespace
}  // namespace marc
