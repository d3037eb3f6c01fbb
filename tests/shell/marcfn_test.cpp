// The presenter without a window: commands by state, the read handed over on the tick, the export
// watch on an injected clock, and which box says what.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "fake_backend.h"
#include "fakeports.h"
#include "presenter.h"
#include "spreadsheet_export.h"
#include "usertexts.h"

using namespace tessaly;
using namespace std::chrono_literals;
using State = Presenter::State;

namespace {

std::filesystem::path Data(const char* name) {
  return std::filesystem::path(TESSALY_TEST_DATA) / name;
}

bool EndsWith(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class PresenterTest : public ::testing::Test {
 public:
  PresenterTest() {
    auto backend = std::make_unique<RecordingSpreadsheet>();
    sheet = backend.get();
    module = std::make_unique<SpreadsheetExport>(std::move(backend));
    logic.SetWorkers(workers);
    logic.SetExportModule(module.get());
  }
  ~PresenterTest() override { logic.SetExportModule(nullptr); }

  // Opens a file through the dialog and lets its read run to the end.
  void Read(const char* name) {
    dialogs.openAnswers.push_back(Data(name));
    logic.OpenWithDialog();
    workers.RunAll();
    loop.Tick();
  }
  void At(std::chrono::milliseconds t) {
    clock.now = t;
    loop.Tick();
  }
  // Starts an export whose worker has not run yet (the spreadsheet is silent).
  void StartExport() {
    Read("realcn_lines.mrc");
    logic.Export();
    ASSERT_EQ(logic.CurrentState(), State::Exporting);
  }

  FakeView view;
  FakeDialogs dialogs;
  FakeLoop loop;
  FakeClock clock;
  FakeWorkers workers;
  RecordingSpreadsheet* sheet;
  std::unique_ptr<SpreadsheetExport> module;
  Presenter logic{view, dialogs, loop, clock};
};

TEST_F(PresenterTest, ReadShowsRowsCountAndEncodingOnTheTick) {
  dialogs.openAnswers.push_back(Data("realcn_lines.mrc"));
  logic.OpenWithDialog();
  EXPECT_EQ(logic.CurrentState(), State::Reading);
  EXPECT_FALSE(view.enabled);
  workers.RunAll();
  EXPECT_EQ(view.rows, 0u) << "rows reach the view on the GUI thread's tick only";
  loop.Tick();
  EXPECT_EQ(logic.CurrentState(), State::Idle);
  EXPECT_TRUE(view.enabled);
  ASSERT_GT(view.rows, 0u);
  EXPECT_EQ(view.rows, logic.RowCount());
  EXPECT_EQ(view.rowCount, texts::Progress(static_cast<std::int64_t>(view.rows)));
  EXPECT_TRUE(EndsWith(view.elapsed, "  GBK") || EndsWith(view.elapsed, "  GB18030"))
      << view.elapsed;
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_FALSE(loop.tick) << "no tick while idle";

  // The dialog offers the path confirmed last; cancelling it leaves an empty list.
  logic.OpenWithDialog();
  EXPECT_EQ(dialogs.openOffered.back(), Data("realcn_lines.mrc"));
  EXPECT_EQ(view.rows, 0u);

  // A file given on the command line or dropped: read as if confirmed, and offered next time.
  Read("realcn_lines.mrc");
  const int resets = view.resets;
  logic.Open(Data("cases_lines.mrc"));
  EXPECT_EQ(view.resets, resets + 1);
  EXPECT_EQ(logic.CurrentState(), State::Reading);
  workers.RunAll();
  loop.Tick();
  logic.OpenWithDialog();
  EXPECT_EQ(dialogs.openOffered.back(), Data("cases_lines.mrc"));
}

TEST_F(PresenterTest, FailedOpenSaysWhereAndWhyInChinese) {
  struct Case {
    const char* file;
    std::string_view details;  // how the details begin
    std::string_view raw;      // what they end with
  } cases[] = {
      {"no such file.mrc", "文件无法打开。原因：Cannot open file", ""},
      {"cases_bad_leader.mrc", "第 2 条记录（第 2 行，字节位置 ", "is not a valid integer value"},
  };
  for (const Case& c : cases) {
    dialogs.boxes.clear();
    Read(c.file);
    ASSERT_EQ(dialogs.boxes.size(), 1u) << c.file;
    const Box& box = dialogs.boxes[0];
    EXPECT_EQ(box.text, "打开文件失败！");
    EXPECT_EQ(box.caption, "Tessaly");
    EXPECT_EQ(box.details.rfind(c.details, 0), 0u) << box.details;
    EXPECT_NE(box.details.find(c.raw), std::string::npos) << box.details;
    EXPECT_EQ(logic.CurrentState(), State::Idle);
  }
}

// Once read, the rows are the program's own: the file rewritten in place (as a nightly export
// does), cut short or emptied changes nothing listed or exported, and a name that does not exist
// gives the rows read last again rather than the file's new bytes.
TEST_F(PresenterTest, RowsStayAsRead) {
  struct Case {
    const char* replacement;  // the file's new content, from this file
    std::ptrdiff_t size;      // cut to this size (-1: the whole replacement)
  } cases[] = {{"realcn_lines.mrc", -1}, {"cases_lines.mrc", 100}, {"cases_lines.mrc", 0}};
  const auto dir = std::filesystem::temp_directory_path() / "tessaly_rows_stay";
  std::filesystem::create_directories(dir);
  const auto path = dir / "records.mrc";
  for (const Case& c : cases) {
    std::filesystem::copy_file(Data("cases_lines.mrc"), path,
                               std::filesystem::copy_options::overwrite_existing);
    logic.Open(path);
    workers.RunAll();
    loop.Tick();
    ASSERT_EQ(logic.RowCount(), 3u);
    auto snapshot = [&] {
      std::vector<std::string> all;
      const ExportSource& list = logic.Books().ExportView();
      for (std::size_t r = 0; r < logic.RowCount(); ++r) {
        all.push_back(list.Cell(static_cast<std::int64_t>(r), 0));
        for (int k = 0; k < 12; ++k) {
          all.push_back(list.Cell(static_cast<std::int64_t>(r), k + 1));
          all.push_back(logic.Cell(r, static_cast<std::size_t>(k) + 1));
        }
      }
      return all;
    };
    const auto before = snapshot();
    {
      std::ifstream in(Data(c.replacement), std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), {});
      if (c.size >= 0) bytes.resize(static_cast<std::size_t>(c.size));
      std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    EXPECT_EQ(snapshot(), before) << c.replacement << " " << c.size;
    logic.Open(dir / "no such file.mrc");
    workers.RunAll();
    loop.Tick();
    EXPECT_EQ(snapshot(), before) << c.replacement << " " << c.size;
    EXPECT_TRUE(dialogs.boxes.empty());
  }
  std::filesystem::remove_all(dir);
}

// Rows the window cannot keep (out of memory) end the read as a failed one, with one box.
TEST_F(PresenterTest, RowsThatCannotBeKeptEndTheReadOnce) {
  struct StarvedView : FakeView {
    void RowsAppended(std::size_t, std::size_t) override { throw std::bad_alloc(); }
  } starved;
  Presenter l{starved, dialogs, loop, clock};
  l.SetWorkers(workers);
  l.Open(Data("realcn_lines.mrc"));
  workers.RunAll();
  for (int i = 0; i < 3; ++i) loop.Tick();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, "打开文件失败！");
  EXPECT_NE(dialogs.boxes[0].details.find(texts::kOutOfMemory), std::string::npos)
      << dialogs.boxes[0].details;
  EXPECT_EQ(l.CurrentState(), State::Idle);
}

TEST_F(PresenterTest, CommandsOutsideIdleAreIgnored) {
  // Each event arrives although its command is disabled (queued before it went off).
  const std::function<void(Presenter&)> events[] = {
      [](Presenter& l) { l.OpenWithDialog(); },
      [](Presenter& l) { l.Clear(); },
      [](Presenter& l) { l.Quit(); },
      [](Presenter& l) { l.Export(); },
      [](Presenter& l) { l.Open(Data("realcn_lines.mrc")); },
  };
  for (const State state : {State::Reading, State::Exporting}) {
    for (const auto& event : events) {
      if (state == State::Reading) {
        dialogs.openAnswers.push_back(Data("realcn_lines.mrc"));
        logic.OpenWithDialog();
      } else {
        StartExport();
      }
      const std::size_t rows = logic.RowCount(), offered = dialogs.openOffered.size();
      event(logic);
      EXPECT_EQ(logic.CurrentState(), state);
      EXPECT_EQ(workers.pending.size(), 1u) << "a second read or export started";
      EXPECT_EQ(logic.RowCount(), rows);
      EXPECT_EQ(dialogs.openOffered.size(), offered);
      EXPECT_EQ(view.quits, 0);
      workers.RunAll();
      loop.Tick();
      EXPECT_EQ(logic.CurrentState(), State::Idle);
    }
  }
}

TEST_F(PresenterTest, ClosingStopsAReadAtOnceAndAnExportOnceItHasStopped) {
  dialogs.openAnswers.push_back(Data("realcn_lines.mrc"));
  logic.OpenWithDialog();
  EXPECT_TRUE(logic.CloseRequested());
  workers.RunAll();  // the worker stops at its first rows; nothing reaches the window
  loop.Tick();
  EXPECT_EQ(view.rows, 0u);
  EXPECT_TRUE(dialogs.boxes.empty());

  StartExport();
  EXPECT_FALSE(logic.CloseRequested());
  EXPECT_EQ(logic.CurrentState(), State::ClosingAfterExport);
  EXPECT_FALSE(logic.CloseRequested());
  workers.RunAll();
  loop.Tick();
  EXPECT_EQ(view.closes, 1);
  EXPECT_TRUE(dialogs.boxes.empty()) << "a cancelled export reports nothing";
  EXPECT_TRUE(logic.CloseRequested());
}

// The worker of a read stopped by closing goes on with its reader after the window has closed:
// closing lets go of that reader rather than touching it, and the next read starts afresh.
TEST_F(PresenterTest, AReadStoppedByClosingLeavesNothingToTheNextRead) {
  dialogs.openAnswers.push_back(Data("realcn_lines.mrc"));
  logic.OpenWithDialog();
  ASSERT_TRUE(logic.CloseRequested());
  logic.Closed();
  workers.RunAll();
  Read("no such file.mrc");
  EXPECT_EQ(view.rows, 0u) << "the stopped read's rows came back";
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].details.rfind("文件无法打开", 0), 0u) << dialogs.boxes[0].details;
}

