// The list's rows: the blocks of rows a read handed over, kept as they came (no copy), rows given
// as texts in blocks of the store's own, and edited cells beside them. Every byte is the
// program's own: nothing done to the file a read came from changes a row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "find.h"
#include "reader.h"

namespace tessaly {

class RowStore {
 public:
  static constexpr std::size_t kCells = marc::CellCount;

  std::size_t Size() const { return size_; }
  // Rows a read decoded; the store keeps the block.
  void Append(std::shared_ptr<const marc::RowBlock> rows);
  // A row of texts.
  void Append(const marc::BookRow& row);
  // The cell's bytes as the decoder gave them (0x1F read as "$") or as last set. The view lives
  // until the store changes.
  std::string_view Cell(std::size_t row, std::size_t cell) const;
  void SetCell(std::size_t row, std::size_t cell, std::string_view bytes);
  void Clear();
  // The rows as they stand, for a search off the GUI thread: the blocks (shared) and a copy of
  // the edited cells. The store's own open block is closed first, so that later rows go to a new
  // one while the search reads it.
  marc::ListRows Snapshot() const;
  // The blocks in order, for the checks (which read the cells as decoded).
  std::vector<std::shared_ptr<const marc::RowBlock>> Blocks() const;
  // Bytes the store holds (for the benchmark's memory figures).
  std::size_t OwnBytes() const;

 private:
  struct Chunk {
    std::shared_ptr<const marc::RowBlock> rows;
    std::size_t first = 0;  // index of its first row
  };
  const Chunk& Find(std::size_t row) const;

  std::vector<Chunk> chunks_;
  std::size_t size_ = 0;
  // The store's own block at the end, while rows of texts are appended to it.
  mutable std::shared_ptr<marc::RowBlock> open_;
  std::unordered_map<std::uint64_t, std::string> edited_;  // row * kCells + cell
};

}  // namespace tessaly
