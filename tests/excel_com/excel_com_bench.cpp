// How fast the export writes into Excel in a process of its own, measured against the fake Excel
// as a local server (no Excel here), which answers at once and keeps nothing. In one run: the
// cell-by-cell path (the fake refusing arrays, as an older WPS does, so the export falls back)
// on 1,000 rows, blocks on 10,000 and 100,000 rows, and a sweep of block sizes on 10,000 rows;
// for each: cells/s, the longest single call into the backend, and the memory the export adds to
// the process (peak private bytes during the export over those before it).
//
//   excel_com_bench [--cells-rows N] [--rows N,N,...] [--sweep-rows N] [--sweep B,B,...]
//                   [--block-bytes BYTES]
//   excel_com_bench --one cells|blocks ROWS BLOCK_ROWS BLOCK_BYTES   (one export, one line)
//
// Each export runs in a process of its own (the program starts itself with --one), so that its
// memory figure is its own.
// clang-format off
#include <windows.h>
#include <psapi.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "excel_com_win.h"
#include "fake_excel.h"
#include "spreadsheet_export.h"
#include "vector_source.h"

namespace {

using Clock = std::chrono::steady_clock;
using tessaly::testing::ListItem;
using tessaly::testing::VectorSource;

// Catalogue-like rows: short titles and names, number-like ISBNs, prices and dates, and a
// summary of about 120 characters.
VectorSource MakeList(int rows) {
  const char* words[] = {"计算机", "网络", "原理", "中国", "历史", "研究", "文学", "概论"};
  std::vector<std::string> captions = {"名称",   "作者",     "isbn", "价格", "出版地",
                                       "出版社", "出版时间", "页数", "尺寸", "附件",
                                       "分类号", "分类名",   "提要"};
  std::vector<ListItem> items;
  items.reserve(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    auto word = [&](int k) { return std::string(words[(i * 7 + k * 3) % 8]); };
    std::string summary;
    for (int k = 0; k < 40; ++k) summary += word(k);
    ListItem item{word(0) + word(1) + "第" + std::to_string(i), {}};
    item.sub_items = {word(3) + "编著",
                      "978711" + std::to_string(1000000 + i),
                      "CNY" + std::to_string(10 + i % 90) + ".00",
                      "北京",
                      word(4) + "出版社",
                      "20" + std::to_string(10 + i % 15) + "." + std::to_string(1 + i % 12),
                      std::to_string(100 + i % 500) + "页",
                      "26cm",
                      i % 4 == 0 ? "光盘1片" : "",
                      "TP" + std::to_string(300 + i % 99),
                      word(5) + "-" + word(6),
                      summary};
    items.push_back(std::move(item));
  }
  return VectorSource(std::move(captions), std::move(items));
}

class NoUi : public tessaly::ExportUi {
 public:
  void ShowNoSpreadsheet(const std::string&) override { unreachable = true; }
  bool unreachable = false;
};

// Forwards to the backend and keeps the longest single call (a block's write happens inside
// the PutCell that begins the next block, or in Flush).
class Timed final : public tessaly::SpreadsheetApplication {
 public:
  explicit Timed(std::unique_ptr<tessaly::SpreadsheetApplication> inner)
      : inner_(std::move(inner)) {}
  Clock::duration longest{};

  void ConnectApplication() override {
    Time([&] { inner_->ConnectApplication(); });
  }
  void AddWorkbook() override {
    Time([&] { inner_->AddWorkbook(); });
  }
  void AttachFirstWorksheet() override {
    Time([&] { inner_->AttachFirstWorksheet(); });
  }
  void SetVisible() override {
    Time([&] { inner_->SetVisible(); });
  }
  std::int64_t SheetRows() override { return inner_->SheetRows(); }
  void AddWorksheet() override {
    Time([&] { inner_->AddWorksheet(); });
  }
  void PutCell(std::int32_t row, std::int32_t column, std::string_view utf8) override {
    Time([&] { inner_->PutCell(row, column, utf8); });
  }
  void Flush() override {
    Time([&] { inner_->Flush(); });
  }
  void Abandon() noexcept override { inner_->Abandon(); }
  std::int64_t CellsCut() const override { return inner_->CellsCut(); }
  void DisconnectWorksheet() noexcept override { inner_->DisconnectWorksheet(); }
  void DisconnectWorkbook() noexcept override { inner_->DisconnectWorkbook(); }
  void DisconnectApplication() noexcept override { inner_->DisconnectApplication(); }

 private:
  template <class F>
  void Time(F&& f) {
    const auto start = Clock::now();
    f();
    longest = std::max(longest, Clock::now() - start);
  }
  std::unique_ptr<tessaly::SpreadsheetApplication> inner_;
};

// The fake Excel, started as the user's running Excel; ended by its thread's WM_QUIT.
class RunningFake {
 public:
  explicit RunningFake(const std::wstring& options) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    state_file_ = std::wstring(temp) + L"fake_excel_bench_" +
                  std::to_wstring(GetCurrentProcessId()) + L".txt";
    std::wstring command = L"\"" + fake_excel::ProgramFolder() +
                           L"fake_excel_server.exe\" --state \"" + state_file_ +
                           L"\" --running --quiet " + options;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
      return;
    }
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    for (int i = 0; i < 600; ++i) {
      if (const auto s = fake_excel::ReadServerState(state_file_); s && s->ready) {
        thread_ = s->thread;
        break;
      }
      Sleep(50);
    }
  }
  ~RunningFake() {
    if (thread_) PostThreadMessageW(thread_, WM_QUIT, 0, 0);
    if (process_) {
      if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
      CloseHandle(process_);
    }
    DeleteFileW(state_file_.c_str());
  }
  RunningFake(const RunningFake&) = delete;
  RunningFake& operator=(const RunningFake&) = delete;
  bool Ready() const { return thread_ != 0; }

 private:
  std::wstring state_file_;
  HANDLE process_ = nullptr;
  DWORD thread_ = 0;
};

