// Export throughput into a running LibreOffice Calc: 100,000 rows of 13 cells (1,300,013 cells
// with the header) through the real module, with the time to attach to the office and to create
// the document reported apart from the writing. Each run exports twice, side by side: the plain
// way the export used to write (document shown while loading, no locks, blocks of 1,000 rows),
// then as it writes now.
//
//   export_bench [--pipe NAME] [--rows N] [--block-rows N] [--repeat K] [--only-now 1]
//                [--module PATH] [--import-file TSV] [--fed-import 1]
//
// Each run also times Calc's own import of the same rows (captions included) from a
// tab-separated file with every column typed text (filter "Text - txt - csv (StarCalc)",
// loaded hidden, then closed), the yardstick the export is compared with. --import-file times
// only that import of the given file (e.g. `marcrows FILE > TSV`), three times. --fed-import 1
// times the same import a second way each time: the file's bytes fed to the filter through an
// input stream of this program's ("private:stream"), as an export could feed its rows.
//
// Without --pipe it starts a headless office of its own (private profile) and removes it at the
// end; with --pipe it attaches to the office already listening there and leaves it running.
// --module loads the Calc module from PATH instead of beside the program (an installed one).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/io/XInputStream.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <rtl/ref.hxx>
#include <string>
#include <thread>
#include <vector>

