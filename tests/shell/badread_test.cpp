// The read past bad records in the window's logic, against fake dialogs: when the failure box
// offers to read on, the continued read, the box at its end, saving the bad records and its
// failure, closing during the continued read, 清除数据, and that no earlier read's rows stay held
// while the next file is read.
#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "fakeports.h"
#include "presenter.h"
#include "readfailure.h"
#include "record_builder.h"
#include "usertexts.h"

using namespace tessaly;
using State = Presenter::State;

namespace {

const std::string kOk(texts::kOk), kReadOn(texts::kContinuePastBad), kSave(texts::kSaveBadRecords);

std::string Record(const std::string& title) {
  return test::Iso2709Record({{"200", test::FieldText("1 ", {{'a', title}})}});
}
// A record whose leader's record length is no number.
std::string BadLeader(const std::string& title) { return "12x45" + Record(title).substr(5); }

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class BadReadTest : public ::testing::Test {
 public:
  BadReadTest() {
    logic.SetWorkers(workers);
    std::filesystem::create_directories(dir);
  }
  ~BadReadTest() override { std::filesystem::remove_all(dir); }

  // One record a line: "a", a bad leader, "c", a bad leader, "e".
  std::filesystem::path Damaged() {
    const auto file = dir / "books.mrc";
    std::ofstream(file, std::ios::binary) << Record("a") << '\n'
                                          << BadLeader("b") << '\n'
                                          << Record("c") << '\n'
                                          << BadLeader("d") << '\n'
                                          << Record("e") << '\n';
    return file;
  }
  // Opens file, answering its boxes in turn with answers, and lets every read run to its end.
  void Open(const std::filesystem::path& file, std::deque<std::size_t> answers) {
    dialogs.boxAnswers = std::move(answers);
    logic.Open(file);
    while (logic.CurrentState() == State::Reading) {
      workers.RunAll();
      loop.Tick();
    }
  }

  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tessaly_badread_test_" + std::to_string(getpid()));
  FakeView view;
  FakeDialogs dialogs;
  FakeLoop loop;
  FakeClock clock;
  FakeWorkers workers;
  Presenter logic{view, dialogs, loop, clock};
};

// Only a fault of one record in a file that can be read again offers to read on.
TEST_F(BadReadTest, TheFailureBoxOffersToReadOnOnlyWhereItCan) {
  const std::filesystem::path fifo = dir / "pipe.mrc";
  struct Case {
    std::filesystem::path file;
    std::vector<std::string> buttons;
  };
  std::vector<Case> cases = {
      {dir / "missing.mrc", {}},  // the file's fault, not a record's (before any read)
      {Damaged(), {kOk, kReadOn}},
      // A name that does not exist gives the last read again, failure and all; there is no
      // file to read past it.
      {dir / "gone.mrc", {}},
  };
#ifndef _WIN32
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  cases.push_back({fifo, {}});  // cannot be read again
#endif
  for (const Case& c : cases) {
    dialogs.boxes.clear();
    std::jthread writer;
    if (c.file == fifo)
      writer = std::jthread([&] { std::ofstream(fifo, std::ios::binary) << ReadAll(Damaged()); });
    Open(c.file, {});
    ASSERT_EQ(dialogs.boxes.size(), 1u) << c.file;
    EXPECT_EQ(dialogs.boxes[0].text, texts::kOpenFailed);
    EXPECT_EQ(dialogs.boxes[0].buttons, c.buttons) << c.file;
    EXPECT_EQ(logic.CurrentState(), State::Idle);
  }
  // 确定 (also Enter, Escape, closing) leaves the rows before the bad record and no bad list.
  EXPECT_EQ(logic.RowCount(), 1u);
  EXPECT_FALSE(logic.BadRead().Bad());
}

TEST_F(BadReadTest, ReadingOnListsTheBadRecordsAndEndsWithABox) {
  const auto file = Damaged();
  Open(file, {1});
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  // The list was emptied and the file read again from its start: the good records, in order.
  ASSERT_EQ(logic.RowCount(), 3u);
  EXPECT_EQ(logic.Cell(0, 0), "a");
  EXPECT_EQ(logic.Cell(2, 0), "e");
  EXPECT_EQ(view.rows, 3u);
  EXPECT_EQ(view.rowCount, texts::Progress(3));
  EXPECT_TRUE(view.elapsed.ends_with("  " + texts::BadRecordsCount(2))) << view.elapsed;

  const Box& end = dialogs.boxes[1];
  EXPECT_EQ(end.text, texts::PassedOverSummary(3, 2));
  EXPECT_EQ(end.buttons, (std::vector<std::string>{kOk, kSave}));
  // One line a bad record: where it stands (the second begins after the first line) and why.
  const std::size_t second = Record("a").size() + 1;
  EXPECT_EQ(end.details.rfind("第 2 条记录（第 2 行，字节位置 " + std::to_string(second), 0), 0u)
      << end.details;
  EXPECT_NE(end.details.find("\n第 4 条记录（第 4 行"), std::string::npos) << end.details;
  ASSERT_TRUE(logic.BadRead().Bad());
  EXPECT_EQ(logic.BadRead().Bad()->records.size(), 2u);
  EXPECT_TRUE(dialogs.saves.empty());

  logic.Clear();
  EXPECT_FALSE(logic.BadRead().Bad());
  EXPECT_EQ(logic.RowCount(), 0u);
}

// Saving writes the bad records' bytes and the report where the user chose; a failure says why
// and gives the choice back.
TEST_F(BadReadTest, SavingTheBadRecordsAndItsFailure) {
  const auto file = Damaged();
  const auto saved = dir / "saved.mrc";
  dialogs.saveAnswers = {dir / "no such folder" / "x.mrc", saved};
  Open(file, {1, 1, 0, 1});  // read on, save (fails), 确定 on the failure, save again
  ASSERT_EQ(dialogs.saves.size(), 2u);
  EXPECT_EQ(dialogs.saves[0].suggested, BadRecordsName(file));
  EXPECT_EQ(dialogs.saves[0].extension, "mrc");
  ASSERT_EQ(dialogs.boxes.size(), 4u);  // failed open, end, save failed, end again
  EXPECT_EQ(dialogs.boxes[2].text, texts::kSaveBadRecordsFailed);
  EXPECT_FALSE(dialogs.boxes[2].details.empty());
  EXPECT_EQ(dialogs.boxes[3].text, dialogs.boxes[1].text);
  EXPECT_EQ(ReadAll(saved), BadLeader("b") + "\r\n" + BadLeader("d") + "\r\n");
  EXPECT_TRUE(std::filesystem::exists(BadRecordsReportName(saved)));
  EXPECT_EQ(ReadAll(file).size(), std::filesystem::file_size(file));  // the read file untouched
}

// Closing the window during the continued read stops it: no end box, nothing kept.
TEST_F(BadReadTest, ClosingDuringTheContinuedReadStopsIt) {
  dialogs.boxAnswers = {1};
  logic.Open(Damaged());
  workers.RunAll();
  loop.Tick();  // the failure box; the continued read starts
  ASSERT_EQ(logic.CurrentState(), State::Reading);
  EXPECT_TRUE(logic.CloseRequested());
  logic.Closed();
  workers.RunAll();
  loop.Tick();
  EXPECT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(logic.CurrentState(), State::Idle);
  EXPECT_FALSE(logic.BadRead().Bad());
}

// The last read's rows go once the next file has opened, after 清除数据 as without it.
TEST_F(BadReadTest, NoEarlierRowsStayHeldWhileTheNextFileIsRead) {
  const auto file = dir / "good.mrc";
  std::ofstream(file, std::ios::binary) << Record("a") << '\n' << Record("b") << '\n';
  for (const bool clear : {true, false}) {
    Open(file, {});
    ASSERT_TRUE(logic.LastRead() && !logic.LastRead()->blocks.empty());
    const std::weak_ptr<const marc::RowBlock> first = logic.LastRead()->blocks.front();
    if (clear) logic.Clear();
    logic.Open(file);
    workers.RunAll();  // the whole read, before the tick hands its rows over
    EXPECT_TRUE(first.expired()) << "after clear: " << clear;
    loop.Tick();
    EXPECT_EQ(logic.RowCount(), 2u);
  }
}

}  // namespace
