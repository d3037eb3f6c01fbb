// 检查 in the window's logic: the button follows the commands' availability, the box shows the
// report of the rows listed, and 保存报告… writes the whole report or says why it could not.
#include "checksession.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "fake_backend.h"
#include "fakeports.h"
#include "presenter.h"
#include "spreadsheet_export.h"
#include "windowchecktexts.h"

using namespace tessaly;
using State = Presenter::State;

namespace {

const std::filesystem::path kData(TESSALY_TEST_DATA);

std::string Contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class CheckTest : public testing::Test {
 public:
  CheckTest() {
    module = std::make_unique<SpreadsheetExport>(std::make_unique<RecordingSpreadsheet>());
    logic.SetWorkers(workers);
    logic.SetExportModule(module.get());
    std::filesystem::create_directories(folder);
  }
  ~CheckTest() override {
    logic.SetExportModule(nullptr);
    std::filesystem::remove_all(folder);
  }
  void Read() {
    logic.Open(kData / "realcn_lines.mrc");
    workers.RunAll();
    loop.Tick();
    ASSERT_EQ(logic.CurrentState(), State::Idle);
  }
  // 检查, its worker run, the box answered with button.
  void Check(std::size_t button) {
    dialogs.boxAnswers.push_back(button);
    logic.Run(layout::Command::Check);
    workers.RunAll();
  }

  FakeView view;
  FakeDialogs dialogs;
  FakeLoop loop;
  FakeClock clock;
  FakeWorkers workers;
  std::unique_ptr<SpreadsheetExport> module;
  Presenter logic{view, dialogs, loop, clock};
  std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("tessaly_checks_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
};

TEST_F(CheckTest, TheButtonWaitsForTheReadAndTheExport) {
  logic.Open(kData / "realcn_lines.mrc");
  EXPECT_FALSE(view.enabled);
  logic.Run(layout::Command::Check);  // a click that reached the logic all the same
  EXPECT_EQ(workers.pending.size(), 1u);
  workers.RunAll();
  loop.Tick();
  logic.Export();
  ASSERT_EQ(logic.CurrentState(), State::Exporting);
  EXPECT_FALSE(view.enabled);
  logic.Run(layout::Command::Check);
  EXPECT_EQ(workers.pending.size(), 1u);
  workers.RunAll();
  loop.Tick();
  ASSERT_EQ(logic.CurrentState(), State::Idle);
  EXPECT_TRUE(dialogs.boxes.empty());

  EXPECT_TRUE(view.enabled);
  logic.Run(layout::Command::Check);
  logic.Run(layout::Command::Check);  // while the checks run: one run
  EXPECT_EQ(workers.pending.size(), 1u);
  workers.RunAll();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  const Box& box = dialogs.boxes.front();
  EXPECT_EQ(box.details, Contents(kData / "realcn.check.txt"));
  EXPECT_EQ(box.text,
            "重复 ISBN：1 组 2 条；码洋合计 ¥1,092.05（22 条计入，3 条赠书）；"
            "无 ISBN 4 条；无价格 2 条；无分类号 2 条");
  EXPECT_EQ(box.buttons, (std::vector<std::string>{"确定", "保存报告…"}));
  EXPECT_TRUE(dialogs.saves.empty());  // 确定
}

TEST_F(CheckTest, TheReportReplacesTheFileChosen) {
  Read();
  const std::filesystem::path file = folder / u8"报告.tsv";
  std::ofstream(file) << std::string(100000, 'x');  // longer than the report
  dialogs.saveAnswers.push_back(file);
  Check(1);
  ASSERT_EQ(dialogs.saves.size(), 1u);
  EXPECT_EQ(dialogs.saves[0].suggested, kData / u8"realcn_lines_检查报告.tsv");
  EXPECT_EQ(dialogs.boxes.size(), 1u) << "no box after the report was written";
  EXPECT_EQ(Contents(file), Contents(kData / "realcn.check.tsv"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

TEST_F(CheckTest, AFailedWriteSaysWhyAndLeavesNothing) {
  Read();
  const std::filesystem::path file = folder / "no such folder" / "r.tsv";
  dialogs.saveAnswers.push_back(file);
  Check(1);
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  const Box& box = dialogs.boxes.back();
  EXPECT_EQ(box.icon, BoxIcon::Error);
  EXPECT_EQ(box.text.rfind("检查报告没有保存：", 0), 0u) << box.text;
  EXPECT_NE(box.text.find("原因：No such file or directory"), std::string::npos) << box.text;
  EXPECT_FALSE(std::filesystem::exists(folder / "no such folder"));
}

TEST_F(CheckTest, FindingsOfAListSinceClearedAreNotShown) {
  Read();
  logic.Run(layout::Command::Check);
  logic.Clear();
  workers.RunAll();
  EXPECT_TRUE(dialogs.boxes.empty());
}

}  // namespace
