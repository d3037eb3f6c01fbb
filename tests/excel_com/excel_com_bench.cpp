// How long the export takes into Excel in a process of its own, cell by cell, measured against
// the fake Excel as a local server (no Excel here). The fake answers at once and records nothing,
// so the figure is what the calls themselves cost: two cross-process calls per cell.
//
//   excel_com_bench [--rows N] [--repeat K]
//
// Prints one line per run: rows, cells, seconds, cells per second, seconds per 10,000 rows.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "excel_com_win.h"
#include "fake_excel.h"
#include "marc2excel.h"
#include "vector_source.h"

namespace {

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

// The fake Excel, started as the user's running Excel; ended by its thread's WM_QUIT.
class RunningFake {
 public:
  RunningFake() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    state_file_ = std::wstring(temp) + L"fake_excel_bench_" +
                  std::to_wstring(GetCurrentProcessId()) + L".txt";
    std::wstring command = L"\"" + fake_excel::ProgramFolder() +
                           L"fake_excel_server.exe\" --state \"" + state_file_ +
                           L"\" --running --quiet";
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
  bool Ready() const { return thread_ != 0; }

 private:
  std::wstring state_file_;
  HANDLE process_ = nullptr;
  DWORD thread_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  int rows = 10000, repeat = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--rows") rows = std::atoi(argv[i + 1]);
    if (arg == "--repeat") repeat = std::atoi(argv[i + 1]);
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  if (fake_excel::RealExcelRunning() || fake_excel::RealExcelInstalled()) {
    std::fprintf(stderr, "a real Excel would answer in place of the fake\n");
    return 2;
  }
  fake_excel::RegisterExcelInterfaces();
  const VectorSource list = MakeList(rows);
  const long long cells = (static_cast<long long>(rows) + 1) * 13;
  int status = 0;
  for (int run = 1; run <= repeat; ++run) {
    const RunningFake excel;
    if (!excel.Ready()) {
      std::fprintf(stderr, "the fake Excel did not start\n");
      status = 1;
      break;
    }
    tessaly::TMarc2ExcelFm module(tessaly::MakeExcelComApplication(tessaly::ExcelConnect::Running));
    NoUi ui;
    const auto start = std::chrono::steady_clock::now();
    tessaly::ExportListToExcel(module, list, ui);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (ui.unreachable) {
      std::fprintf(stderr, "the fake Excel could not be reached\n");
      status = 1;
      break;
    }
    std::printf("run %d: %d rows, %lld cells, %.2f s, %.0f cells/s, %.2f s per 10,000 rows\n", run,
                rows, cells, seconds, cells / seconds, seconds * 10000.0 / rows);
  }
  CoUninitialize();
  return status;
}
