// The Excel backend against a fake Excel registered in the test process, under Windows or wine.
// The backend calls it from a thread of its own, so every call crosses apartments as it would
// cross into Excel's process.
#include "excel_com_test.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using fake_excel::Failure;
using fake_excel::Kind;
using tessaly::AutomationError;
using tessaly::ConnectError;
using tessaly::ExcelConnect;
using tessaly::SpreadsheetApplication;
using Report = fake_excel::Failure::Report;

using tessaly::testing::Export;

constexpr LCID kEnglishUs = 0x0409;

// The system's text for a code as the user should read it: FormatMessage's, without the
// full stop and line break it ends in; empty when the system has none.
std::string SystemText(HRESULT code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer ? buffer : L"", n);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                           text.back() == L'.' || text.back() == 0x3002)) {
    text.pop_back();
  }
  return fake_excel::Utf8(text);
}

// What the user reads for a failure that Excel did not describe. Windows and wine know
// different codes, so the expectation asks the system rather than quoting it.
std::string UndescribedFailureText(HRESULT code) {
  const std::string system = SystemText(code);
  if (!system.empty()) return system;
  char text[32];
  std::snprintf(text, sizeof text, "OLE error %.8lx", static_cast<unsigned long>(code));
  return text;
}

enum class Path { Running, New };

class ExcelComTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The fake serves from this thread's apartment; the backend calls it from a thread of its own.
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
  void Start(Path path) {
    if (path == Path::Running) server().RunInstance();
    if (path == Path::New) server().RegisterClass();
  }
  // Objects of the fake that only the test's registrations hold.
  int HeldByRegistration(Path path) { return path == Path::New ? 0 : 1; }

 private:
  bool com_ = false;
  std::optional<fake_excel::Server> server_;
};

// ---------------------------------------------------------------------------------------------
// Cell texts.

struct TextCase {
  const char* name;
  std::string utf8;
  std::wstring expected;
};

void PrintTo(const TextCase& t, std::ostream* os) { *os << t.name; }

class CellTextTest : public ExcelComTest, public ::testing::WithParamInterface<TextCase> {};

// The texts are UTF-8 and arrive whole whatever the thread's locale: a Western one here.
TEST_P(CellTextTest, ArrivesAsTheseCharacters) {
  const TextCase& t = GetParam();
  const LCID saved = GetThreadLocale();
  ASSERT_TRUE(SetThreadLocale(kEnglishUs));
  Start(Path::Running);
  auto app = tessaly::MakeExcelComApplication();
  Export(*app, {{t.utf8}});
  SetThreadLocale(saved);

  ASSERT_EQ(Sheet1().count({1, 1}), 1u);
  EXPECT_EQ(Sheet1().at({1, 1}), t.expected);
  EXPECT_EQ(app->CellsCut(), 0);
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CellTextTest,
    ::testing::Values(TextCase{"CharactersOutsideGb2312", "朱镕基 王堃喆書", L"朱镕基 王堃喆書"},
                      TextCase{"CharactersOutsideTheBasicPlane", "𠀋𡈽", L"\U0002000B\U0002123D"},
                      TextCase{"SeveralThousandCharactersArriveWhole", Repeat("王", 3000) + "x",
                               std::wstring(3000, L'王') + L"x"},
                      TextCase{"EmptyTextIsAnEmptyString", "", L""},
                      TextCase{"ExactlyExcelsLimitIsNotCut",
                               std::string(tessaly::kExcelCellLimit, 'x'),
                               std::wstring(tessaly::kExcelCellLimit, L'x')},
                      // Texts that a General cell would take for something else stay text.
                      TextCase{"LeadingZeros", "0012", L"0012"},
                      TextCase{"DecimalDate", "2001.10", L"2001.10"},
                      TextCase{"Exponent", "3E04", L"3E04"}, TextCase{"DayAndMonth", "1-2", L"1-2"},
                      TextCase{"ChineseDate", "2001年10月", L"2001年10月"},
                      TextCase{"Formula", "=1+1", L"=1+1"}, TextCase{"TruthValue", "TRUE", L"TRUE"},
                      TextCase{"Isbn", "9787111222223", L"9787111222223"},
                      TextCase{"ApostropheOfItsOwn", "'quoted", L"'quoted"}),
    [](const auto& info) { return std::string(info.param.name); });

