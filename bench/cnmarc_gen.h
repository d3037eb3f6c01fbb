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

// Writes records records in layout to path (through a temporary name, so an interrupted run leaves
// no half file under path). Returns the file's size in bytes; throws std::runtime_error on an
// I/O failure.
std::uint64_t WriteCnmarcFile(const std::string& path, std::int64_t records, Layout layout,
                              std::uint64_t seed = 1);

// The file of records records in layout under dir, written first when missing.
std::string EnsureCnmarcFile(const std::string& dir, std::int64_t records, Layout layout);

const char* LayoutName(Layout layout);

}  // namespace tessaly::bench
