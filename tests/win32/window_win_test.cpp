// The Win32 window in the test process under wine (with a display): what the list shows, the
// in-place edit, what a disabled button and an export in progress let through, and the boxes the
// user reads. The logic is the real Presenter over a recording spreadsheet and a clock the test
// moves; waits pump the thread's messages and fail after a bounded number of rounds.
#include "window_win.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "dialogs_win.h"
#include "fake_backend.h"
#include "loop_win.h"
#include "marc2excel.h"
#include "presenter.h"
#include "record_builder.h"

namespace tessaly::win32 {
namespace {

class TestClock final : public Clock {
 public:
  std::chrono::milliseconds Now() const override { return now; }
  std::chrono::milliseconds now{0};
};

// A box or task dialog that was shown: its caption and the texts of its controls.
struct SeenBox {
  std::wstring caption;
  std::vector<std::wstring> texts;
  bool Has(const std::wstring& text) const { return std::ranges::count(texts, text) > 0; }
};

std::wstring TextOf(HWND hwnd) {
  wchar_t text[1024] = L"";
  GetWindowTextW(hwnd, text, 1024);
  return text;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = L"";
  GetClassNameW(hwnd, name, 64);
  return name;
}

// The children of parent, or the top-level windows of this thread.
std::vector<HWND> Windows(HWND parent) {
  std::vector<HWND> found;
  const WNDENUMPROC add = [](HWND hwnd, LPARAM to) -> BOOL {
    reinterpret_cast<std::vector<HWND>*>(to)->push_back(hwnd);
    return TRUE;
  };
  const auto to = reinterpret_cast<LPARAM>(&found);
  parent ? EnumChildWindows(parent, add, to) : EnumThreadWindows(GetCurrentThreadId(), add, to);
  return found;
}

// Watches for dialogs of this thread from a thread timer, which also fires inside their modal
// loops: records each and answers it by clicking the button with the given caption (OK when
// empty), except a progress dialog, which it leaves to the export. Given a clock, it moves it a
// second on at every tick, so that the logic's watchdog sees time pass while the test waits inside
// a dialog's loop.
class BoxWatcher {
 public:
  explicit BoxWatcher(std::wstring answer = L"", TestClock* clock = nullptr)
      : answer_(std::move(answer)), clock_(clock), timer_(SetTimer(nullptr, 0, 20, Tick)) {
    current_ = this;
  }
  ~BoxWatcher() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  std::vector<SeenBox> seen;
  // false: boxes wait for the program to close them, and the test acts from whenSeen, as it
  // waits inside their loops.
  bool answering = true;
  std::function<void()> whenSeen;

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    BoxWatcher* self = current_;
    if (!self) return;
    if (self->clock_) self->clock_->now += std::chrono::seconds(1);
    for (HWND box : Windows(nullptr)) {
      if (ClassOf(box) != L"#32770" || !IsWindowVisible(box) ||
          std::ranges::count(self->handled_, box))
        continue;
      self->handled_.push_back(box);
      SeenBox shown{TextOf(box), {}};
      HWND answer = nullptr;
      bool progress = false;
      for (HWND child : Windows(box)) {
        shown.texts.push_back(TextOf(child));
        progress = progress || ClassOf(child) == PROGRESS_CLASSW;
        if (!self->answer_.empty() && shown.texts.back() == self->answer_) answer = child;
      }
      self->seen.push_back(shown);
      if (self->whenSeen) self->whenSeen();
      if (!self->answering) continue;
      if (answer)
        PostMessageW(answer, BM_CLICK, 0, 0);
      else if (!progress)
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
  }
  static inline BoxWatcher* current_ = nullptr;
  std::wstring answer_;
  TestClock* clock_;
  UINT_PTR timer_;
  std::vector<HWND> handled_;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<RecordingSpreadsheet>();
    sheet_ = backend.get();
    module_ = std::make_unique<TMarc2ExcelFm>(std::move(backend));
    window_.Create(logic_);
    dialogs_.SetOwner(window_.Handle());
    logic_.SetExportModule(module_.get());
    window_.Show();
    list_ = window_.List();
  }
  void TearDown() override {
    sheet_->Release();
    Until([&] { return logic_.CurrentState() != Presenter::State::Exporting; });
    logic_.SetExportModule(nullptr);
    std::error_code ec;
    for (const auto& file : files_) std::filesystem::remove(file, ec);
  }