// Longer texts are cut to Excel's 32,767 UTF-16 units, never inside a surrogate pair, instead of
// failing the export; the backend counts them.
TEST_F(ExcelComTest, TextsBeyondExcelsLimitAreCutAtACharacterBoundaryAndCounted) {
  Start(Path::Running);
  auto app = tessaly::MakeExcelComApplication();
  Export(*app, {{Repeat("王", 40000), Repeat("😀", 20000), "short"}});
  EXPECT_EQ(Sheet1().at({1, 1}), std::wstring(tessaly::kExcelCellLimit, L'王'));
  std::wstring pairs;
  for (int i = 0; i < tessaly::kExcelCellLimit / 2; ++i) pairs += L"\U0001F600";
  EXPECT_EQ(Sheet1().at({1, 2}), pairs);  // 32,766 units: the next pair would not fit whole
  EXPECT_EQ(Sheet1().at({1, 3}), L"short");
  EXPECT_EQ(app->CellsCut(), 2);
  // A new export counts afresh.
  Export(*app, {{"a"}});
  EXPECT_EQ(app->CellsCut(), 0);
}

// ---------------------------------------------------------------------------------------------
// Failures after connecting: the export stops at the failing call with the user's text, and
// nothing stays held.

struct FailureCase {
  const char* name;
  std::optional<Failure> failure;
  std::string text;  // empty: as the system words system_text_of
  HRESULT system_text_of;
  int cells_written;      // of the 4 the export writes
  std::string last_call;  // how the last call into Excel begins
  bool first_sheet_is_worksheet = true;
  bool long_last_cell = false;  // too long for an array element: it goes on its own
};

void PrintTo(const FailureCase& t, std::ostream* os) { *os << t.name; }

class FailureTest : public ExcelComTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, StopsWithTheUsersTextAndHoldsNothing) {
  const FailureCase& t = GetParam();
  Start(Path::Running);
  excel().failure = t.failure;
  excel().first_sheet_is_worksheet = t.first_sheet_is_worksheet;
  auto app = tessaly::MakeExcelComApplication();

  std::string message;
  try {
    Export(*app, {{"a", "b"},
                  {"c", t.long_last_cell ? std::string(tessaly::kArrayElementLimit, 'd') : "d"}});
  } catch (const AutomationError& e) {
    message = e.what();
  }
  EXPECT_EQ(message, t.text.empty() ? UndescribedFailureText(t.system_text_of) : t.text);
  EXPECT_FALSE(message.empty());

  const int written = excel().workbooks.empty() ? 0 : static_cast<int>(Sheet1().size());
  EXPECT_EQ(written, t.cells_written);
  // Nothing is asked of Excel after the failing call: no retry, no clean-up, no Quit.
  ASSERT_FALSE(server().Log().empty());
  EXPECT_EQ(server().Log().back().rfind(t.last_call, 0), 0u) << server().Log().back();
  EXPECT_FALSE(excel().quit);
  EXPECT_EQ(excel().LiveObjects(), 1);  // the running Excel, which the registration holds
}

Failure Fail(Kind object, const char* method, const wchar_t* member, int occurrence, HRESULT code,
             Report report = Report::Code, const wchar_t* description = L"") {
  return Failure{object, method, member, occurrence, code, report, description};
}

constexpr HRESULT kExcelError = static_cast<HRESULT>(0x800A03EC);  // has no system text

