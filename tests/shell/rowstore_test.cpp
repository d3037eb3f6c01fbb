// The rows' store: cells kept apart, edits in place, rows pointing into the file's bytes.
#include "rowstore.h"

#include <gtest/gtest.h>

using tessaly::RowStore;

namespace {

marc::BookRow Row(std::initializer_list<std::pair<marc::Cell, std::string>> cells) {
  marc::BookRow row;
  for (const auto& [cell, text] : cells) row[cell] = text;
  return row;
}

const std::string kZhangSan = "\xD5\xC5\xC8\xFD";          // 张三 in GBK
const std::string kJiaShu = "\xBC\xD7\xCA\xE9";            // 甲书 in GBK
const std::string kNewTitle = "\xD0\xC2\xCA\xE9\xC3\xFB";  // 新书名 in GBK

}  // namespace

// Cells of every length, empty ones and ones with NUL bytes come back byte for byte, and no
// cell's bytes run into its neighbour's.
TEST(RowStore, KeepsCellsApart) {
  RowStore store;
  std::vector<marc::BookRow> rows;
  for (int r = 0; r < 2000; ++r) {
    marc::BookRow row;
    for (std::size_t c = 0; c < marc::CellCount; ++c) {
      if ((r + c) % 5 == 0) continue;  // empty
      row[c] = std::string(static_cast<std::size_t>((r * 7 + c * 13) % 300), char('a' + c));
      if (c == marc::Summary) row[c] += std::string("\0x", 2);
    }
    store.Append(row);
    rows.push_back(row);
  }
  // A cell bigger than a chunk gets a chunk of its own.
  marc::BookRow big;
  big[marc::Summary] = std::string(5u << 20, 'z');
  store.Append(big);
  rows.push_back(big);
  EXPECT_EQ(store.Size(), rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t c = 0; c < marc::CellCount; ++c)
      EXPECT_TRUE(store.Cell(r, c) == rows[r][c]) << "row " << r << " cell " << c;
}

TEST(RowStore, SetCellChangesOnlyThatCell) {
  RowStore store;
  store.Append(Row({{marc::Title, kJiaShu}, {marc::Author, kZhangSan}, {marc::Summary, "S"}}));
  store.Append(Row({{marc::Title, "second"}}));
  store.SetCell(0, marc::Title, "a much longer title than before");
  store.SetCell(0, marc::Title, "");
  EXPECT_EQ(store.Cell(0, marc::Title), std::string_view());
  EXPECT_EQ(store.Cell(0, marc::Author), std::string_view(kZhangSan));
  EXPECT_EQ(store.Cell(0, marc::Summary), std::string_view("S"));
  EXPECT_EQ(store.Cell(1, marc::Title), std::string_view("second"));
  store.Clear();
  EXPECT_EQ(store.Size(), std::size_t{0});
  EXPECT_EQ(store.OwnBytes(), std::size_t{0});
}

// Blocks a read handed over are kept as they came, between rows of texts; an edited caption
// replaces only that cell.
TEST(RowStore, BlocksBetweenRowsOfTexts) {
  auto block = std::make_shared<marc::RowBlock>();
  for (int r = 0; r < 3; ++r)
    block->Append(Row({{marc::Title, "TITLE"}, {marc::Summary, "rest$b"}}));
  RowStore store;
  store.Append(Row({{marc::Title, "before"}}));
  store.Append(block);
  store.Append(Row({{marc::Title, "after"}}));
  EXPECT_EQ(store.Size(), std::size_t{5});
  EXPECT_EQ(store.Cell(0, marc::Title), std::string_view("before"));
  EXPECT_EQ(store.Cell(3, marc::Summary), std::string_view("rest$b"));
  EXPECT_EQ(store.Cell(4, marc::Title), std::string_view("after"));
  store.SetCell(1, marc::Title, kNewTitle);
  EXPECT_EQ(store.Cell(1, marc::Title), std::string_view(kNewTitle));
  EXPECT_EQ(store.Cell(1, marc::Summary), std::string_view("rest$b"));
  EXPECT_EQ(store.Cell(2, marc::Title), std::string_view("TITLE"));
}