// A spreadsheet that answers every call at once, but lets the test act while it is being reached
// and while it writes the list's first row.
class ScriptedSpreadsheet final : public SpreadsheetApplication {
 public:
  std::function<void()> whileConnecting, whileWritingFirstRow;
  void ConnectApplication() override { whileConnecting(); }
  void AddWorkbook() override {}
  void AttachFirstWorksheet() override {}
  void SetVisible() override {}
  std::int64_t SheetRows() override { return 1'048'576; }
  void AddWorksheet() override {}
  void PutCell(std::int32_t row, std::int32_t column, std::string_view) override {
    if (row == 2 && column == 1) whileWritingFirstRow();
  }
  void DisconnectWorksheet() noexcept override {}
  void DisconnectWorkbook() noexcept override {}
  void DisconnectApplication() noexcept override {}
};

// The export watch on the fake clock: the GUI thread's ticks while the spreadsheet is reached and
// while it writes the first row (it beat once the worksheet was ready), and what each shows.
TEST_F(PresenterTest, ExportWatchOnTheClock) {
  struct Tick {
    std::chrono::milliseconds at;
    bool progress, box;  // shown after the tick
    bool keepWaiting = false;
  };
  struct Case {
    const char* name;
    std::vector<Tick> connecting, writing;
    int boxes;  // not-answering boxes shown in all
  } cases[] = {
      {"silent after the worksheet was ready",
       {},
       {{0ms, false, false},
        {999ms, false, false},  // an export that ends within a second shows nothing
        {1000ms, true, false},
        {9999ms, true, false},
        {10000ms, true, true, true},
        {19999ms, true, false},  // another full wait after keep waiting
        {20000ms, true, true}},
       2},
      {"office slow to start",
       {{1000ms, true, false}, {10000ms, true, false}, {29999ms, true, false}},
       {{30000ms, true, false}, {39999ms, true, false}, {40000ms, true, true}},
       1},
  };
  Read("realcn_lines.mrc");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto owned = std::make_unique<ScriptedSpreadsheet>();
    ScriptedSpreadsheet& scripted = *owned;
    SpreadsheetExport slow(std::move(owned));
    logic.SetExportModule(&slow);
    view.boxesShown = 0;
    const auto run = [&](const std::vector<Tick>& ticks) {
      for (const Tick& t : ticks) {
        At(t.at);
        EXPECT_EQ(view.progress.has_value(), t.progress) << t.at.count() << " ms";
        EXPECT_EQ(view.box.has_value(), t.box) << t.at.count() << " ms";
        if (t.keepWaiting) logic.KeepWaiting();
      }
    };
    scripted.whileConnecting = [&] { run(c.connecting); };
    scripted.whileWritingFirstRow = [&] { run(c.writing); };
    clock.now = 0ms;
    logic.Export();
    workers.RunAll();
    EXPECT_EQ(view.boxesShown, c.boxes);
    // The export has finished while the box was open: both dialogs go.
    At(clock.now + 50ms);
    EXPECT_FALSE(view.box);
    EXPECT_FALSE(view.progress);
    EXPECT_EQ(logic.CurrentState(), State::Idle);
    EXPECT_TRUE(view.enabled);
    EXPECT_TRUE(dialogs.boxes.empty());
    logic.SetExportModule(module.get());
  }
}

