// Find in the list on fake ports: the worker's search runs when the test says, its results come
// back through the loop.
#include "findsession.h"

#include <gtest/gtest.h>

#include "fakeports.h"

namespace tessaly {
namespace {

struct CountingLoop : FakeLoop {
  int posts = 0;
  void Post(std::function<void()> fn) override {
    ++posts;
    fn();
  }
};

struct FindTest : testing::Test {
  FakeView view;
  CountingLoop loop;
  FakeWorkers workers;
  Workers* workersPtr = &workers;
  BookList books;
  int failures = 0;
  FindSession find{view, loop, workersPtr, books, [this] { ++failures; }};

  // Titles 0..5; rows 1, 3 and 5 hold 苹果 (row 5 in its author's cell).
  FindTest() {
    auto block = std::make_shared<marc::RowBlock>();
    const char* titles[] = {"香蕉", "苹果", "橙子", "青苹果", "梨", "桃"};
    for (int i = 0; i < 6; ++i) {
      marc::BookRow row;
      row[marc::Title] = titles[i];
      row[marc::Author] = i == 5 ? "苹果园" : "某人";
      block->Append(row);
    }
    books.Append(block, marc::TextEncoding::Utf8);
    books.ShowWaiting();
  }
};

TEST_F(FindTest, NextPreviousAndWrap) {
  find.TextChanged("苹果", std::nullopt);
  workers.RunAll();
  EXPECT_EQ(view.selected, 1u);
  EXPECT_EQ(view.findPlace, "第 1 / 3 处");
  // Every move among the hits is known once they are counted: no further search.
  struct Step {
    bool next;
    std::optional<std::size_t> from;
    std::size_t to;
    const char* label;
  };
  const Step steps[] = {
      {true, 1, 3, "第 2 / 3 处"},
      {true, 3, 5, "第 3 / 3 处"},
      {true, 5, 1, "第 1 / 3 处"},
      {false, 1, 5, "第 3 / 3 处"},
      {false, 4, 3, "第 2 / 3 处"},
      {true, 0, 1, "第 1 / 3 处"},
      {false, std::nullopt, 5, "第 3 / 3 处"},
      {true, std::nullopt, 1, "第 1 / 3 处"},
  };
  for (const Step& s : steps) {
    s.next ? find.Next(s.from) : find.Previous(s.from);
    EXPECT_TRUE(workers.pending.empty());
    EXPECT_EQ(view.selected, s.to) << s.label;
    EXPECT_EQ(view.findPlace, s.label);
  }
}

TEST_F(FindTest, TypingKeepsTheSelectedRowWhenItHolds) {
  find.TextChanged("苹", 3);
  workers.RunAll();
  EXPECT_EQ(view.selected, 3u);
  EXPECT_EQ(view.findPlace, "第 2 / 3 处");
}

TEST_F(FindTest, NotFoundLeavesTheSelection) {
  view.selected = 2;
  find.TextChanged("西瓜", 2);
  workers.RunAll();
  EXPECT_EQ(view.selected, 2u);
  EXPECT_EQ(view.findPlace, "未找到");
  // An empty box clears the label and searches nothing.
  find.TextChanged("", 2);
  EXPECT_TRUE(workers.pending.empty());
  EXPECT_EQ(view.findPlace, "");
}

TEST_F(FindTest, ANewKeystrokeStopsTheSearchBefore) {
  find.TextChanged("苹", std::nullopt);
  find.TextChanged("苹果园", std::nullopt);
  ASSERT_EQ(workers.pending.size(), 2u);
  workers.RunAll();
  // The first search stopped without posting: only the second's hit and count came back.
  EXPECT_EQ(loop.posts, 2);
  EXPECT_EQ(view.selected, 5u);
  EXPECT_EQ(view.findPlace, "第 1 / 1 处");
}

TEST_F(FindTest, EditedTitlesAreSearchedAsEdited) {
  find.TextChanged("苹果", std::nullopt);
  workers.RunAll();
  ASSERT_TRUE(books.SetTitle(0, "苹果干"));
  ASSERT_TRUE(books.SetTitle(3, "青梅"));
  find.Next(5);
  EXPECT_EQ(workers.pending.size(), 1u);  // the list changed: searched again
  workers.RunAll();
  EXPECT_EQ(view.selected, 0u);
  EXPECT_EQ(view.findPlace, "第 1 / 3 处");
}

TEST_F(FindTest, ResultsForAListSinceClearedAreDropped) {
  view.selected.reset();
  find.TextChanged("苹果", std::nullopt);
  books.Clear();
  workers.RunAll();
  EXPECT_FALSE(view.selected);
  EXPECT_EQ(view.findPlace, "");
}

TEST_F(FindTest, KeysForTheFocus) {
  find.Next(std::nullopt);  // nothing to find yet: to the box
  find.Focus();
  find.Leave();
  EXPECT_EQ(view.findFocused, 2);
  EXPECT_EQ(view.listFocused, 1);
  EXPECT_TRUE(workers.pending.empty());
}

}  // namespace
}  // namespace tessaly
