// Large realistic CNMARC record files for the benchmarks: GBK text from real catalogue records,
// the field sets of real records, valid leaders and directories. Deterministic: a seed gives the
// same bytes on every platform and standard library.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::bench {

enum class Layout {
  Lines,   // one record per line, CR LF after each record terminator
  Concat,  // records back to back, no line breaks (plain ISO 2709)
};

// Bumped whenever the bytes a seed gives change, so cached files are made again.
inline constexpr int kGeneratorVersion = 1;

class CnmarcGenerator {
 public:
  explicit CnmarcGenerator(std::uint64_t seed = 1);

  // Appends the next record to out, leader to record terminator, no line end.
  void AppendRecord(std::string& out);

 private:
  std::uint64_t Next();
  std::uint64_t Below(std::uint64_t n);
  std::int64_t Between(std::int64_t lo, std::int64_t hi);  // lo..hi inclusive
  bool Chance(int percent);
  template <class Table>
  std::string_view Pick(const Table& table) {
    return table[Below(std::size(table))];
  }

  std::string Isbn();
  std::string Price();
  std::string Field010();
  std::string Field200(std::string_view sample);
  std::string Field210();
  std::string Field215();
  std::string Field330();
  std::string Field606();
  std::string Field690();
  std::string Field70x();

  std::size_t PickSample();

  std::uint64_t state_;
  std::vector<std::uint64_t> sampleWeights_;  // running sums, one per sample record
  std::int64_t serial_ = 0;
};

// Damage done to a known share of the records, in known ways, as files that library systems
// export come damaged: a line break inside a record (one record cut in two), a leader whose
// record length is no number, a directory that points past the data (a base address of 99999).
struct Damage {
  double percent = 0;  // of the records, each drawn at random
  std::uint64_t seed = 1;
};

// A bad record as a reader that passes over bad records should list it.
struct BadTruth {
  std::int64_t record = 0, line = 0;  // 1-based, counting the pieces a cut record makes
  std::uint64_t offset = 0, length = 0;
  const char* fault = "";  // "Number" or "Directory"
  const char* hint = "";   // "", "CutBeforeNext" or "RestOfPrevious"
};

// Writes records records in layout to path (through a temporary name, so an interrupted run leaves
// no half file under path), damaged as damage says, the truth of the damage into truth when
// given. Returns the file's size in bytes; throws std::runtime_error on an I/O failure. The
// records damaged are those the same seed gives undamaged, so the clean file is their yardstick.
std::uint64_t WriteCnmarcFile(const std::string& path, std::int64_t records, Layout layout,
                              std::uint64_t seed = 1, const Damage& damage = {},
                              std::vector<BadTruth>* truth = nullptr);

// The file of records records in layout under dir, written first when missing.
std::string EnsureCnmarcFile(const std::string& dir, std::int64_t records, Layout layout);

const char* LayoutName(Layout layout);

}  // namespace tessaly::bench
