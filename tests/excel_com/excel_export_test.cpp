// The whole export as the Windows program runs it: the module with its built-in description,
// the platform's backend (Excel over COM) and the export routine, against the fake Excel.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "conformance.h"
#include "excel_com_win.h"
#include "fake_excel.h"
#include "spreadsheet_export.h"
#include "vector_source.h"

namespace {

using fake_excel::Kind;
using tessaly::testing::ListItem;
using tessaly::testing::VectorSource;

// The list's column captions, as the list hands them to the export (UTF-8).
const std::vector<std::string> kCaptions = {"名称",   "作者",     "isbn", "价格", "出版地",
                                            "出版社", "出版时间", "页数", "尺寸", "附件",
                                            "分类号", "分类名",   "提要"};
const std::vector<std::wstring> kCaptionsWide = {
    L"名称", L"作者", L"isbn", L"价格",   L"出版地", L"出版社", L"出版时间",
    L"页数", L"尺寸", L"附件", L"分类号", L"分类名", L"提要"};

class ShownMessages : public tessaly::ExportUi {
 public:
  void ShowNoSpreadsheet(const std::string&) override { ++no_spreadsheet; }
  int no_spreadsheet = 0;
};

class ExcelExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    com_ = true;
    if (fake_excel::RealExcelRunning()) GTEST_SKIP() << "a real Excel is running";
    fake_excel::RegisterExcelInterfaces();
    server_.emplace();
  }
  void TearDown() override {
    server_.reset();
    if (com_) CoUninitialize();
  }

  fake_excel::Server& server() { return *server_; }
  fake_excel::State& excel() { return server_->state(); }
  const fake_excel::CellMap& Sheet1(std::size_t book = 0) {
    return excel().workbooks.at(book).sheets.at(0).cells;
  }
  std::size_t Count(const std::string& call_prefix) {
    const auto log = server().Log();
    return static_cast<std::size_t>(std::count_if(
        log.begin(), log.end(), [&](const auto& line) { return line.rfind(call_prefix, 0) == 0; }));
  }

  tessaly::SpreadsheetExport module_;  // the platform's backend, as the program makes it
  ShownMessages ui_;

 private:
  bool com_ = false;
  std::optional<fake_excel::Server> server_;
};

ListItem Row(const std::string& title) {
  ListItem item{title, {}};
  for (int c = 2; c <= 13; ++c) item.sub_items.push_back(title + "/" + std::to_string(c));
  return item;
}

TEST_F(ExcelExportTest, WritesTheHeaderAndEveryRowIntoANewWorkbookOfTheRunningExcel) {
  server().RunInstance();
  server().RegisterClass();
  ListItem chinese = Row("朱镕基");
  chinese.sub_items[0] = "";                       // an empty author is still written
  chinese.sub_items[11] = std::string(4000, 'x');  // a long summary arrives whole
  const VectorSource list(kCaptions, {Row("a"), chinese});

  tessaly::ExportList(module_, list, ui_);

  EXPECT_EQ(ui_.no_spreadsheet, 0);
  fake_excel::CellMap expected;
  for (int c = 1; c <= 13; ++c) {
    expected[{1, c}] = kCaptionsWide[c - 1];
    expected[{2, c}] = c == 1 ? L"a" : L"a/" + std::to_wstring(c);
    expected[{3, c}] = c == 1 ? L"朱镕基" : L"朱镕基/" + std::to_wstring(c);
  }
  expected[{3, 2}] = L"";
  expected[{3, 13}] = std::wstring(4000, L'x');
  ASSERT_EQ(excel().workbooks.size(), 1u);
  EXPECT_EQ(Sheet1(), expected);
  // The running Excel, not a new one; the captions, then both rows in one block.
  EXPECT_EQ(Count("factory.CreateInstance"), 0u);
  EXPECT_EQ(Count("worksheet.Invoke Range get lcid=0 iid=null args=[VT_BSTR \"A2:M3\"]"), 1u);
  EXPECT_EQ(Count("range.Invoke Value put"), 2u);
  EXPECT_EQ(Count("range.Invoke Item put"), 0u);
  EXPECT_EQ(Count("application.Invoke Visible put"), 2u);
  EXPECT_TRUE(excel().visible);
  EXPECT_FALSE(excel().quit);
  EXPECT_EQ(excel().LiveObjects(), 1);  // only the running Excel, held by its registration
}

// The conformance cells through the read path and the list's UTF-8 reach Excel as the characters
// the table names, whatever the thread's code page: the same as the list, marcrows and Calc show.
TEST_F(ExcelExportTest, ConformanceCellsArriveAsTheirCharacters) {
  std::vector<ListItem> items;
  for (auto& cells : tessaly::test::ReadConformanceRecordsUtf8())
    items.push_back(ListItem{cells[0], {cells.begin() + 1, cells.end()}});
  const auto cases = tessaly::test::Gb18030Cases();
  ASSERT_EQ(items.size(), cases.size());

  server().RunInstance();
  tessaly::ExportList(module_, VectorSource(kCaptions, items), ui_);
  ASSERT_EQ(excel().workbooks.size(), 1u);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::wstring want(cases[i].want.begin(), cases[i].want.end());
    const int row = static_cast<int>(i) + 2;
    EXPECT_EQ(Sheet1().at({row, 1}), want) << cases[i].name;
    EXPECT_EQ(Sheet1().at({row, 2}), want) << cases[i].name;
  }
}

