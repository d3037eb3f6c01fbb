// The Excel backend against the fake Excel as a local server in a process of its own, as the
// real Excel runs: started by COM from its LocalServer32 registration (written here, into the
// prefix's registry) or by the test as the running Excel, and ended by the test by its process id.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "excel_com_test.h"

namespace {

using fake_excel::ServerState;
using tessaly::AutomationError;
using tessaly::testing::Export;

// The class id the fake WPS Spreadsheets registers under, found by its ProgID.
const CLSID kWpsClass = {
    0x6F1D6C55, 0x3A3B, 0x4E0B, {0x9F, 0x55, 0x7A, 0x4C, 0x2E, 0x1B, 0x8D, 0x02}};

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.what();
  }
  return "";
}

class LocalServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    com_ = true;
    if (fake_excel::RealExcelRunning() || fake_excel::RealExcelInstalled()) {
      GTEST_SKIP() << "a real Excel would answer";
    }
    fake_excel::RegisterExcelInterfaces();
    // A fake registered by a test that never finished would start in place of a missing Excel.
    RegDeleteTreeW(HKEY_CLASSES_ROOT,
                   (L"CLSID\\" + GuidText(fake_excel::kExcelApplicationClass)).c_str());
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static int n = 0;
    const std::wstring base = std::wstring(temp) + L"fake_excel_" +
                              std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++n);
    state_file_ = base + L".txt";
    other_state_file_ = base + L"_other.txt";
  }
  void TearDown() override {
    for (const std::wstring& file : {state_file_, other_state_file_}) {
      // Asked to quit, the fake revokes its registrations, which COM would otherwise keep
      // handing out; one that hangs is ended by force.
      if (const auto state = fake_excel::ReadServerState(file); state && state->pid) {
        if (HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, state->pid)) {
          PostThreadMessageW(state->thread, WM_QUIT, 0, 0);
          if (hung_ || WaitForSingleObject(p, 5000) != WAIT_OBJECT_0) {
            TerminateProcess(p, 1);
            WaitForSingleObject(p, 10000);
          }
          CloseHandle(p);
        }
      }
      DeleteFileW(file.c_str());
    }
    for (const std::wstring& key : registered_) RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (com_) CoUninitialize();
  }

  std::wstring Command(const std::wstring& state_file, const std::wstring& options) {
    return L"\"" + fake_excel::ProgramFolder() + L"fake_excel_server.exe\" --state \"" +
           state_file + L"\" " + options;
  }
  // COM starts the fake from this registration, as it starts Excel (or WPS by its ProgID).
  void RegisterLocalServer(const CLSID& clsid, const wchar_t* prog_id = nullptr,
                           bool other_file = false, const std::wstring& options = L"") {
    const std::wstring key = L"CLSID\\" + GuidText(clsid);
    SetValue(key + L"\\LocalServer32", Command(other_file ? other_state_file_ : state_file_,
                                               L"--clsid " + GuidText(clsid) + L" " + options));
    registered_.push_back(key);
    if (prog_id) {
      SetValue(std::wstring(prog_id) + L"\\CLSID", GuidText(clsid));
      registered_.push_back(prog_id);
    }
  }
  // The user's Excel: running, and registered as the running instance.
  void StartRunning(const std::wstring& options = L"") {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring command = Command(state_file_, L"--running " + options);
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 600 && !State().ready; ++i) Sleep(50);
    ASSERT_TRUE(State().ready) << "the fake Excel did not start";
  }
  ServerState State(bool other_file = false) {
    return fake_excel::ReadServerState(other_file ? other_state_file_ : state_file_)
        .value_or(ServerState{});
  }

  std::wstring state_file_;
  std::wstring other_state_file_;
  bool hung_ = false;  // the fake hangs: no use asking it to quit

 private:
  void SetValue(const std::wstring& key, const std::wstring& value) {
    const LSTATUS status =
        RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, value.c_str(),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ASSERT_EQ(status, ERROR_SUCCESS);
  }
  bool com_ = false;
  std::vector<std::wstring> registered_;
};

