// Finding a text in the list's rows: any cell, matched as characters of the rows' encoding (a GBK
// file is searched in GBK, only on character boundaries, so "中" never matches half of two other
// characters), ASCII letters in either case. Meant for a worker thread: the rows are an immutable
// view of the list's blocks, and a search stops soon after its stop token is asked to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "reader.h"
#include "text.h"

namespace marc {

// The list's rows as they stand when a search starts: its blocks in order (shared, immutable)
// and the cells edited since they were read. A copy for the worker costs a pointer a block.
class ListRows {
 public:
  void Add(std::shared_ptr<const RowBlock> block);
  void SetCell(std::size_t row, std::size_t cell, std::string bytes);
  std::size_t Size() const { return size_; }
  std::string_view Cell(std::size_t row, std::size_t cell) const;

 private:
  friend class RowFinder;
  struct Chunk {
    std::shared_ptr<const RowBlock> rows;
    std::size_t first = 0;
  };
  std::vector<Chunk> chunks_;
  std::size_t size_ = 0;
  std::unordered_map<std::uint64_t, std::string> edited_;  // row * CellCount + cell
  std::unordered_set<std::size_t> editedRows_;
};

// A needle given in UTF-8, held in the rows' encoding.
class CellMatcher {
 public:
  CellMatcher(std::string_view needleUtf8, TextEncoding encoding);
  bool Empty() const { return needle_.empty(); }
  // Whether the cell (the rows' encoding) holds the needle, starting on a character boundary.
  bool Matches(std::string_view cell) const;

 private:
  friend class RowFinder;
  // The first match in bytes that starts on a character boundary of a cell: lengths give the
  // cells bytes is made of, back to back. npos when none.
  std::size_t FindIn(std::string_view bytes, const std::uint32_t* lengths, std::size_t cells) const;

  std::string needle_;  // ASCII letters that are characters of their own in lower case
  std::string fold_;    // by byte of the needle: 1 where it is such a letter (either case matches)
  TextEncoding encoding_;
  std::size_t anchor_ = 0;  // a byte of the needle matched exactly, looked for first
  bool hasAnchor_ = false;
};

enum class FindDirection { Next, Previous };

struct FindResult {
  enum Outcome { Found, NotFound, Stopped };
  Outcome outcome = NotFound;
  std::size_t row = 0;
  bool wrapped = false;  // found only past the end (the start, going back)
};

class RowFinder {
 public:
  static constexpr std::size_t kNoRow = static_cast<std::size_t>(-1);

  RowFinder(const ListRows& rows, const CellMatcher& matcher) : rows_(rows), matcher_(matcher) {}

  // The next row after from (the previous one before it) whose cells hold the needle, going on
  // round the end (the start) and coming to from itself last. kNoRow: from before the first
  // row (after the last, going back).
  FindResult Find(std::size_t from, FindDirection direction, std::stop_token stop = {}) const;

  // Every row that holds the needle, in order; stopped: what was found before the stop.
  struct All {
    std::vector<std::size_t> rows;
    bool stopped = false;
  };
  All FindAll(std::stop_token stop = {}) const;

  bool RowMatches(std::size_t row) const;

 private:
  bool Matches(const RowBlock& block, std::size_t local, std::size_t row) const;

  const ListRows& rows_;
  const CellMatcher& matcher_;
};

// Where row stands among all the hits (sorted): its 1-based place k of "第 k / n 处"; 0 when it
// is no hit.
std::size_t HitPlace(const std::vector<std::size_t>& hits, std::size_t row);

}  // namespace marc