  // Runs what is queued now.
  static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  // Pumps messages until done() (true) or a bounded number of rounds (false).
  static bool Until(const std::function<bool()>& done) {
    for (int round = 0; round < 2000 && !done(); ++round) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      Pump();
    }
    return done();
  }
  // Opens a file of one record per title (field 200 $a), as given on the command line.
  void Open(const std::vector<std::string>& titles) {
    std::string bytes;
    for (const auto& title : titles)
      bytes += test::Iso2709Record({{"200", test::FieldText("1 ", {{'a', title}})}}) + "\n";
    const auto file = std::filesystem::temp_directory_path() /
                      ("window_win_test_" + std::to_string(files_.size()) + ".mrc");
    std::ofstream(file, std::ios::binary) << bytes;
    files_.push_back(file);
    logic_.Open(file);
    ASSERT_TRUE(Until([&] {
      return logic_.CurrentState() == Presenter::State::Idle && logic_.RowCount() == titles.size();
    }));
  }
  std::wstring Shown(int row) {
    wchar_t text[256] = L"";
    ListView_GetItemText(list_, row, 0, text, 256);
    return text;
  }
  void Select(int row) {
    SetFocus(list_);
    ListView_SetItemState(list_, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }
  bool Editing() { return ListView_GetEditControl(list_) != nullptr; }
  // Once the in-place editor is open: types text and confirms it.
  void Edit(const wchar_t* text) {
    ASSERT_TRUE(Until([&] { return Editing(); }));
    SetWindowTextW(ListView_GetEditControl(list_), text);
    PostMessageW(ListView_GetEditControl(list_), WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(Until([&] { return !Editing(); }));
  }
  void StartExport() {
    sheet_->HangAtCell(2, 1);
    SendMessageW(window_.Button(layout::Command::Export), BM_CLICK, 0, 0);
    ASSERT_TRUE(Until([&] { return sheet_->Hanging(); }));
  }

  Win32Loop loop_;
  Win32Dialogs dialogs_;
  TestClock clock_;
  Win32Window window_{loop_};
  Presenter logic_{window_, dialogs_, loop_, clock_};
  RecordingSpreadsheet* sheet_;
  std::unique_ptr<TMarc2ExcelFm> module_;
  HWND list_;
  std::vector<std::filesystem::path> files_;
};

TEST_F(WindowTest, TheListShowsEachEncodingsCharacters) {
  struct Case {
    const char* bytes;
    const wchar_t* shown;
  };
  const Case cases[] = {
      {"\xca\xe9\xc3\xfb", L"书名"},                      // GBK
      {"\xca\xe9\x95\x32\x82\x36", L"书\U00020000"},      // GB18030, four bytes
      {"\xe4\xb9\xa6\xf0\xa0\x80\x80", L"书\U00020000"},  // UTF-8
  };
  for (const Case& c : cases) {
    Open({c.bytes});
    EXPECT_EQ(Shown(0), c.shown) << c.bytes;
  }
}

TEST_F(WindowTest, F2AndASecondClickEditTheCaption) {
  Open({"a", "b"});
  Select(0);
  SendMessageW(list_, WM_KEYDOWN, VK_F2, 0);
  Edit(L"书名");
  EXPECT_EQ(logic_.Cell(0, 0), "书名");
  EXPECT_EQ(Shown(0), L"书名");

  Select(1);
  RECT item{LVIR_LABEL, 0, 0, 0};
  SendMessageW(list_, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
  const LPARAM at = MAKELPARAM(item.left + 2, (item.top + item.bottom) / 2);
  PostMessageW(list_, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(list_, WM_LBUTTONUP, 0, at);
  Edit(L"c");
  EXPECT_EQ(logic_.Cell(1, 0), "c");
}

TEST_F(WindowTest, WhileExportingNeitherEditsNorDisabledButtonsChangeTheList) {
  Open({"a", "b"});
  StartExport();
  EXPECT_FALSE(IsWindowEnabled(window_.Button(layout::Command::Clear)));
  // wine sends BN_CLICKED for a disabled button too.
  SendMessageW(window_.Button(layout::Command::Clear), BM_CLICK, 0, 0);
  Select(0);
  SendMessageW(list_, WM_KEYDOWN, VK_F2, 0);
  Pump();
  EXPECT_FALSE(Editing());
  EXPECT_EQ(logic_.RowCount(), 2u);
  sheet_->Release();
  ASSERT_TRUE(Until([&] { return logic_.CurrentState() == Presenter::State::Idle; }));
  EXPECT_TRUE(IsWindowEnabled(window_.Button(layout::Command::Clear)));
}

TEST_F(WindowTest, BoxesShowTheirTextsAndButtons) {
  {
    BoxWatcher boxes;
    logic_.Open(std::filesystem::temp_directory_path() / "window_win_test_missing.mrc");
    ASSERT_TRUE(Until([&] { return !boxes.seen.empty(); }));
    EXPECT_EQ(boxes.seen[0].caption, L"Tessaly");
    EXPECT_TRUE(boxes.seen[0].Has(L"打开文件失败！"));
  }
  Open({"a"});  // an empty list exports nothing
  {
    BoxWatcher boxes;
    sheet_->RefuseConnect(true);
    SendMessageW(window_.Button(layout::Command::Export), BM_CLICK, 0, 0);
    ASSERT_TRUE(Until([&] { return !boxes.seen.empty(); }));
    EXPECT_EQ(boxes.seen[0].caption, L"错误");
    EXPECT_TRUE(boxes.seen[0].Has(L"NO excel ！"));
    sheet_->RefuseConnect(false);
    ASSERT_TRUE(Until([&] { return logic_.CurrentState() == Presenter::State::Idle; }));
  }
  {
    // The spreadsheet stops answering: the progress dialog with 取消, then the box with
    // 继续等待 and 放弃; 放弃 ends the export and a box says so.
    StartExport();
    BoxWatcher boxes(L"放弃", &clock_);
    ASSERT_TRUE(Until([&] { return boxes.seen.size() >= 3; }));
    EXPECT_TRUE(boxes.seen[0].Has(L"取消"));
    EXPECT_TRUE(boxes.seen[1].Has(L"继续等待"));
    EXPECT_TRUE(boxes.seen[1].Has(L"放弃"));
    EXPECT_EQ(boxes.seen[2].caption, L"Tessaly");
    ASSERT_TRUE(Until([&] { return logic_.CurrentState() == Presenter::State::Idle; }));
  }
}

TEST_F(WindowTest, TheNotAnsweringBoxGoesWhenTheSpreadsheetAnswers) {
  Open({"a"});
  StartExport();
  BoxWatcher boxes(L"", &clock_);
  boxes.answering = false;
  boxes.whenSeen = [&] {
    if (window_.NotAnsweringDialog()) sheet_->Release();
  };
  ASSERT_TRUE(Until([&] {
    return logic_.CurrentState() == Presenter::State::Idle && !window_.NotAnsweringDialog() &&
           !window_.ProgressDialog();
  }));
  EXPECT_EQ(boxes.seen.size(), 2u);  // the progress and the box, nothing after them
}

// Windows announces a change of the regional settings to the window: the next elapsed time
// follows the new pattern, as it does in the Qt window.
TEST_F(WindowTest, TheElapsedTimeFollowsTheRegionalSettings) {
  wchar_t separator[16] = L"";
  ASSERT_GT(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 16), 0);
  ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, L"#"));
  SendMessageW(window_.Handle(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"intl"));
  Open({"a"});
  const std::wstring elapsed = TextOf(window_.Label(LabelId::Elapsed));
  SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator);
  SendMessageW(window_.Handle(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"intl"));
  EXPECT_EQ(std::ranges::count(elapsed, L'#'), 2) << Utf8(elapsed);
}

// Windows starts no program without its manifest's common controls 6 (wine starts any): the
// program file must carry it, with its DPI awareness and the systems it was made for.
TEST(TessalyExe, CarriesItsManifestIconAndVersion) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const auto exe = std::filesystem::path(self).parent_path() / "tessaly.exe";
  const HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(module) << exe;
  const HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_TRUE(manifest);
  const std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                         SizeofResource(module, manifest));
  for (const char* part :
       {"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", "<dpiAware", "<supportedOS Id="})
    EXPECT_NE(text.find(part), std::string::npos) << part;
  EXPECT_TRUE(FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON));
  EXPECT_TRUE(FindResourceW(module, MAKEINTRESOURCEW(1), RT_VERSION));
  FreeLibrary(module);
}

}  // namespace
}  // namespace tessaly::win32
