// read_peak: the peak memory (resident set) of one read of a file through the read path.
//   read_peak [--keep-rows] FILE
//   read_peak [--keep-rows] --records N --layout lines|concat
// The second form reads the generated file read_bench uses (written first when missing).
// Without --keep-rows the rows are dropped as they arrive (the read path alone); with it they are
// kept, as the window's list keeps them. Prints the peak beside the file's size.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "cnmarc_gen.h"
#include "peak_rss.h"
#include "reader.h"

namespace {

// Keeps the rows as the window's list keeps them: the blocks the read hands over.
class Sink : public marc::ReadSink {
 public:
  explicit Sink(bool keep) : keep_(keep) {}
  bool AppendRows(std::shared_ptr<const marc::RowBlock> block, std::int64_t) override {
    rows += static_cast<std::int64_t>(block->Size());
    if (keep_) kept.push_back(std::move(block));
    return true;
  }
  void Progress(std::int64_t) override {}
  void Elapsed(std::chrono::steady_clock::duration) override {}
  std::int64_t rows = 0;
  std::vector<std::shared_ptr<const marc::RowBlock>> kept;

 private:
  bool keep_;
};

int Usage() {
  std::fputs(
      "usage: read_peak [--keep-rows] FILE\n"
      "       read_peak [--keep-rows] --records N --layout lines|concat\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool keep = false;
  std::string path;
  long long records = 0;
  std::string layout;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--keep-rows")
      keep = true;
    else if (arg == "--records" && i + 1 < argc)
      records = std::atoll(argv[++i]);
    else if (arg == "--layout" && i + 1 < argc)
      layout = argv[++i];
    else if (path.empty() && !arg.empty() && arg[0] != '-')
      path = arg;
    else
      return Usage();
  }
  if (path.empty() == (records == 0)) return Usage();
  if (records > 0) {
    if (layout != "lines" && layout != "concat") return Usage();
    const char* dir = std::getenv("TESSALY_BENCH_DATA");
    try {
      path = tessaly::bench::EnsureCnmarcFile(
          dir && *dir ? dir : TESSALY_BENCH_DATA_DEFAULT, records,
          layout == "lines" ? tessaly::bench::Layout::Lines : tessaly::bench::Layout::Concat);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "read_peak: %s\n", e.what());
      return 1;
    }
  }
  std::error_code ec;
  const auto fileBytes = static_cast<long long>(std::filesystem::file_size(path, ec));
  if (ec) {
    std::fprintf(stderr, "read_peak: %s: %s\n", path.c_str(), ec.message().c_str());
    return 1;
  }
  const long long before = PeakRssBytes();
  marc::RecordReader reader;
  Sink sink(keep);
  if (const marc::ReadOutcome outcome = reader.Read(path, sink); outcome.error) {
    std::fprintf(stderr, "read_peak: record %lld: %s\n",
                 static_cast<long long>(outcome.error->record), outcome.error->reason.c_str());
    return 1;
  }
  const long long peak = PeakRssBytes();
  std::printf(
      "%s rows %s: %lld rows, file %.1f MB, peak RSS %.1f MB (%.2fx file; %.1f MB before "
      "the read)\n",
      std::filesystem::path(path).filename().string().c_str(), keep ? "kept" : "dropped",
      static_cast<long long>(sink.rows), fileBytes / 1e6, peak / 1e6,
      fileBytes > 0 ? static_cast<double>(peak) / fileBytes : 0.0, before / 1e6);
  return 0;
}