// The calls of Export(app, {{"名称", "isbn"}, {"朱镕基", ""}}) after connecting. COM's IDispatch
// proxy always hands the object a result variant, so the puts show one whether the backend asked
// for it or not. Each block is a Range of its address and one Value put of a 2-D array of
// VARIANTs, every text but the empty one behind an apostrophe, which keeps it text; the first
// block is the first row alone.
const std::vector<std::string> kSequence = {
    "application.QueryInterface _Application",
    "application.GetIDsOfNames Workbooks lcid=0 iid=null",
    "application.Invoke Workbooks get lcid=0 iid=null args=[] result",
    "workbooks.GetIDsOfNames Add lcid=0 iid=null",
    "workbooks.Invoke Add method lcid=0 iid=null args=[VT_NULL] result",
    "workbook.GetIDsOfNames Worksheets lcid=0 iid=null",
    "workbook.Invoke Worksheets get lcid=0 iid=null args=[] result",
    "worksheets.Invoke DISPID_VALUE method|get lcid=0 iid=null args=[VT_I4 1] result",
    "worksheet.QueryInterface _Worksheet",
    "application.GetIDsOfNames Visible lcid=0 iid=null",
    "application.Invoke Visible put lcid=0 iid=null args=[VT_BOOL -1] named=[put] result",
    "worksheet.GetIDsOfNames Rows lcid=0 iid=null",
    "worksheet.Invoke Rows get lcid=0 iid=null args=[] result",
    "range.GetIDsOfNames Count lcid=0 iid=null",
    "range.Invoke Count get lcid=0 iid=null args=[] result",
    "worksheet.GetIDsOfNames Range lcid=0 iid=null",
    "worksheet.Invoke Range get lcid=0 iid=null args=[VT_BSTR \"A1:B1\"] result",
    "range.GetIDsOfNames Value lcid=0 iid=null",
    "range.Invoke Value put lcid=0 iid=null args=[VT_ARRAY|VT_VARIANT 1x2 \"'名称\" \"'isbn\"] "
    "named=[put] result",
    "worksheet.Invoke Range get lcid=0 iid=null args=[VT_BSTR \"A2:B2\"] result",
    "range.Invoke Value put lcid=0 iid=null args=[VT_ARRAY|VT_VARIANT 1x2 \"'朱镕基\" \"\"] "
    "named=[put] result",
    "application.GetIDsOfNames Visible lcid=0 iid=null",
    "application.Invoke Visible put lcid=0 iid=null args=[VT_BOOL -1] named=[put] result",
};
const tessaly::testing::Rows kRows = {{"名称", "isbn"}, {"朱镕基", ""}};

std::vector<std::string> Started(const std::vector<std::string>& calls) {
  std::vector<std::string> out = {"factory.CreateInstance IUnknown"};
  out.insert(out.end(), calls.begin(), calls.end());
  return out;
}

// ---------------------------------------------------------------------------------------------
// The calls, in order, with their arguments, and nothing held afterwards.

TEST_F(LocalServerTest, RunningExcelGetsExactlyTheExportsCalls) {
  StartRunning();
  RegisterLocalServer(fake_excel::kExcelApplicationClass, nullptr, /*other_file=*/true);
  auto app = tessaly::MakeExcelComApplication();
  Export(*app, kRows);

  const ServerState excel = State();
  EXPECT_EQ(excel.log, kSequence);
  EXPECT_TRUE(excel.visible);
  EXPECT_FALSE(excel.quit);
  EXPECT_EQ(excel.workbooks, 1);
  EXPECT_EQ(excel.live, 1);  // the running instance, which its registration holds
  // The running Excel is taken: none is started beside it.
  EXPECT_EQ(State(/*other_file=*/true).pid, 0u);
}

TEST_F(LocalServerTest, ExcelStartedByComGetsExactlyTheExportsCalls) {
  RegisterLocalServer(fake_excel::kExcelApplicationClass);
  auto app = tessaly::MakeExcelComApplication();
  Export(*app, kRows);

  const ServerState excel = State();
  EXPECT_EQ(excel.log, Started(kSequence));
  const std::map<std::tuple<int, int, int>, std::wstring> cells = {
      {{0, 1, 1}, L"名称"}, {{0, 1, 2}, L"isbn"}, {{0, 2, 1}, L"朱镕基"}, {{0, 2, 2}, L""}};
  EXPECT_EQ(excel.cells, cells);
  EXPECT_EQ(excel.live, 0);
  EXPECT_FALSE(excel.quit);
}

// Without Excel, WPS Spreadsheets is reached by its ProgID (the current one, or an older
// version's) and gets the same calls.
class WpsTest : public LocalServerTest, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(WpsTest, IsReachedByItsProgIdWhenNoExcelIsThere) {
  RegisterLocalServer(kWpsClass, GetParam());
  auto app = tessaly::MakeExcelComApplication();
  Export(*app, kRows);
  EXPECT_EQ(State().log, Started(kSequence));
  EXPECT_EQ(State().live, 0);
}

INSTANTIATE_TEST_SUITE_P(ProgIds, WpsTest, ::testing::Values(L"KET.Application", L"ET.Application"),
                         [](const auto& info) {
                           return std::string(info.param[0] == L'K' ? "Ket" : "Et");
                         });

