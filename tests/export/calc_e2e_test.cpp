// The export into a real LibreOffice Calc, started headless by the test run itself, with every
// cell read back through UNO. Slow (an office start) and not for sanitizer builds: the office's
// libraries are loaded into the test process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <rtl/bootstrap.hxx>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "calc.h"
#include "calc_readback.h"
#include "charset.h"
#include "conformance.h"
#include "gbk.h"
#include "spreadsheet_export.h"
#include "test_office.h"
#include "vector_source.h"

namespace css = com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

namespace tessaly {
namespace {

using testing::Added;
using testing::CalcDocuments;
using testing::Cell;
using testing::ColumnCaptionsUtf8;
using testing::Connect;
using testing::Doc;
using testing::FirstSheet;
using testing::Grid;
using testing::ListItem;
using testing::ReadFirstSheet;
using testing::TestOffice;
using testing::UniquePipeName;
using testing::VectorSource;

css::table::CellContentType TypeOf(const Doc& doc, int column, int row) {
  return FirstSheet(doc)->getCellByPosition(column, row)->getType();
}

// ---- The lists exported ---------------------------------------------------------------------

// The rows, as the list hands them over (UTF-8) and as they must arrive.
using Rows = std::vector<std::vector<std::string>>;

std::string Summary5000() {
  std::string s;
  const std::string piece = "本书系统介绍计算机网络的原理与应用";  // 17 characters
  while (s.size() < 7500 - piece.size()) s += piece;               // 3 UTF-8 bytes each
  while (s.size() < 7500) s += "述";
  return s;  // 2,500 characters
}

Rows BookRows(int count) {
  Rows rows;
  rows.push_back({"计算机网络", "谢希仁编著", "9787111222223", "2001.10", "北京", "机械工业出版社",
                  "2001.10", "0012", "26cm", "", "TP393", "计算机网络-高等学校-教材",
                  Summary5000()});
  rows.push_back({"", "", "", "", "", "", "", "", "", "", "", "", ""});
  rows.push_back({"=1+1", "TRUE", "1e5", "  12  ", "-0", "1/2", "12:30", "3%", "$5", "0x1F",
                  "'quoted", "1,234", "00012"});
  // Beyond GBK and beyond the first plane: a UTF-8 record file may hold them.
  rows.push_back({"𠮷野家", "€ 5", "Ünïcödé", "", "", "", "", "", "", "", "", "", "𝄞"});
  for (int i = static_cast<int>(rows.size()); i < count; ++i) {
    std::vector<std::string> row;
    row.push_back("图书第" + std::to_string(i) + "种");
    for (int c = 1; c < 13; ++c) {
      row.push_back(c % 5 == 0 ? std::string()
                               : "字段" + std::to_string(c) + "·" + std::to_string(i));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

VectorSource List(const Rows& rows) {
  std::vector<ListItem> items;
  for (const auto& r : rows) items.push_back(ListItem{r[0], {r.begin() + 1, r.end()}});
  return VectorSource(ColumnCaptionsUtf8(), std::move(items));
}

// The sheet holds the captions and exactly these rows, every non-empty value as text.
void ExpectSheet(const Doc& doc, const Rows& rows, int sheet = 0) {
  const Grid grid = ReadFirstSheet(doc, sheet);
  ASSERT_EQ(grid.size(), rows.size() + 1);
  const auto captions = ColumnCaptionsUtf8();
  for (std::size_t c = 0; c < 13; ++c) {
    ASSERT_EQ(grid[0].size(), 13u);
    EXPECT_EQ(grid[0][c].text, captions[c]);
  }
  int mismatches = 0;
  for (std::size_t r = 0; r < rows.size() && mismatches < 10; ++r) {
    ASSERT_EQ(grid[r + 1].size(), 13u);
    for (std::size_t c = 0; c < 13; ++c) {
      const Cell& got = grid[r + 1][c];
      if (got.text != rows[r][c] || !got.is_text) {
        ++mismatches;
        ADD_FAILURE() << "row " << r + 2 << " column " << c + 1 << ": '" << got.text
                      << "' (text: " << got.is_text << "), expected '" << rows[r][c] << "'";
      }
    }
  }
}

class CountingUi : public ExportUi {
 public:
  void ShowNoSpreadsheet(const std::string&) override { ++shown; }
  int shown = 0;
};

std::unique_ptr<SpreadsheetExport> ModuleOn(const std::string& pipe) {
  CalcOptions options;
  options.pipe_name = pipe;
  options.start_office = false;
  return std::make_unique<SpreadsheetExport>(MakeLibreOfficeCalc(options));
}

// One office for the suite; tests that kill or restart one bring their own.
class CalcExport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    office_ = new TestOffice(UniquePipeName("e2e"));
    desktop_ = new Reference<css::frame::XDesktop2>(Connect(office_->Pipe()));
  }
  static void TearDownTestSuite() {
    delete desktop_;
    delete office_;
  }
  static const Reference<css::frame::XDesktop2>& Desktop() { return *desktop_; }
  static const std::string& Pipe() { return office_->Pipe(); }

  static TestOffice* office_;
  static Reference<css::frame::XDesktop2>* desktop_;
};
TestOffice* CalcExport::office_ = nullptr;
Reference<css::frame::XDesktop2>* CalcExport::desktop_ = nullptr;

TEST_F(CalcExport, EveryCellArrivesAsTheSameText) {
  // Past several blocks, so that blocks meet in the middle.
  const Rows rows = BookRows(1234);
  VectorSource list = List(rows);
  ASSERT_EQ(list.Cell(0, 12).size(), 7500u);
  auto module = ModuleOn(Pipe());
  CountingUi ui;

  const auto before = CalcDocuments(Desktop());
  ExportList(*module, list, ui);
  EXPECT_EQ(ui.shown, 0);
  const auto added = Added(before, CalcDocuments(Desktop()));
  ASSERT_EQ(added.size(), 1u);
  ExpectSheet(added[0], rows);

  // Number-like texts are text cells; nothing written stays empty.
  EXPECT_EQ(TypeOf(added[0], 2, 1), css::table::CellContentType_TEXT);   // 9787111222223
  EXPECT_EQ(TypeOf(added[0], 6, 1), css::table::CellContentType_TEXT);   // 2001.10
  EXPECT_EQ(TypeOf(added[0], 0, 3), css::table::CellContentType_TEXT);   // =1+1
  EXPECT_EQ(TypeOf(added[0], 9, 1), css::table::CellContentType_EMPTY);  // ""
  EXPECT_EQ(TypeOf(added[0], 0, 2), css::table::CellContentType_EMPTY);
}

// The conformance cells, read from a record file through the read path and decoded as the list
// hands them over, arrive as the characters the table names: the same as the list, marcrows and
// Excel show.
TEST_F(CalcExport, ConformanceCellsThroughTheReadPathArriveAsTheirCharacters) {
  const Rows rows = test::ReadConformanceRecordsUtf8();
  const auto cases = test::Gb18030Cases();
  ASSERT_EQ(rows.size(), cases.size());
  Rows expected;
  for (const auto& c : cases) {
    std::vector<std::string> row(13);
    row[0] = row[1] = marc::EncodeUtf16(c.want, marc::TextEncoding::Utf8);
    expected.push_back(std::move(row));
  }
  ASSERT_EQ(rows, expected);
  auto module = ModuleOn(Pipe());
  CountingUi ui;
  const auto before = CalcDocuments(Desktop());
  ExportList(*module, List(rows), ui);
  const auto added = Added(before, CalcDocuments(Desktop()));
  ASSERT_EQ(added.size(), 1u);
  ExpectSheet(added[0], expected);
}

TEST_F(CalcExport, TwoExportsMakeTwoDocuments) {
  const Rows rows = BookRows(30);
  VectorSource list = List(rows);
  auto module = ModuleOn(Pipe());
  // An office that goes away mid-write is an error to report, not a signal that ends the program.
  struct sigaction pipe = {};
  sigaction(SIGPIPE, nullptr, &pipe);
  EXPECT_EQ(pipe.sa_handler, SIG_IGN);
  CountingUi ui;

  const auto before = CalcDocuments(Desktop());
  ExportList(*module, list, ui);
  ExportList(*module, list, ui);
  const auto added = Added(before, CalcDocuments(Desktop()));
  ASSERT_EQ(added.size(), 2u);
  ExpectSheet(added[0], rows);
  ExpectSheet(added[1], rows);
}

TEST_F(CalcExport, ARowWithoutSubItemsStopsTheExportButKeepsWhatWasWritten) {
  Rows rows = BookRows(1500);
  VectorSource list = List(rows);
  list.Items()[1200] = ListItem{"残行", {}};
  auto module = ModuleOn(Pipe());
  CountingUi ui;

  const auto before = CalcDocuments(Desktop());
  try {
    ExportList(*module, list, ui);
    FAIL() << "the export should have failed";
  } catch (const marc::EStringListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (0)");
  }
  const auto added = Added(before, CalcDocuments(Desktop()));
  ASSERT_EQ(added.size(), 1u);
  rows.resize(1201);
  rows[1200] = {"残行", "", "", "", "", "", "", "", "", "", "", "", ""};
  ExpectSheet(added[0], rows);
}

TEST_F(CalcExport, ADocumentClosedDuringTheExportIsSaidPlainly) {
  VectorSource list = List(BookRows(3000));
  auto module = ModuleOn(Pipe());
  CountingUi ui;
  const auto before = CalcDocuments(Desktop());
  list.on_item_caption = [&](std::int64_t item) {
    if (item != 1500) return;
    for (const auto& doc : Added(before, CalcDocuments(Desktop()))) {
      Reference<css::util::XCloseable>(doc, UNO_QUERY_THROW)->close(true);
    }
  };
  try {
    ExportList(*module, list, ui);
    FAIL() << "the export should have failed";
  } catch (const AutomationError& e) {
    EXPECT_STREQ(e.what(), "Calc 文档在导出完成之前被关闭了");
  }
  // The module is not stuck on the closed document.
  list.on_item_caption = nullptr;
  ExportList(*module, list, ui);
  EXPECT_EQ(Added(before, CalcDocuments(Desktop())).size(), 1u);
}

// A list one row longer than the sheet (here made smaller than Calc's) goes on in a sheet added
// after the last, under the captions again; the rows gathered for the first sheet go there.
TEST_F(CalcExport, AListLongerThanTheSheetGoesOnInANewLastSheet) {
  const Rows rows = BookRows(101);
  CalcOptions options;
  options.pipe_name = Pipe();
  options.start_office = false;
  options.sheet_rows = 101;  // the captions and 100 rows
  SpreadsheetExport module(MakeLibreOfficeCalc(options));
  CountingUi ui;

  const auto before = CalcDocuments(Desktop());
  ExportList(module, List(rows), ui);
  const auto added = Added(before, CalcDocuments(Desktop()));
  ASSERT_EQ(added.size(), 1u);
  ASSERT_EQ(testing::SheetCount(added[0]), 2);
  ExpectSheet(added[0], Rows(rows.begin(), rows.begin() + 100), 0);
  ExpectSheet(added[0], Rows(rows.begin() + 100, rows.end()), 1);
}

// The export puts cells in order, but the interface does not promise it: cells put in any
// order, across flushes and block boundaries, land where they were sent and clear nothing.
TEST_F(CalcExport, CellsPutInAnyOrderLandWhereTheyWereSent) {
  CalcOptions options;
  options.pipe_name = Pipe();
  options.start_office = false;
  options.block_rows = 2;
  const auto calc = MakeLibreOfficeCalc(options);
  const auto before = CalcDocuments(Desktop());
  calc->ConnectApplication();
  calc->AddWorkbook();
  calc->AttachFirstWorksheet();
  const auto put = [&](std::int32_t row, std::int32_t column, const char* text) {
    calc->PutCell(row, column, text);
  };
  put(1, 1, "甲");
  calc->Flush();
  put(1, 2, "乙");  // the row goes on after a flush
  put(2, 2, "丙");
  calc->Flush();
  put(2, 1, "丁");  // left of a written cell, in a block that then widens
  put(3, 3, "戊");
  put(6, 2, "己");  // past a gap
  put(4, 4, "庚");  // back up
  put(6, 1, "辛");
  put(1, 1, "壬");  // written again: the later text stays
  calc->DisconnectWorksheet();
  calc->DisconnectWorkbook();
  calc->DisconnectApplication();

  const auto added = Added(before, CalcDocuments(Desktop()));
  ASSERT_EQ(added.size(), 1u);
  const Grid grid = ReadFirstSheet(added[0]);
  const Rows expected = {{"壬", "乙", "", ""}, {"丁", "丙", "", ""}, {"", "", "戊", ""},
                         {"", "", "", "庚"},   {"", "", "", ""},     {"辛", "己", "", ""}};
  ASSERT_EQ(grid.size(), expected.size());
  for (std::size_t r = 0; r < expected.size(); ++r) {
    ASSERT_EQ(grid[r].size(), 4u);
    for (std::size_t c = 0; c < 4; ++c) {
      EXPECT_EQ(grid[r][c].text, expected[r][c]) << "row " << r + 1 << " column " << c + 1;
    }
  }
}

TEST(CalcExportOfficeGone, AnOfficeKilledMidwayFailsPlainlyAndTheNextExportWorks) {
  const std::string pipe = UniquePipeName("kill");
  auto module = ModuleOn(pipe);
  CountingUi ui;
  {
    TestOffice office(pipe);
    Connect(pipe);
    VectorSource list = List(BookRows(5000));
    list.on_item_caption = [&](std::int64_t item) {
      if (item == 2500) office.Kill();
    };
    try {
      ExportList(*module, list, ui);
      FAIL() << "the export should have failed";
    } catch (const AutomationError& e) {
      EXPECT_STREQ(e.what(), "LibreOffice Calc 在导出完成之前停止了");
    }
    EXPECT_EQ(ui.shown, 0);
  }
  // No office now: the same module reports it like any unreachable spreadsheet...
  const Rows rows = BookRows(20);
  VectorSource list = List(rows);
  ExportList(*module, list, ui);
  EXPECT_EQ(ui.shown, 1);

  // ...and exports again as soon as one answers.
  TestOffice office(pipe);
  const auto desktop = Connect(pipe);
  ExportList(*module, list, ui);
  EXPECT_EQ(ui.shown, 1);
  const auto docs = CalcDocuments(desktop);
  ASSERT_EQ(docs.size(), 1u);
  ExpectSheet(docs[0], rows);
}

struct UnreachableCase {
  const char* name;
  bool start_office;
  const char* soffice;  // a script body, or a path that does not exist when it starts with '/'
  std::chrono::milliseconds timeout;
  std::chrono::milliseconds least, most;  // how long one export may take
};

class CalcUnreachable : public ::testing::TestWithParam<UnreachableCase> {};

// Every way of not finding an office is "NO excel ！", on every click, and only a started
// office is waited for.
TEST_P(CalcUnreachable, ShowsNoSpreadsheetOnEveryClick) {
  const UnreachableCase& uc = GetParam();
  const std::string script = "/tmp/tessaly-fake-soffice-" + std::to_string(getpid());
  CalcOptions options;
  options.pipe_name = UniquePipeName("nobody");
  options.start_office = uc.start_office;
  options.start_timeout = uc.timeout;
  if (uc.soffice[0] == '/') {
    options.soffice = uc.soffice;
  } else {
    std::ofstream(script) << uc.soffice;
    chmod(script.c_str(), 0700);
    options.soffice = script;
  }
  SpreadsheetExport module(MakeLibreOfficeCalc(options));
  CountingUi ui;
  VectorSource list = List(BookRows(3));
  for (int click = 1; click <= 2; ++click) {
    const auto start = std::chrono::steady_clock::now();
    ExportList(module, list, ui);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(ui.shown, click);
    EXPECT_GE(took, uc.least);
    EXPECT_LE(took, uc.most);
  }
  unlink(script.c_str());
}

using std::chrono::milliseconds;
INSTANTIATE_TEST_SUITE_P(
    Calc, CalcUnreachable,
    ::testing::Values(
        // ckRunning: nothing on the pipe, nothing started.
        UnreachableCase{"NothingOnThePipe", false, "#!/bin/sh\nexit 1\n", milliseconds(60000),
                        milliseconds(0), milliseconds(10000)},
        UnreachableCase{"NoSofficeToStart", true, "/nonexistent/soffice", milliseconds(60000),
                        milliseconds(0), milliseconds(10000)},
        // A stand-in soffice that ends without ever opening the pipe: waited for, then given up.
        UnreachableCase{"StartTimesOut", true, "#!/bin/sh\nexit 0\n", milliseconds(1500),
                        milliseconds(1500), milliseconds(20000)}),
    [](const auto& info) { return std::string(info.param.name); });

// Slurps a small file; empty when there is none.
std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Field k (1-based, after the command) of /proc/PID/stat, as a number; -1 when unreadable.
long StatField(pid_t pid, int k) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(stat.substr(close + 2));
  std::string field;
  for (int i = 3; i <= k; ++i) rest >> field;
  return field.empty() ? -1 : std::stol(field);
}

// With nothing on the pipe the export starts soffice itself and waits for it. The test's
// soffice is a script that notes how it was called and hands over to the office guard, which
// runs a headless office with a private profile on that pipe until the test ends it.
TEST(CalcExportStart, StartsADetachedOfficeWhenNoneAnswersThenAttachesToIt) {
  const std::string pipe = UniquePipeName("start");
  const std::string dir = "/tmp/tessaly-start-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::string script = dir + "/soffice";
  std::ofstream(script) << "#!/bin/sh\n"
                        << "echo \"$@\" >> " << dir << "/args\n"
                        << "echo $$ > " << dir << "/pid\n"
                        << "exec " << TESSALY_OFFICE_GUARD << " --while-alive " << getpid() << " "
                        << TESSALY_LO_PROGRAM_DIR << "/soffice " << pipe << "\n";
  chmod(script.c_str(), 0700);

  // Ends the started office however the test ends (and the guard ends it if the test dies).
  struct Cleanup {
    std::string dir;
    ~Cleanup() {
      const std::string pid = ReadFile(dir + "/pid");
      if (!pid.empty()) {
        const pid_t guard = static_cast<pid_t>(std::stol(pid));
        kill(guard, SIGTERM);
        for (int i = 0; i < 300 && kill(guard, 0) == 0; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
      }
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    }
  } cleanup{dir};

  CalcOptions options;
  options.pipe_name = pipe;
  options.soffice = script;
  options.start_timeout = std::chrono::seconds(120);
  SpreadsheetExport module(MakeLibreOfficeCalc(options));
  CountingUi ui;
  const Rows rows = BookRows(40);
  VectorSource list = List(rows);
  ExportList(module, list, ui);
  ASSERT_EQ(ui.shown, 0);

  EXPECT_EQ(ReadFile(dir + "/args"), "--accept=pipe,name=" + pipe + ";urp --nologo\n");
  const pid_t started = static_cast<pid_t>(std::stol(ReadFile(dir + "/pid")));
  EXPECT_NE(StatField(started, 4), static_cast<long>(getpid()));   // not our child
  EXPECT_NE(StatField(started, 6), static_cast<long>(getsid(0)));  // a session of its own
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(started) + "/fd/1"),
            "/dev/null");

  // A second export attaches to the office now running instead of starting another.
  ExportList(module, list, ui);
  EXPECT_EQ(ui.shown, 0);
  const auto docs = CalcDocuments(Connect(pipe));
  ASSERT_EQ(docs.size(), 2u);
  ExpectSheet(docs[0], rows);
  ExpectSheet(docs[1], rows);
  EXPECT_EQ(ReadFile(dir + "/args"), "--accept=pipe,name=" + pipe + ";urp --nologo\n");
}

}  // namespace
}  // namespace tessaly