INSTANTIATE_TEST_SUITE_P(
    Calls, FailureTest,
    ::testing::Values(
        FailureCase{"WorkbooksWithDescription",
                    Fail(Kind::Application, "Invoke", L"Workbooks", 1, kExcelError,
                         Report::Description, L"Excel 无法打开。\r\n"),
                    "Excel 无法打开", S_OK, 0, "application.Invoke Workbooks"},
        FailureCase{"AddWithDescriptionEndingInBlanks",
                    Fail(Kind::Workbooks, "Invoke", L"Add", 1, kExcelError, Report::Description,
                         L"Not enough memory.  "),
                    "Not enough memory", S_OK, 0, "workbooks.Invoke Add"},
        FailureCase{"WorksheetsWithSystemText",
                    Fail(Kind::Workbook, "Invoke", L"Worksheets", 1, E_ACCESSDENIED), "",
                    E_ACCESSDENIED, 0, "workbook.Invoke Worksheets"},
        FailureCase{"FirstSheetWithoutDescriptionOrSystemText",
                    Fail(Kind::Worksheets, "Invoke", L"DISPID_VALUE", 1,
                         static_cast<HRESULT>(0x800A9C68), Report::NoDescription),
                    "OLE error 800a9c68", S_OK, 0, "worksheets.Invoke DISPID_VALUE"},
        FailureCase{"FirstSheetIsNoWorksheet", std::nullopt, "", E_NOINTERFACE, 0,
                    "worksheet.QueryInterface _Worksheet", false},
        FailureCase{"VisibleWithOnlyAFullStopForDescription",
                    Fail(Kind::Application, "Invoke", L"Visible", 1, kExcelError,
                         Report::Description, L"。"),
                    "OLE error 800a03ec", S_OK, 0, "application.Invoke Visible"},
        FailureCase{"RangeOfTheBlock",
                    Fail(Kind::Worksheet, "Invoke", L"Range", 1, RPC_E_DISCONNECTED), "",
                    RPC_E_DISCONNECTED, 0, "worksheet.Invoke Range"},
        FailureCase{"ValueWithTrailingStopsBlanksAndControls",
                    Fail(Kind::Range, "Invoke", L"Value", 1, kExcelError, Report::Description,
                         L"Cannot change part of a merged cell. v1.2\t. 。 \n"),
                    "Cannot change part of a merged cell. v1.2", S_OK, 0, "range.Invoke Value"},
        // Excel's answer to an array too large for it.
        FailureCase{"ValueWithNotEnoughStorage",
                    Fail(Kind::Range, "Invoke", L"Value", 1, E_OUTOFMEMORY), "", E_OUTOFMEMORY, 0,
                    "range.Invoke Value"},
        // Refused after an array was taken: a failure like any other, the first block stays.
        FailureCase{"SecondBlockRefused",
                    Fail(Kind::Range, "Invoke", L"Value", 2, DISP_E_TYPEMISMATCH), "",
                    DISP_E_TYPEMISMATCH, 2, "range.Invoke Value"},
        FailureCase{"LongCellAfterItsBlock",
                    Fail(Kind::Range, "Invoke", L"Item", 1, kExcelError, Report::Description,
                         L"Excel 错误"),
                    "Excel 错误", S_OK, 3, "range.Invoke Item", true, true},
        FailureCase{"VisibleAtTheEnd",
                    Fail(Kind::Application, "Invoke", L"Visible", 2, kExcelError,
                         Report::Description, L"可见性不能设置。"),
                    "可见性不能设置", S_OK, 4, "application.Invoke Visible"},
        FailureCase{"UnknownMemberName",
                    Fail(Kind::Range, "GetIDsOfNames", L"Count", 1, DISP_E_UNKNOWNNAME), "",
                    DISP_E_UNKNOWNNAME, 0, "range.GetIDsOfNames Count"}),
    [](const auto& info) { return std::string(info.param.name); });

// The system's own wording is used where Excel gives none (WorksheetsWithSystemText): that
// path needs a code the system has a text for.
TEST(SystemTextTest, AccessDeniedHasOne) { EXPECT_FALSE(SystemText(E_ACCESSDENIED).empty()); }

// ---------------------------------------------------------------------------------------------
// Connecting.

TEST_F(ExcelComTest, NoExcelAtAllCannotBeReachedAndATryLaterStartsAfresh) {
  if (fake_excel::RealExcelInstalled()) GTEST_SKIP() << "Excel is installed and would start";
  auto app = tessaly::MakeExcelComApplication();
  EXPECT_THROW(app->ConnectApplication(), ConnectError);
  EXPECT_TRUE(excel().calls.empty());

  server().RegisterClass();
  Export(*app, {{"a"}});
  EXPECT_EQ(Sheet1().at({1, 1}), L"a");
  EXPECT_EQ(excel().LiveObjects(), 0);
}

struct ConnectCase {
  const char* name;
  Path path;
  ExcelConnect connect;
  std::optional<Failure> failure;
  bool application_has_interface;
  std::vector<std::string> log;
};

void PrintTo(const ConnectCase& t, std::ostream* os) { *os << t.name; }

class ConnectFailureTest : public ExcelComTest,
                           public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(ConnectFailureTest, CannotReachExcelAndHoldsNothing) {
  const ConnectCase& t = GetParam();
  Start(t.path);
  excel().failure = t.failure;
  excel().application_has_interface = t.application_has_interface;
  auto app = tessaly::MakeExcelComApplication(t.connect);

  EXPECT_THROW(app->ConnectApplication(), ConnectError);
  EXPECT_EQ(server().Log(), t.log);
  EXPECT_EQ(excel().LiveObjects(), HeldByRegistration(t.path));
  // Nothing is connected: the next step has nothing to call.
  EXPECT_THROW(app->AddWorkbook(), AutomationError);
}

