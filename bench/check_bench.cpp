// check_bench: the checks and find over a file's rows held in memory, as the window holds them.
//   check_bench [--repeat N] FILE [NEEDLE...]
// Reads FILE once through the read path keeping every block, then, best of N (default 5) wall
// times each: the checks over all rows with their report, and for each needle (UTF-8; default a
// common title word, a rarer one, Latin letters and a text in no row) the first hit from the top
// and the search through all rows (every hit counted).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "checks.h"
#include "find.h"
#include "reader.h"
#include "report.h"

namespace {

class KeepBlocks : public marc::ReadSink {
 public:
  bool AppendRows(std::shared_ptr<const marc::RowBlock> rows, std::int64_t) override {
    blocks.push_back(std::move(rows));
    return true;
  }
  void Progress(std::int64_t) override {}
  void Elapsed(std::chrono::steady_clock::duration) override {}
  std::vector<std::shared_ptr<const marc::RowBlock>> blocks;
};

// Best wall time of repeat runs of f, in milliseconds.
template <class F>
double BestMs(int repeat, F&& f) {
  double best = 1e300;
  for (int i = 0; i < repeat; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    best = std::min(
        best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 5;
  std::string path;
  std::vector<std::string> needles;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (path.empty()) {
      path = arg;
    } else {
      needles.push_back(arg);
    }
  }
  if (path.empty()) {
    std::fputs("usage: check_bench [--repeat N] FILE [NEEDLE...]\n", stderr);
    return 2;
  }
  if (needles.empty()) needles = {"中国", "算法", "python", "不在任何一行里"};

  marc::RecordReader reader;
  KeepBlocks sink;
  const double readMs = BestMs(1, [&] { reader.Read(path, sink); });
  marc::ListRows rows;
  for (const auto& block : sink.blocks) rows.Add(block);
  std::printf("%s: %zu rows, read in %.0f ms (%s)\n", path.c_str(), rows.Size(), readMs,
              reader.Encoding() == marc::TextEncoding::Gb18030 ? "GBK" : "UTF-8");

  std::size_t reportBytes = 0;
  marc::CheckFindings findings;
  const double checkMs =
      BestMs(repeat, [&] { findings = marc::CheckRows(sink.blocks, reader.Encoding()); });
  const double reportMs = BestMs(repeat, [&] {
    reportBytes = marc::CheckReportText(findings).size() + marc::CheckSummary(findings).size();
  });
  std::size_t tsvBytes = 0;
  const double tsvMs = BestMs(repeat, [&] { tsvBytes = marc::CheckReportTsv(findings).size(); });
  (void)tsvBytes;
  std::printf(
      "checks %.0f ms, text report and summary %.0f ms (%zu bytes), TSV %.0f ms (best of %d); "
      "%zu duplicate groups of %lld rows\n",
      checkMs, reportMs, reportBytes, tsvMs, repeat, findings.duplicates.size(),
      static_cast<long long>(findings.DuplicateRows()));

  for (const std::string& needle : needles) {
    const marc::CellMatcher matcher(needle, reader.Encoding());
    const marc::RowFinder finder(rows, matcher);
    marc::FindResult first;
    const double firstMs = BestMs(
        repeat, [&] { first = finder.Find(marc::RowFinder::kNoRow, marc::FindDirection::Next); });
    std::size_t hits = 0;
    const double allMs = BestMs(repeat, [&] { hits = finder.FindAll().rows.size(); });
    std::printf(
        "find \"%s\": first hit %s %zu in %.2f ms; all rows %.0f ms, %zu hits (best of %d)\n",
        needle.c_str(), first.outcome == marc::FindResult::Found ? "at row" : "none,",
        first.outcome == marc::FindResult::Found ? first.row + 1 : 0, firstMs, allMs, hits, repeat);
  }
  return 0;
}