TEST_F(PresenterTest, ExportOutcomesAndTheirBoxes) {
  struct Case {
    const char* name;
    std::function<void(PresenterTest&)> during;  // before the worker runs
    std::string_view caption, text, details;     // the one box expected, or none
  } cases[] = {
      {"done", [](PresenterTest&) {}, "", "", ""},
      {"cancelled", [](PresenterTest& t) { t.logic.CancelExport(); }, "", "", ""},
      {"no spreadsheet", [](PresenterTest& t) { t.sheet->RefuseConnect(true); }, "错误",
       "NO excel ！", "无法连接电子表格程序：refused"},
      {"failed", [](PresenterTest& t) { t.sheet->FailCell(2, 1, "坏了"); }, "Tessaly", "坏了.", ""},
      {"gave up",
       [](PresenterTest& t) {
         t.At(10s);
         t.logic.GiveUp();
         t.logic.GiveUp();  // twice: the second click finds the box gone
       },
       "Tessaly", "电子表格没有响应，导出已放弃；已写入的行留在文档中.", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sheet->RefuseConnect(false);
    sheet->ClearFailures();
    dialogs.boxes.clear();
    clock.now = 0ms;
    StartExport();
    c.during(*this);
    workers.RunAll();
    loop.Tick();
    EXPECT_EQ(logic.CurrentState(), State::Idle);
    if (c.text.empty()) {
      EXPECT_TRUE(dialogs.boxes.empty());
      continue;
    }
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].caption, c.caption);
    EXPECT_EQ(dialogs.boxes[0].text, c.text);
    EXPECT_EQ(dialogs.boxes[0].details, c.details);
  }
}

TEST_F(PresenterTest, CaptionEditsAreRefusedWhileExporting) {
  Read("realcn_lines.mrc");
  EXPECT_TRUE(logic.TitleEdited(0, "新书名"));
  EXPECT_EQ(logic.Cell(0, 0), "新书名");
  EXPECT_FALSE(logic.TitleEdited(logic.RowCount(), "x"));
  logic.Export();
  EXPECT_FALSE(logic.TitleEdited(0, "改不了"));
  workers.RunAll();
  loop.Tick();
  EXPECT_EQ(logic.Books().ExportView().Cell(0, 0), "新书名");
}

TEST_F(PresenterTest, FailuresOfHandlersReachTheTopLevelDisplay) {
  logic.SetExportModule(nullptr);
  logic.Export();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, "导出模块尚未创建.");
  EXPECT_EQ(dialogs.boxes[0].icon, BoxIcon::Error);
  logic.SetExportModule(module.get());
}

}  // namespace