// Texts that Excel or WPS would take for numbers, dates or formulas arrive as the same text.
class LookAlikeTest : public LocalServerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LookAlikeTest, ArriveAsText) {
  const bool wps = GetParam();
  if (wps) {
    RegisterLocalServer(kWpsClass, L"KET.Application", false, L"--wps");
  } else {
    RegisterLocalServer(fake_excel::kExcelApplicationClass);
  }
  auto app = tessaly::MakeExcelComApplication();
  // The same texts in two more rows, which go in one block, with empty cells among them.
  tessaly::testing::Rows rows(3, tessaly::testing::kLookAlikes);
  for (std::size_t c = 0; c < rows[1].size(); c += 2) rows[1][c].clear();
  rows[2][1].clear();
  Export(*app, rows);
  std::map<std::tuple<int, int, int>, std::wstring> expected;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      expected[{0, static_cast<int>(r) + 1, static_cast<int>(c) + 1}] =
          fake_excel::Wide(rows[r][c]);
    }
  }
  const ServerState excel = State();
  EXPECT_EQ(excel.cells, expected);
  EXPECT_EQ(
      std::count_if(excel.log.begin(), excel.log.end(),
                    [](const std::string& l) { return l.rfind("range.Invoke Value", 0) == 0; }),
      2);
}

INSTANTIATE_TEST_SUITE_P(Spreadsheets, LookAlikeTest, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "Wps" : "Excel");
});

// ---------------------------------------------------------------------------------------------
// A busy Excel rejects calls; a hung one never answers.

// The Invokes of the export are counted from 1: Workbooks, Add, Worksheets, the first sheet,
// Visible, Rows, Count, then Range and Value for each block; the 11th is the second block's
// Value put.
constexpr int kSecondBlocksValue = 11;

TEST_F(LocalServerTest, RejectedCallsAreRetriedUntilExcelTakesThem) {
  StartRunning(L"--reject " + std::to_wstring(kSecondBlocksValue) + L" 3");
  auto app = tessaly::MakeExcelComApplication();
  Export(*app, kRows);
  // Each call arrives once it is taken; the rejected tries never reach the object.
  EXPECT_EQ(State().log, kSequence);
  EXPECT_EQ(State().cells.size(), 4u);
}

TEST_F(LocalServerTest, ExcelStillBusyAfterTheLimitEndsTheExportAndKeepsTheCellsBefore) {
  StartRunning(L"--reject " + std::to_wstring(kSecondBlocksValue) + L" 1000000");
  tessaly::ExcelComOptions options;
  options.busy_limit = std::chrono::milliseconds(300);
  auto app = tessaly::MakeExcelComApplication(options);
  EXPECT_EQ(Message([&] { Export(*app, kRows); }), "电子表格一直忙，不接受导出的调用");
  EXPECT_EQ(State().cells.size(), 2u);  // the first block
  EXPECT_EQ(State().live, 1);
}

// Given up on during a block, the call that hangs returns at once; later calls fail at once;
// nothing waits on Excel, which is still stuck; the block before stays.
TEST_F(LocalServerTest, AHungCallEndsWhenTheUserGivesUp) {
  const std::wstring hung = L"TessalyFakeExcelHung" + std::to_wstring(GetCurrentProcessId());
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, hung.c_str());
  ASSERT_NE(event, nullptr);
  StartRunning(L"--hang " + std::to_wstring(kSecondBlocksValue) + L" " + hung);
  hung_ = true;
  auto app = tessaly::MakeExcelComApplication();
  std::thread user([&] {
    WaitForSingleObject(event, 60000);
    app->Abandon();
  });
  app->ConnectApplication();
  app->AddWorkbook();
  app->AttachFirstWorksheet();
  app->SetVisible();
  app->SheetRows();
  app->PutCell(1, 1, "a");
  app->PutCell(1, 2, "b");
  app->PutCell(2, 1, "c");  // writes the first block
  app->PutCell(2, 2, "d");
  EXPECT_EQ(Message([&] { app->Flush(); }), "电子表格没有响应，导出已中止");
  user.join();
  EXPECT_EQ(Message([&] { app->PutCell(3, 1, "e"); }), "电子表格没有响应，导出已中止");
  EXPECT_EQ(Message([&] { app->SetVisible(); }), "电子表格没有响应，导出已中止");
  app->DisconnectWorksheet();
  app->DisconnectWorkbook();
  app->DisconnectApplication();
  EXPECT_EQ(State().cells.size(), 2u);
  CloseHandle(event);
}

}  // namespace
