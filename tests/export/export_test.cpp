// The export routine against the recording spreadsheet: which calls, in which order, with
// which cells, and what each way of failing leaves behind.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake_backend.h"
#include "gbk.h"  // the captions
#include "spreadsheet_export.h"
#include "vector_source.h"
#ifdef TESSALY_HAVE_LIBREOFFICE
#include "calc.h"
#endif

namespace tessaly {
namespace {

using testing::ColumnCaptionsUtf8;
using testing::ListItem;
using testing::VectorSource;
using Sheet = RecordingSpreadsheet::Sheet;

class CountingUi : public ExportUi {
 public:
  void ShowNoSpreadsheet(const std::string&) override { ++shown; }
  void Progress(std::int64_t written, std::int64_t rows) override {
    progress.emplace_back(written, rows);
    if (on_progress) on_progress(written);
  }
  bool Cancelled() const override { return cancelled; }
  int shown = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  std::function<void(std::int64_t)> on_progress;
  bool cancelled = false;
};

struct Rig {
  Rig() {
    auto fake = std::make_unique<RecordingSpreadsheet>();
    app = fake.get();
    module = std::make_unique<SpreadsheetExport>(std::move(fake));
  }
  RecordingSpreadsheet* app;
  std::unique_ptr<SpreadsheetExport> module;
  CountingUi ui;
};

// Items of the shape the read command makes: a title and twelve sub-items.
VectorSource BookList(int items) {
  std::vector<ListItem> rows;
  for (int i = 0; i < items; ++i) {
    ListItem item{"书名" + std::to_string(i), {}};
    for (int s = 0; s < 12; ++s) item.sub_items.push_back("值" + std::to_string(i * 100 + s));
    item.sub_items[1] = "978711122222" + std::to_string(i % 10);  // ISBN stays as it is
    item.sub_items[3] = "";                                       // an empty cell is written too
    rows.push_back(std::move(item));
  }
  return VectorSource(ColumnCaptionsUtf8(), std::move(rows));
}

// What the sheet must hold after exporting list completely.
Sheet Expected(const VectorSource& list) {
  Sheet sheet;
  for (int c = 0; c < list.ColumnCount(); ++c) sheet[{1, c + 1}] = list.ColumnCaption(c);
  for (std::int64_t i = 0; i < list.RowCount(); ++i) {
    const auto row = static_cast<std::int32_t>(i + 2);
    for (int c = 1; c <= list.ColumnCount(); ++c) sheet[{row, c}] = list.Cell(i, c - 1);
  }
  return sheet;
}

std::vector<std::string> Cells(std::int32_t row, std::int32_t columns) {
  std::vector<std::string> out;
  for (std::int32_t c = 1; c <= columns; ++c) {
    out.push_back("PutCell(" + std::to_string(row) + "," + std::to_string(c) + ")");
  }
  return out;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const std::vector<std::string> kOpening = {
    "DisconnectApplication", "ConnectApplication", "AddWorkbook",
    "AttachFirstWorksheet",  "SetVisible",         "SheetRows"};
const std::vector<std::string> kRelease = {"DisconnectWorksheet", "DisconnectWorkbook",
                                           "DisconnectApplication"};

TEST(ExportList, EmptyListTouchesNothing) {
  Rig rig;
  VectorSource list = BookList(0);
  ExportList(*rig.module, list, rig.ui);
  EXPECT_TRUE(rig.app->Calls().empty());
  EXPECT_EQ(rig.ui.shown, 0);
}

TEST(ExportList, CallsInOrderHeaderThenRowsLeftToRight) {
  Rig rig;
  VectorSource list({"a", "b", "c"}, {{"r1", {"x", "y"}}, {"r2", {"", "z"}}});
  ExportList(*rig.module, list, rig.ui);

  EXPECT_EQ(
      rig.app->Briefs(),
      Join({kOpening, Cells(1, 3), Cells(2, 3), Cells(3, 3), {"Flush", "SetVisible"}, kRelease}));
  EXPECT_EQ(rig.ui.shown, 0);
  EXPECT_FALSE(rig.app->HoldsAnything());
}

TEST(ExportList, WritesEveryCellOfABookListAsItsText) {
  Rig rig;
  VectorSource list = BookList(25);
  ExportList(*rig.module, list, rig.ui);

  ASSERT_EQ(rig.app->Workbooks().size(), 1u);
  const Sheet& sheet = rig.app->Workbooks()[0];
  EXPECT_EQ(sheet.size(), 26u * 13u);
  EXPECT_EQ(sheet, Expected(list));
  EXPECT_EQ(sheet.at({1, 1}), "名称");
  EXPECT_EQ(sheet.at({1, 13}), "提要");
  EXPECT_EQ(sheet.at({2, 5}), "");
}

// A list that changes while it is exported shows that the counts are read as the loops test
// them rather than once: the item count at every row, the column count at every row.
class ShrinkingSource : public VectorSource {
 public:
  using VectorSource::VectorSource;
  std::int64_t RowCount() const override {
    ++item_count_reads;
    return item_count_reads > 2 ? 1 : VectorSource::RowCount();
  }
  int ColumnCount() const override {
    ++column_count_reads;
    return column_count_reads > 1 ? 2 : VectorSource::ColumnCount();
  }
  mutable int item_count_reads = 0;
  mutable int column_count_reads = 0;
};

TEST(ExportList, RereadsCountsAsTheLoopsGo) {
  Rig rig;
  ShrinkingSource list({"a", "b", "c"}, {{"r1", {"x", "y"}}, {"r2", {"u", "v"}}, {"r3", {}}});
  ExportList(*rig.module, list, rig.ui);
  // Header of three; row 2 with the column count read again (two); then the item count drops
  // to one and row 3 never starts.
  EXPECT_EQ(rig.app->Briefs(),
            Join({kOpening, Cells(1, 3), Cells(2, 2), {"Flush", "SetVisible"}, kRelease}));
}

struct ConnectCase {
  const char* name;
  std::function<void(RecordingSpreadsheet&)> arm;
};

class Unreachable : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(Unreachable, ShowsNoSpreadsheetOnceAndHoldsNothingAndTriesAgainNextTime) {
  Rig rig;
  GetParam().arm(*rig.app);
  VectorSource list = BookList(3);
  ExportList(*rig.module, list, rig.ui);
  EXPECT_EQ(rig.ui.shown, 1);
  EXPECT_EQ(rig.app->Briefs(),
            (std::vector<std::string>{"DisconnectApplication", "ConnectApplication"}));
  EXPECT_TRUE(rig.app->Workbooks().empty());
  EXPECT_FALSE(rig.app->HoldsAnything());

  // The spreadsheet has come up: the next click starts over and succeeds.
  rig.app->RefuseConnect(false);
  rig.app->ClearCalls();
  ExportList(*rig.module, list, rig.ui);
  EXPECT_EQ(rig.ui.shown, 1);
  ASSERT_EQ(rig.app->Workbooks().size(), 1u);
  EXPECT_EQ(rig.app->Workbooks()[0], Expected(list));
}

INSTANTIATE_TEST_SUITE_P(Connect, Unreachable,
                         ::testing::Values(ConnectCase{"Refused",
                                                       [](RecordingSpreadsheet& a) {
                                                         a.RefuseConnect(true);
                                                       }},
                                           ConnectCase{"FailsOtherwise",
                                                       [](RecordingSpreadsheet& a) {
                                                         a.FailCall("ConnectApplication", 1, "x");
                                                       }}),
                         [](const auto& info) { return std::string(info.param.name); });

// Running out of memory, or a fault of the program, while connecting is no missing spreadsheet:
// it goes on to the failure display as what it is.
TEST(Connect, OutOfMemoryIsNotNoSpreadsheet) {
  struct Starved final : SpreadsheetApplication {
    void ConnectApplication() override { throw std::bad_alloc(); }
    void AddWorkbook() override {}
    void AttachFirstWorksheet() override {}
    void SetVisible() override {}
    std::int64_t SheetRows() override { return 1'048'576; }
    void AddWorksheet() override {}
    void PutCell(std::int32_t, std::int32_t, std::string_view) override {}
    void DisconnectWorksheet() noexcept override {}
    void DisconnectWorkbook() noexcept override {}
    void DisconnectApplication() noexcept override {}
  };
  SpreadsheetExport module(std::make_unique<Starved>());
  CountingUi ui;
  VectorSource list = BookList(1);
  EXPECT_THROW(ExportList(module, list, ui), std::bad_alloc);
  EXPECT_EQ(ui.shown, 0);
}

struct FailureCase {
  const char* name;
  std::function<void(RecordingSpreadsheet&, VectorSource&)> arm;
  std::string message;     // what reaches the failure display
  std::string last_call;   // the call the export ended at, before releasing
  std::size_t cells_kept;  // cells in the workbook afterwards
};

class LaterFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(LaterFailure, EndsThereReleasesWorksheetWorkbookApplicationAndPassesTheError) {
  const FailureCase& fc = GetParam();
  Rig rig;
  VectorSource list = BookList(4);
  fc.arm(*rig.app, list);

  try {
    ExportList(*rig.module, list, rig.ui);
    FAIL() << "the export should have failed";
  } catch (const marc::Exception& e) {
    EXPECT_EQ(std::string(e.what()), fc.message);
  }
  EXPECT_EQ(rig.ui.shown, 0);

  std::vector<std::string> briefs = rig.app->Briefs();
  ASSERT_GE(briefs.size(), 3u);
  const std::vector<std::string> tail(briefs.end() - 3, briefs.end());
  EXPECT_EQ(tail, kRelease);
  EXPECT_EQ(briefs[briefs.size() - 4], fc.last_call);
  EXPECT_FALSE(rig.app->HoldsAnything());

  std::size_t kept = 0;
  for (const auto& wb : rig.app->Workbooks()) kept += wb.size();
  EXPECT_EQ(kept, fc.cells_kept);
  // Whatever was written is exactly what a complete export writes there.
  const Sheet full = Expected(BookList(4));
  for (const auto& wb : rig.app->Workbooks()) {
    for (const auto& [at, text] : wb) {
      if (at == std::pair<std::int32_t, std::int32_t>{3, 1} && fc.name == std::string("EmptyRow"))
        continue;
      EXPECT_EQ(text, full.at(at)) << at.first << "," << at.second;
    }
  }
}

auto Call(const char* op, int nth) {
  return [=](RecordingSpreadsheet& a, VectorSource&) { a.FailCall(op, nth, "Refused by Calc"); };
}

INSTANTIATE_TEST_SUITE_P(
    Export, LaterFailure,
    ::testing::Values(
        FailureCase{"AddWorkbook", Call("AddWorkbook", 1), "Refused by Calc", "AddWorkbook", 0},
        FailureCase{"FirstWorksheet", Call("AttachFirstWorksheet", 1), "Refused by Calc",
                    "AttachFirstWorksheet", 0},
        FailureCase{"Visible", Call("SetVisible", 1), "Refused by Calc", "SetVisible", 0},
        FailureCase{"HeaderCell",
                    [](RecordingSpreadsheet& a, VectorSource&) { a.FailCell(1, 7, "Cell 1 7"); },
                    "Cell 1 7", "PutCell(1,7)", 6},
        FailureCase{"CellInRow",
                    [](RecordingSpreadsheet& a, VectorSource&) { a.FailCell(4, 5, "Cell 4 5"); },
                    "Cell 4 5", "PutCell(4,5)", 13 * 3 + 4},
        FailureCase{"SheetWithoutRoom",
                    [](RecordingSpreadsheet& a, VectorSource&) { a.SetSheetRows(1); },
                    "电子表格的工作表容纳不下任何一行", "SheetRows", 0},
        FailureCase{"AddWorksheet",
                    [](RecordingSpreadsheet& a, VectorSource&) {
                      a.SetSheetRows(3);
                      a.FailCall("AddWorksheet", 1, "No more sheets");
                    },
                    "No more sheets", "AddWorksheet", 3 * 13},
        FailureCase{"Flush", Call("Flush", 1), "Refused by Calc", "Flush", 5 * 13},
        FailureCase{"VisibleAtEnd", Call("SetVisible", 2), "Refused by Calc", "SetVisible", 5 * 13},
        // The empty row a failed read leaves: its caption is written, then sub-item 0 fails.
        FailureCase{"EmptyRow",
                    [](RecordingSpreadsheet&, VectorSource& l) { l.Items()[1] = ListItem{}; },
                    "List index out of bounds (0)", "PutCell(3,1)", 13 * 2 + 1},
        FailureCase{
            "ShortRow",
            [](RecordingSpreadsheet&, VectorSource& l) { l.Items()[2].sub_items.resize(5); },
            "List index out of bounds (5)", "PutCell(4,6)", 13 * 3 + 6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExportList, TwoExportsMakeTwoWorkbooks) {
  Rig rig;
  VectorSource list = BookList(3);
  ExportList(*rig.module, list, rig.ui);
  const std::size_t first_export = rig.app->Calls().size();
  ExportList(*rig.module, list, rig.ui);

  ASSERT_EQ(rig.app->Workbooks().size(), 2u);
  EXPECT_EQ(rig.app->Workbooks()[0], Expected(list));
  EXPECT_EQ(rig.app->Workbooks()[1], Expected(list));
  const auto briefs = rig.app->Briefs();
  EXPECT_EQ(briefs.size(), 2 * first_export);
  EXPECT_EQ(std::vector<std::string>(briefs.begin() + first_export, briefs.end()),
            std::vector<std::string>(briefs.begin(), briefs.begin() + first_export));
}

TEST(ExportList, AfterAFailureTheNextExportStartsFromNothing) {
  Rig rig;
  VectorSource list = BookList(2);
  rig.app->FailCell(2, 2, "gone");
  EXPECT_THROW(ExportList(*rig.module, list, rig.ui), AutomationError);
  rig.app->ClearFailures();
  rig.app->ClearCalls();
  ExportList(*rig.module, list, rig.ui);
  const auto briefs = rig.app->Briefs();
  EXPECT_EQ(std::vector<std::string>(briefs.begin(), briefs.begin() + 6), kOpening);
  ASSERT_EQ(rig.app->Workbooks().size(), 2u);
  EXPECT_EQ(rig.app->Workbooks()[1], Expected(list));
}

// Progress counts the rows written of all, once the worksheet is ready and after every row.
TEST(ExportList, ReportsRowsWrittenOfAll) {
  Rig rig;
  VectorSource list = BookList(3);
  ExportList(*rig.module, list, rig.ui);
  const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {
      {0, 3}, {1, 3}, {2, 3}, {3, 3}};
  EXPECT_EQ(rig.ui.progress, expected);
}

// A cancel ends the export before the next row like a failure (components released, the rows
// written stay) but is no failure to display; the next export starts over.
TEST(ExportList, CancelStopsBeforeTheNextRowAndReleasesEverything) {
  Rig rig;
  VectorSource list = BookList(5);
  rig.ui.on_progress = [&](std::int64_t written) { rig.ui.cancelled = written == 2; };
  EXPECT_THROW(ExportList(*rig.module, list, rig.ui), ExportCancelled);
  const auto briefs = rig.app->Briefs();
  EXPECT_EQ(std::vector<std::string>(briefs.end() - 4, briefs.end()),
            Join({{"PutCell(3,13)"}, kRelease}));
  ASSERT_EQ(rig.app->Workbooks().size(), 1u);
  EXPECT_EQ(rig.app->Workbooks()[0].size(), 3u * 13u);
  EXPECT_FALSE(rig.app->HoldsAnything());
  EXPECT_EQ(rig.ui.shown, 0);

  rig.ui.on_progress = nullptr;
  rig.ui.cancelled = false;
  ExportList(*rig.module, list, rig.ui);
  ASSERT_EQ(rig.app->Workbooks().size(), 2u);
  EXPECT_EQ(rig.app->Workbooks()[1], Expected(list));
}

// A list longer than a worksheet goes on in worksheets added after it, each under the captions
// again; progress counts on across them, and a cancel at the end of a sheet adds none.
TEST(ExportList, AListLongerThanASheetGoesOnInNewSheetsUnderTheCaptions) {
  Rig rig;
  rig.app->SetSheetRows(3);  // the captions and two rows
  VectorSource list = BookList(5);
  ExportList(*rig.module, list, rig.ui);

  const Sheet all = Expected(list);
  const auto sheet = [&](std::int32_t first_item, std::int32_t items) {
    Sheet s;
    for (std::int32_t c = 1; c <= 13; ++c) {
      s[{1, c}] = all.at({1, c});
      for (std::int32_t i = 0; i < items; ++i) s[{2 + i, c}] = all.at({first_item + 2 + i, c});
    }
    return s;
  };
  ASSERT_EQ(rig.app->Workbooks().size(), 1u);
  EXPECT_EQ(rig.app->Workbooks()[0], sheet(0, 2));
  ASSERT_EQ(rig.app->LaterSheets(0).size(), 2u);
  EXPECT_EQ(rig.app->LaterSheets(0)[0], sheet(2, 2));
  EXPECT_EQ(rig.app->LaterSheets(0)[1], sheet(4, 1));
  EXPECT_EQ(rig.ui.progress.size(), 6u);
  EXPECT_EQ(rig.ui.progress.back(), (std::pair<std::int64_t, std::int64_t>{5, 5}));

  rig.ui.on_progress = [&](std::int64_t written) { rig.ui.cancelled = written == 2; };
  EXPECT_THROW(ExportList(*rig.module, list, rig.ui), ExportCancelled);
  EXPECT_TRUE(rig.app->LaterSheets(1).empty());
}

// Given up while connecting: no "NO excel ！" on top of it.
TEST(ExportList, CancelWhileConnectingIsNoMissingSpreadsheet) {
  Rig rig;
  rig.app->RefuseConnect(true);
  rig.ui.cancelled = true;
  VectorSource list = BookList(2);
  EXPECT_THROW(ExportList(*rig.module, list, rig.ui), ExportCancelled);
  EXPECT_EQ(rig.ui.shown, 0);
  EXPECT_FALSE(rig.app->HoldsAnything());
}

#ifdef TESSALY_HAVE_LIBREOFFICE
// Without the Calc module (LibreOffice not installed, or the module not beside the program)
// the export says there is no spreadsheet, every time it is asked.
TEST(CalcModule, MissingModuleMeansNoSpreadsheet) {
  SpreadsheetExport module(MakeLibreOfficeCalc({}, "/nonexistent/libtessaly_calc.so"));
  CountingUi ui;
  VectorSource list = BookList(1);
  ExportList(module, list, ui);
  ExportList(module, list, ui);
  EXPECT_EQ(ui.shown, 2);
}
#endif

}  // namespace
}  // namespace tessaly