// A list one row longer than the sheet (as the sheet tells it) goes on in a sheet added after
// the workbook's last, under the captions again; the block that meets the sheet's end is written
// before the new sheet is added.
TEST_F(ExcelExportTest, AListLongerThanTheSheetGoesOnInANewLastSheet) {
  server().RunInstance();
  excel().sheet_rows = 3;  // the captions and two rows
  tessaly::ExportList(module_, VectorSource(kCaptions, {Row("a"), Row("b"), Row("c")}), ui_);

  ASSERT_EQ(excel().workbooks.size(), 1u);
  const auto& sheets = excel().workbooks[0].sheets;
  ASSERT_EQ(sheets.size(), 4u);  // the new workbook's three, then the one added
  const auto cell = [](const std::wstring& title, int c) {
    return c == 1 ? title : title + L"/" + std::to_wstring(c);
  };
  fake_excel::CellMap first, last;
  for (int c = 1; c <= 13; ++c) {
    first[{1, c}] = last[{1, c}] = kCaptionsWide[c - 1];
    first[{2, c}] = cell(L"a", c);
    first[{3, c}] = cell(L"b", c);
    last[{2, c}] = cell(L"c", c);
  }
  EXPECT_EQ(Sheet1(), first);
  EXPECT_TRUE(sheets[1].cells.empty());
  EXPECT_TRUE(sheets[2].cells.empty());
  EXPECT_EQ(sheets[3].cells, last);
  EXPECT_EQ(excel().LiveObjects(), 1);
  const auto log = server().Log();
  const auto add = std::find_if(log.begin(), log.end(), [](const std::string& line) {
    return line.rfind("worksheets.Invoke Add", 0) == 0;
  });
  ASSERT_NE(add, log.end());
  EXPECT_EQ(std::count_if(log.begin(), add,
                          [](const std::string& line) {
                            return line.find("Range get") != std::string::npos &&
                                   line.find("\"A2:M3\"") != std::string::npos;
                          }),
            1);
}

TEST_F(ExcelExportTest, StartsExcelWhenNoneRunsAndTwoExportsMakeTwoWorkbooks) {
  server().RegisterClass();
  const VectorSource list(kCaptions, {Row("a")});
  tessaly::ExportList(module_, list, ui_);
  tessaly::ExportList(module_, list, ui_);

  EXPECT_EQ(Count("factory.CreateInstance IUnknown"), 2u);
  ASSERT_EQ(excel().workbooks.size(), 2u);
  EXPECT_EQ(Sheet1(0), Sheet1(1));
  EXPECT_EQ(Sheet1(1).size(), 26u);
  EXPECT_EQ(excel().LiveObjects(), 0);
}

TEST_F(ExcelExportTest, AnEmptyListCallsNothing) {
  server().RunInstance();
  server().RegisterClass();
  tessaly::ExportList(module_, VectorSource(kCaptions, {}), ui_);
  EXPECT_EQ(server().Log(), std::vector<std::string>{});
  EXPECT_EQ(ui_.no_spreadsheet, 0);
}

TEST_F(ExcelExportTest, WithoutExcelSaysSoAndTheNextClickTriesAgain) {
  if (fake_excel::RealExcelInstalled()) GTEST_SKIP() << "Excel is installed and would start";
  const VectorSource list(kCaptions, {Row("a")});
  tessaly::ExportList(module_, list, ui_);
  EXPECT_EQ(ui_.no_spreadsheet, 1);

  server().RegisterClass();
  tessaly::ExportList(module_, list, ui_);
  EXPECT_EQ(ui_.no_spreadsheet, 1);
  EXPECT_EQ(Sheet1().size(), 26u);
}

TEST_F(ExcelExportTest, TheEmptyRowOfAFailedReadStopsAtItsFirstMissingCell) {
  server().RunInstance();
  const VectorSource list(kCaptions, {Row("a"), ListItem{"", {}}, Row("never")});
  try {
    tessaly::ExportList(module_, list, ui_);
    ADD_FAILURE() << "no error";
  } catch (const marc::EStringListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (0)");
  }
  EXPECT_EQ(Sheet1().size(), 27u);  // header, the first row, and column A of the empty row
  EXPECT_EQ(Sheet1().at({3, 1}), L"");
  EXPECT_EQ(excel().LiveObjects(), 1);
  EXPECT_FALSE(excel().quit);
}

// A block refused midway ends the export with Excel's text; the blocks before stay, and nothing
// is asked of Excel afterwards.
TEST_F(ExcelExportTest, ExcelRefusingABlockEndsTheExportWithItsTextAndKeepsTheBlocksBefore) {
  server().RunInstance();
  excel().failure = fake_excel::Failure{Kind::Range,
                                        "Invoke",
                                        L"Value",
                                        3,
                                        static_cast<HRESULT>(0x800A03EC),
                                        fake_excel::Failure::Report::Description,
                                        L"不能更改合并单元格的某一部分。"};
  tessaly::ExcelComOptions options;
  options.block_rows = 1;
  tessaly::SpreadsheetExport module(tessaly::MakeExcelComApplication(options));
  const VectorSource list(kCaptions, {Row("a"), Row("b"), Row("c")});
  try {
    tessaly::ExportList(module, list, ui_);
    ADD_FAILURE() << "no error";
  } catch (const tessaly::AutomationError& e) {
    EXPECT_STREQ(e.what(), "不能更改合并单元格的某一部分");
  }
  EXPECT_EQ(Sheet1().size(), 26u);  // the captions and the first row
  EXPECT_EQ(server().Log().back().rfind("range.Invoke Value", 0), 0u);
  EXPECT_EQ(excel().LiveObjects(), 1);
}

}  // namespace