INSTANTIATE_TEST_SUITE_P(
    Connect, ConnectFailureTest,
    ::testing::Values(
        ConnectCase{"StartingExcelFails",
                    Path::New,
                    ExcelConnect::RunningOrNew,
                    Fail(Kind::Factory, "CreateInstance", L"", 1, CO_E_SERVER_EXEC_FAILURE),
                    true,
                    {"factory.CreateInstance IUnknown"}},
        ConnectCase{"NewObjectIsNoExcelApplication",
                    Path::New,
                    ExcelConnect::RunningOrNew,
                    std::nullopt,
                    false,
                    {"factory.CreateInstance IUnknown", "application.QueryInterface _Application"}},
        ConnectCase{"RunningObjectIsNoExcelApplication",
                    Path::Running,
                    ExcelConnect::RunningOrNew,
                    std::nullopt,
                    false,
                    {"application.QueryInterface _Application"}},
        ConnectCase{
            "RunningOnlyStartsNone", Path::New, ExcelConnect::Running, std::nullopt, true, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExcelComTest, ConnectingWhileConnectedDoesNothing) {
  Start(Path::New);
  auto app = tessaly::MakeExcelComApplication();
  app->ConnectApplication();
  app->ConnectApplication();
  EXPECT_EQ(server().Log(), (std::vector<std::string>{"factory.CreateInstance IUnknown",
                                                      "application.QueryInterface _Application"}));
  app->DisconnectApplication();
  EXPECT_EQ(excel().LiveObjects(), 0);
}

// ---------------------------------------------------------------------------------------------
// Workbooks and what stays held.

TEST_F(ExcelComTest, TwoExportsAddTwoWorkbooksAndLeaveTheUsersOwnAlone) {
  Start(Path::Running);
  excel().workbooks.push_back({{fake_excel::Sheet{{{{1, 1}, L"mine"}}}}});
  auto app = tessaly::MakeExcelComApplication();
  Export(*app, {{"a", "b"}});
  Export(*app, {{"c"}});

  ASSERT_EQ(excel().workbooks.size(), 3u);
  EXPECT_EQ(Sheet1(0), (fake_excel::CellMap{{{1, 1}, L"mine"}}));
  EXPECT_EQ(Sheet1(1), (fake_excel::CellMap{{{1, 1}, L"a"}, {{1, 2}, L"b"}}));
  EXPECT_EQ(Sheet1(2), (fake_excel::CellMap{{{1, 1}, L"c"}}));
  // Only the first sheet of each new workbook is written.
  for (std::size_t book : {1u, 2u}) {
    for (std::size_t s = 1; s < excel().workbooks[book].sheets.size(); ++s) {
      EXPECT_TRUE(excel().workbooks[book].sheets[s].cells.empty());
    }
  }
  EXPECT_EQ(excel().LiveObjects(), 1);
}

TEST_F(ExcelComTest, DestroyingTheBackendMidExportReleasesEverything) {
  Start(Path::New);
  {
    auto app = tessaly::MakeExcelComApplication();
    app->ConnectApplication();
    app->AddWorkbook();
    app->AttachFirstWorksheet();
    app->PutCell(1, 1, "a");
    EXPECT_GE(excel().LiveObjects(), 3);  // application, workbook, worksheet
  }
  EXPECT_EQ(excel().LiveObjects(), 0);
  EXPECT_FALSE(excel().quit);
}

TEST_F(ExcelComTest, DisconnectingLeavesTheOtherComponentsConnected) {
  Start(Path::New);
  auto app = tessaly::MakeExcelComApplication();
  app->ConnectApplication();
  app->AddWorkbook();
  app->AttachFirstWorksheet();
  app->DisconnectWorkbook();
  // The worksheet component still holds its sheet and writes to it.
  app->PutCell(2, 3, "x");
  app->Flush();
  EXPECT_EQ(Sheet1().at({2, 3}), L"x");
  app->DisconnectWorksheet();
  EXPECT_THROW(
      {
        app->PutCell(1, 1, "y");
        app->Flush();
      },
      AutomationError);
  EXPECT_EQ(excel().live[static_cast<int>(Kind::Application)], 1);
  app->DisconnectApplication();
  app->DisconnectApplication();  // holding nothing: nothing
  EXPECT_EQ(excel().LiveObjects(), 0);
}

// ---------------------------------------------------------------------------------------------
// Blocks: the rectangles written, and the cells that go on their own.

struct BlockCase {
  const char* name;
  int rows;  // of two cells each, the second "0012"
  int block_rows;
  std::size_t block_bytes;
  std::vector<std::string> ranges;  // the Range addresses, in order
  int single_puts;                  // Cells.Item puts
  int sheet_rows = 1'048'576;
  int element_limit = 0;  // the fake's: longer array elements fail the put
  HRESULT refuse_arrays = S_OK;
  int long_cell = 0;  // characters of the text in row 2, column 2
};

void PrintTo(const BlockCase& t, std::ostream* os) { *os << t.name; }

class BlockTest : public ExcelComTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockTest, WritesTheseRectanglesAndEveryCellAsItsText) {
  const BlockCase& t = GetParam();
  Start(Path::Running);
  excel().sheet_rows = t.sheet_rows;
  excel().element_limit = t.element_limit;
  excel().refuse_arrays = t.refuse_arrays;
  tessaly::ExcelComOptions options;
  options.block_rows = t.block_rows;
  options.block_bytes = t.block_bytes;
  auto app = tessaly::MakeExcelComApplication(options);
  tessaly::testing::Rows rows;
  for (int r = 1; r <= t.rows; ++r) rows.push_back({"r" + std::to_string(r) + "a", "0012"});
  if (t.long_cell > 0) rows[1][1] = std::string(static_cast<std::size_t>(t.long_cell), 'x');
  Export(*app, rows);

  std::vector<std::string> ranges;
  int single_puts = 0;
  for (const std::string& line : server().Log()) {
    if (line.rfind("worksheet.Invoke Range get", 0) == 0) {
      const auto open = line.find('"') + 1;
      ranges.push_back(line.substr(open, line.find('"', open) - open));
    }
    if (line.rfind("range.Invoke Item put", 0) == 0) ++single_puts;
  }
  EXPECT_EQ(ranges, t.ranges);
  EXPECT_EQ(single_puts, t.single_puts);
  fake_excel::CellMap expected;
  for (int r = 0; r < t.rows; ++r) {
    for (int c = 0; c < 2; ++c) expected[{r + 1, c + 1}] = fake_excel::Wide(rows[r][c]);
  }
  EXPECT_EQ(Sheet1(), expected);
  EXPECT_EQ(excel().LiveObjects(), 1);
}

// A row of "'r1a" and "'0012": 18 bytes of UTF-16.
constexpr std::size_t kRowBytes = 18;
constexpr std::size_t kNoCap = std::size_t{1} << 30;

INSTANTIATE_TEST_SUITE_P(
    Shapes, BlockTest,
    ::testing::Values(
        // The first block is the first row alone.
        BlockCase{"OneRowShortOfFull", 3, 3, kNoCap, {"A1:B1", "A2:B3"}, 0},
        BlockCase{"Full", 4, 3, kNoCap, {"A1:B1", "A2:B4"}, 0},
        BlockCase{"OneRowOver", 5, 3, kNoCap, {"A1:B1", "A2:B4", "A5:B5"}, 0},
        BlockCase{"ARowFillingTheByteCapEndsTheBlock",
                  3,
                  1000,
                  kRowBytes,
                  {"A1:B1", "A2:B2", "A3:B3"},
                  0},
        BlockCase{"ARowShortOfTheByteCapTakesAnother",
                  4,
                  1000,
                  kRowBytes + 1,
                  {"A1:B1", "A2:B3", "A4:B4"},
                  0},
        // Excel 2003 (sheets of 65,536 rows) takes elements of up to 911 characters, the
        // apostrophe counted; Excel 2007 up to 8,203.
        BlockCase{"Excel2003ElementAtTheLimit",
                  3,
                  1000,
                  kNoCap,
                  {"A1:B1", "A2:B3"},
                  0,
                  65536,
                  911,
                  S_OK,
                  910},
        BlockCase{"Excel2003ElementOverTheLimitGoesAlone",
                  3,
                  1000,
                  kNoCap,
                  {"A1:B1", "A2:B3"},
                  1,
                  65536,
                  911,
                  S_OK,
                  911},
        BlockCase{"Excel2007ElementOverTheLimitGoesAlone",
                  3,
                  1000,
                  kNoCap,
                  {"A1:B1", "A2:B3"},
                  1,
                  1'048'576,
                  8203,
                  S_OK,
                  8203},
        // An application that cannot take arrays: the export goes on cell by cell.
        BlockCase{"ArraysUnknown", 3, 2, kNoCap, {"A1:B1"}, 6, 1'048'576, 0, DISP_E_MEMBERNOTFOUND},
        BlockCase{"ArraysNotImplemented", 3, 2, kNoCap, {"A1:B1"}, 6, 1'048'576, 0, E_NOTIMPL},
        BlockCase{
            "ArraysOfTheWrongType", 3, 2, kNoCap, {"A1:B1"}, 6, 1'048'576, 0, DISP_E_TYPEMISMATCH}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