double PrivateMegabytes(bool peak) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<double>(peak ? counters.PeakPagefileUsage : counters.PagefileUsage) / 1e6;
}

// One export; prints "cells seconds longest_ms added_mb".
int RunOne(bool cells, int rows, int block_rows, std::size_t block_bytes) {
  const VectorSource list = MakeList(rows);
  // DISP_E_MEMBERNOTFOUND, as an application without array puts answers.
  const RunningFake excel(cells ? L"--refuse-arrays 80020003" : L"");
  if (!excel.Ready()) {
    std::fprintf(stderr, "the fake Excel did not start\n");
    return 1;
  }
  tessaly::ExcelComOptions options;
  options.connect = tessaly::ExcelConnect::Running;
  options.block_rows = block_rows;
  options.block_bytes = block_bytes;
  auto timed = std::make_unique<Timed>(tessaly::MakeExcelComApplication(options));
  Timed& timing = *timed;
  tessaly::SpreadsheetExport module(std::move(timed));
  NoUi ui;
  const double before = PrivateMegabytes(false);
  const auto start = Clock::now();
  tessaly::ExportList(module, list, ui);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (ui.unreachable) {
    std::fprintf(stderr, "the fake Excel could not be reached\n");
    return 1;
  }
  const long long cell_count = (static_cast<long long>(rows) + 1) * 13;
  std::printf("%lld %.3f %.1f %.1f\n", cell_count, seconds,
              std::chrono::duration<double, std::milli>(timing.longest).count(),
              PrivateMegabytes(true) - before);
  return 0;
}

struct Result {
  long long cells = 0;
  double seconds = 0, longest_ms = 0, added_mb = 0;
  bool ok = false;
};

// Runs one export in a process of its own and reads its line.
Result RunChild(bool cells, int rows, int block_rows, std::size_t block_bytes) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --one " +
                         (cells ? L"cells " : L"blocks ") + std::to_wstring(rows) + L" " +
                         std::to_wstring(block_rows) + L" " + std::to_wstring(block_bytes);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  Result result;
  if (!CreatePipe(&read, &write, &inherit, 0)) return result;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(write);
  std::string out;
  if (started) {
    char buffer[256];
    DWORD n = 0;
    while (ReadFile(read, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::istringstream line(out);
    result.ok = code == 0 && static_cast<bool>(line >> result.cells >> result.seconds >>
                                               result.longest_ms >> result.added_mb);
  }
  CloseHandle(read);
  return result;
}

std::vector<int> Numbers(const char* list) {
  std::vector<int> out;
  std::stringstream in(list);
  std::string item;
  while (std::getline(in, item, ',')) out.push_back(std::atoi(item.c_str()));
  return out;
}

void Print(const char* way, int rows, int block_rows, const Result& r, double base) {
  if (!r.ok) {
    std::printf("| %s | %d | %d | failed | | | | |\n", way, rows, block_rows);
    return;
  }
  const double rate = static_cast<double>(r.cells) / r.seconds;
  std::printf("| %s | %d | %d | %.2f s | %.0f | %.0fx | %.1f ms | %.1f MB |\n", way, rows,
              block_rows, r.seconds, rate, base > 0 ? rate / base : 1.0, r.longest_ms, r.added_mb);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  if (fake_excel::RealExcelRunning() || fake_excel::RealExcelInstalled()) {
    std::fprintf(stderr, "a real Excel would answer in place of the fake\n");
    return 2;
  }
  fake_excel::RegisterExcelInterfaces();
  int status = 0;
  if (argc == 6 && std::string(argv[1]) == "--one") {
    status = RunOne(std::string(argv[2]) == "cells", std::atoi(argv[3]), std::atoi(argv[4]),
                    static_cast<std::size_t>(std::atoll(argv[5])));
    CoUninitialize();
    return status;
  }
  int cells_rows = 1000, sweep_rows = 10000;
  std::vector<int> rows = {10000, 100000}, sweep = {100, 250, 500, 1000, 2000, 4000};
  std::size_t block_bytes = tessaly::ExcelComOptions{}.block_bytes;
  const int block_rows = tessaly::ExcelComOptions{}.block_rows;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--cells-rows") cells_rows = std::atoi(argv[i + 1]);
    if (arg == "--rows") rows = Numbers(argv[i + 1]);
    if (arg == "--sweep-rows") sweep_rows = std::atoi(argv[i + 1]);
    if (arg == "--sweep") sweep = Numbers(argv[i + 1]);
    if (arg == "--block-bytes") block_bytes = static_cast<std::size_t>(std::atoll(argv[i + 1]));
  }
  std::printf(
      "| way | rows | block rows | time | cells/s | x cell by cell | longest call | "
      "memory added |\n|---|---|---|---|---|---|---|---|\n");
  const Result base = RunChild(true, cells_rows, block_rows, block_bytes);
  Print("cell by cell", cells_rows, 1, base, 0);
  const double base_rate = base.ok ? static_cast<double>(base.cells) / base.seconds : 0;
  for (const int n : rows) {
    const Result r = RunChild(false, n, block_rows, block_bytes);
    Print("blocks", n, block_rows, r, base_rate);
    if (!r.ok) status = 1;
  }
  for (const int b : sweep) {
    const Result r = RunChild(false, sweep_rows, b, block_bytes);
    Print("blocks (sweep)", sweep_rows, b, r, base_rate);
    if (!r.ok) status = 1;
  }
  if (!base.ok) status = 1;
  CoUninitialize();
  return status;
}
