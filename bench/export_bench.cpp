// Export throughput into a running LibreOffice Calc: 100,000 rows of 13 cells (1,300,013 cells
// with the header) through the real module, with the time to attach to the office and to create
// the document reported apart from the writing. Each run exports twice, side by side: the plain
// way the export used to write (document shown while loading, no locks, blocks of 1,000 rows),
// then as it writes now.
//
//   export_bench [--pipe NAME] [--rows N] [--block-rows N] [--repeat K] [--only-now 1]
//                [--module PATH]
//
// Without --pipe it starts a headless office of its own (private profile) and removes it at the
// end; with --pipe it attaches to the office already listening there and leaves it running.
// --module loads the Calc module from PATH instead of beside the program (an installed one).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "calc.h"
#include "gbk.h"  // the captions
#include "marc2excel.h"
#include "test_office.h"
#include "vector_source.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Forwards to the real backend and times the phases of one export.
class TimedSpreadsheet final : public tessaly::SpreadsheetApplication {
 public:
  explicit TimedSpreadsheet(std::unique_ptr<tessaly::SpreadsheetApplication> inner)
      : inner_(std::move(inner)) {}

  Clock::duration attach{}, document{}, writing{};

  void ConnectApplication() override {
    Time(attach, [&] { inner_->ConnectApplication(); });
  }
  void AddWorkbook() override {
    Time(document, [&] { inner_->AddWorkbook(); });
  }
  void AttachFirstWorksheet() override {
    Time(document, [&] { inner_->AttachFirstWorksheet(); });
  }
  void SetVisible() override {
    Time(document, [&] { inner_->SetVisible(); });
  }
  void PutCell(std::int32_t row, std::int32_t column, std::string_view utf8) override {
    Time(writing, [&] { inner_->PutCell(row, column, utf8); });
  }
  void Flush() override {
    Time(writing, [&] { inner_->Flush(); });
  }
  void Abandon() noexcept override { inner_->Abandon(); }
  void DisconnectWorksheet() noexcept override {
    // Writes what is still gathered: part of the writing.
    Time(writing, [&] { inner_->DisconnectWorksheet(); });
  }
  void DisconnectWorkbook() noexcept override { inner_->DisconnectWorkbook(); }
  void DisconnectApplication() noexcept override { inner_->DisconnectApplication(); }

 private:
  template <typename F>
  static void Time(Clock::duration& into, F&& f) {
    const auto start = Clock::now();
    f();
    into += Clock::now() - start;
  }
  std::unique_ptr<tessaly::SpreadsheetApplication> inner_;
};

// Catalogue-like rows: short titles and names, number-like ISBNs, prices and dates, and
// a summary of a few hundred bytes.
tessaly::testing::VectorSource MakeList(int rows) {
  const char* words[] = {"计算机", "网络", "原理", "中国", "历史", "研究", "文学", "概论",
                         "教程",   "经济", "管理", "社会", "数据", "结构", "程序", "设计"};
  std::vector<std::string> captions = tessaly::testing::ColumnCaptionsUtf8();
  std::vector<tessaly::testing::ListItem> items;
  items.reserve(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    auto word = [&](int k) { return std::string(words[(i * 7 + k * 3) % 16]); };
    std::string summary;
    for (int k = 0; k < 40; ++k) summary += word(k);
    tessaly::testing::ListItem item{word(0) + word(1) + word(2) + "第" + std::to_string(i), {}};
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
  return tessaly::testing::VectorSource(std::move(captions), std::move(items));
}

class NoUi : public tessaly::ExportUi {
 public:
  void ShowNoSpreadsheet(const std::string&) override { unreachable = true; }
  bool unreachable = false;
};

struct Variant {
  const char* name;
  bool tuned;
};

}  // namespace

int main(int argc, char** argv) {
  std::string pipe, module_path;
  int rows = 100'000;
  int block_rows = tessaly::CalcOptions().block_rows;
  int repeat = 3;
  bool only_now = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--pipe"))
      pipe = argv[i + 1];
    else if (!std::strcmp(argv[i], "--rows"))
      rows = std::stoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--block-rows"))
      block_rows = std::stoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--repeat"))
      repeat = std::stoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--only-now"))
      only_now = std::stoi(argv[i + 1]) != 0;
    else if (!std::strcmp(argv[i], "--module"))
      module_path = argv[i + 1];
  }

  std::optional<tessaly::testing::TestOffice> office;
  if (pipe.empty()) {
    pipe = tessaly::testing::UniquePipeName("bench");
    office.emplace(pipe);
  }

  const auto list = MakeList(rows);
  const double cells = (static_cast<double>(rows) + 1) * list.ColumnCount();
  std::printf("export of %d rows, %.0f cells, into the office on pipe %s\n", rows, cells,
              pipe.c_str());
  std::printf("%-36s %-4s %10s %12s %10s %10s %12s\n", "way", "run", "attach ms", "document ms",
              "write s", "total s", "cells/s");
  const Variant variants[] = {{"plain (before), blocks of 1000", false},
                              {"row heights held, hidden till shown", true}};
  std::vector<std::vector<double>> rates(2);
  for (int run = 1; run <= repeat; ++run) {
    for (int v = only_now ? 1 : 0; v < 2; ++v) {
      tessaly::CalcOptions options;
      options.pipe_name = pipe;
      options.start_office = false;
      options.block_rows = variants[v].tuned ? block_rows : 1000;
      options.lock_document = variants[v].tuned;
      options.load_hidden = variants[v].tuned;
      auto timed =
          std::make_unique<TimedSpreadsheet>(tessaly::MakeLibreOfficeCalc(options, module_path));
      TimedSpreadsheet& backend = *timed;
      tessaly::TMarc2ExcelFm module(std::move(timed));

      // Until the office answers: it is running before the measured exports start.
      const auto deadline = Clock::now() + std::chrono::seconds(120);
      for (;;) {
        try {
          backend.ConnectApplication();
          backend.DisconnectApplication();
          break;
        } catch (const tessaly::ConnectError& e) {
          if (Clock::now() > deadline) {
            std::fprintf(stderr, "no office answers on pipe %s: %s\n", pipe.c_str(), e.what());
            return 1;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
      }
      backend.attach = backend.document = backend.writing = {};
      NoUi ui;
      const auto start = Clock::now();
      tessaly::ExportListToExcel(module, list, ui);
      const auto total = Clock::now() - start;
      if (ui.unreachable) {
        std::fprintf(stderr, "the office could not be reached\n");
        return 1;
      }
      const double rate = cells / Seconds(total);
      rates[static_cast<std::size_t>(v)].push_back(rate);
      std::printf("%-36s %-4d %10.1f %12.1f %10.3f %10.3f %12.0f\n", variants[v].name, run,
                  Seconds(backend.attach) * 1e3, Seconds(backend.document) * 1e3,
                  Seconds(backend.writing), Seconds(total), rate);
      std::fflush(stdout);
    }
  }
  for (int v = only_now ? 1 : 0; v < 2; ++v) {
    auto& r = rates[static_cast<std::size_t>(v)];
    std::sort(r.begin(), r.end());
    const double median = r[r.size() / 2];
    std::printf("%s: median %.0f cells/s over the whole export", variants[v].name, median);
    if (variants[v].tuned) {
      std::printf(" (target 150000): %s; 1,000,000 rows would take %.0f s",
                  median >= 150000 ? "met" : "NOT met", 13'000'013 / median);
    }
    std::printf("\n");
  }
  return 0;
}
