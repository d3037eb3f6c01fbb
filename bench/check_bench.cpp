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

#include "check_bench_input.h"
#include "checks.h"
#include "find.h"
#include "reader.h"
#include "report.h"

namespace {

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
  const std::optional<CheckBenchInput> in = ParseCheckBenchInput(argc, argv, "check_bench");
  if (!in) return 2;
  const auto& [repeat, path, needles] = *in;

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