#include "calc.h"
#include "calc_readback.h"
#include "gbk.h"  // the captions
#include "spreadsheet_export.h"
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
  std::int64_t SheetRows() override { return inner_->SheetRows(); }
  void AddWorksheet() override {
    Time(writing, [&] { inner_->AddWorksheet(); });
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

// The rows as Calc's text import reads them: TAB between cells, a cell holding a TAB, a line
// break or a quote in quotes (quotes doubled).
std::string WriteTextFile(const tessaly::testing::VectorSource& list) {
  char path[] = "/tmp/export_bench_XXXXXX.tsv";
  const int fd = mkstemps(path, 4);
  if (fd < 0) return {};
  close(fd);
  std::ofstream out(path, std::ios::binary);
  const auto cell = [&](const std::string& text) {
    if (text.find_first_of("\t\n\r\"") == std::string::npos) {
      out << text;
      return;
    }
    out << '"';
    for (char c : text) out << (c == '"' ? "\"\"" : std::string(1, c));
    out << '"';
  };
  for (int c = 0; c < list.ColumnCount(); ++c) {
    if (c) out << '\t';
    cell(list.ColumnCaption(c));
  }
  out << '\n';
  for (std::int64_t r = 0; r < list.RowCount(); ++r) {
    for (int c = 0; c < list.ColumnCount(); ++c) {
      if (c) out << '\t';
      cell(list.Cell(r, c));
    }
    out << '\n';
  }
  return path;
}

// Bytes handed to the office as it asks for them. Offered no XSeekable, the office copies the
// whole stream (32 KB a call) before its filter starts; with XSeekable its filter reads 8 KB a
// call, seeking before each, and each is a round trip between the processes.
class FedBytes final : public cppu::WeakImplHelper1<com::sun::star::io::XInputStream> {
 public:
  explicit FedBytes(std::string bytes) : bytes_(std::move(bytes)), start_(Clock::now()) {}

  sal_Int32 SAL_CALL readBytes(com::sun::star::uno::Sequence<sal_Int8>& out,
                               sal_Int32 wanted) override {
    const std::lock_guard lock(mutex_);
    const std::size_t n =
        std::min(static_cast<std::size_t>(std::max(wanted, 0)), bytes_.size() - at_);
    out.realloc(static_cast<sal_Int32>(n));
    std::memcpy(out.getArray(), bytes_.data() + at_, n);
    at_ += n;
    ++calls_;
    lastRead_ = Seconds(Clock::now() - start_);
    return static_cast<sal_Int32>(n);
  }
  sal_Int32 SAL_CALL readSomeBytes(com::sun::star::uno::Sequence<sal_Int8>& out,
                                   sal_Int32 wanted) override {
    return readBytes(out, wanted);
  }
  void SAL_CALL skipBytes(sal_Int32 n) override {
    const std::lock_guard lock(mutex_);
    at_ += std::min(static_cast<std::size_t>(std::max(n, 0)), bytes_.size() - at_);
  }
  sal_Int32 SAL_CALL available() override {
    const std::lock_guard lock(mutex_);
    return static_cast<sal_Int32>(std::min<std::size_t>(bytes_.size() - at_, 1 << 30));
  }
  void SAL_CALL closeInput() override {}

  // How many reads the office made, and when the last one came after the stream was made.
  long Calls() const { return calls_; }
  double LastRead() const { return lastRead_; }

 private:
  std::mutex mutex_;
  const std::string bytes_;
  std::size_t at_ = 0;
  const Clock::time_point start_;
  long calls_ = 0;
  double lastRead_ = 0;
};

// Calc's own import of the file, every column text, into a hidden document closed afterwards;
// rows: how many rows the document held. With fed, the bytes go through a FedBytes, and what it
// saw is printed.
double ImportSeconds(const std::string& pipe, const std::string& path, int columns, long& rows,
                     bool fed = false) {
  namespace css = com::sun::star;
  const auto desktop = tessaly::testing::Connect(pipe);
  std::string formats;
  for (int c = 1; c <= columns; ++c) {
    if (c > 1) formats += '/';
    formats += std::to_string(c);
    formats += "/2";
  }
  rtl::Reference<FedBytes> stream;
  if (fed) {
    std::ifstream in(path, std::ios::binary);
    stream = new FedBytes(std::string(std::istreambuf_iterator<char>(in), {}));
  }
  css::uno::Sequence<css::beans::PropertyValue> args(fed ? 4 : 3);
  auto* a = args.getArray();
  a[0].Name = "Hidden";
  a[0].Value <<= true;
  a[1].Name = "FilterName";
  a[1].Value <<= rtl::OUString("Text - txt - csv (StarCalc)");
  a[2].Name = "FilterOptions";
  // TAB, quote ", UTF-8, from line 1, the column types.
  a[2].Value <<= rtl::OUString::createFromAscii(("9,34,76,1," + formats).c_str());
  if (fed) {
    a[3].Name = "InputStream";
    a[3].Value <<= css::uno::Reference<css::io::XInputStream>(stream.get());
  }
  const auto start = Clock::now();
  const auto doc = desktop->loadComponentFromURL(
      fed ? rtl::OUString("private:stream")
          : rtl::OUString::createFromAscii(("file://" + path).c_str()),
      "_blank", 0, args);
  const double seconds = Seconds(Clock::now() - start);
  if (fed)
    std::printf("  fed through a stream: %ld reads, the last %.3f s after the first\n",
                stream->Calls(), stream->LastRead());
  const tessaly::testing::Doc sheets(doc, css::uno::UNO_QUERY_THROW);
  const auto cursor = tessaly::testing::FirstSheet(sheets)->createCursor();
  css::uno::Reference<css::sheet::XUsedAreaCursor>(cursor, css::uno::UNO_QUERY_THROW)
      ->gotoEndOfUsedArea(false);
  rows = css::uno::Reference<css::sheet::XCellRangeAddressable>(cursor, css::uno::UNO_QUERY_THROW)
             ->getRangeAddress()
             .EndRow +
         1;
  const css::uno::Reference<css::util::XCloseable> closeable(doc, css::uno::UNO_QUERY);
  if (closeable.is()) closeable->close(true);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  std::string pipe, module_path, import_file;
  int rows = 100'000;
  int block_rows = tessaly::CalcOptions().block_rows;
  int repeat = 3;
  bool only_now = false, fed_import = false;
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
    else if (!std::strcmp(argv[i], "--import-file"))
      import_file = argv[i + 1];
    else if (!std::strcmp(argv[i], "--fed-import"))
      fed_import = std::stoi(argv[i + 1]) != 0;
  }

  std::optional<tessaly::testing::TestOffice> office;
  if (pipe.empty()) {
    pipe = tessaly::testing::UniquePipeName("bench");
    office.emplace(pipe);
  }

  if (!import_file.empty()) {
    for (int run = 1; run <= repeat; ++run) {
      long imported = 0;
      const double seconds = ImportSeconds(pipe, import_file, 13, imported);
      std::printf("Calc's own text import of %s: %.3f s, %ld rows, %.0f cells/s\n",
                  import_file.c_str(), seconds, imported, imported * 13.0 / seconds);
      if (fed_import) {
        const double fed = ImportSeconds(pipe, import_file, 13, imported, true);
        std::printf("the same, fed through a stream: %.3f s, %ld rows, %.2fx the file's time\n",
                    fed, imported, fed / seconds);
      }
    }
    return 0;
  }
  const auto list = MakeList(rows);
  const double cells = (static_cast<double>(rows) + 1) * list.ColumnCount();
  const std::string text_file = WriteTextFile(list);
  std::vector<double> import_rates;
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
      tessaly::SpreadsheetExport module(std::move(timed));

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
      tessaly::ExportList(module, list, ui);
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
    long imported = 0;
    const double import = ImportSeconds(pipe, text_file, list.ColumnCount(), imported);
    import_rates.push_back(cells / import);
    std::printf("%-36s %-4d %10s %12s %10s %10.3f %12.0f (%ld rows)\n", "Calc's own text import",
                run, "", "", "", import, cells / import, imported);
    if (fed_import) {
      const double fed = ImportSeconds(pipe, text_file, list.ColumnCount(), imported, true);
      std::printf("%-36s %-4d %10s %12s %10s %10.3f %12.0f (%ld rows)\n",
                  "the same, fed through a stream", run, "", "", "", fed, cells / fed, imported);
    }
    std::fflush(stdout);
  }
  std::remove(text_file.c_str());
  std::sort(import_rates.begin(), import_rates.end());
  const double import_median = import_rates[import_rates.size() / 2];
  std::printf("Calc's own text import: median %.0f cells/s\n", import_median);
  for (int v = only_now ? 1 : 0; v < 2; ++v) {
    auto& r = rates[static_cast<std::size_t>(v)];
    std::sort(r.begin(), r.end());
    const double median = r[r.size() / 2];
    std::printf("%s: median %.0f cells/s over the whole export", variants[v].name, median);
    std::printf(", %.2fx Calc's own import (best %.2fx)", median / import_median,
                r.back() / import_rates.back());
    if (variants[v].tuned) {
      std::printf("; 1,000,000 rows would take %.0f s", 13'000'013 / median);
    }
    std::printf("\n");
  }
  return 0;
}
