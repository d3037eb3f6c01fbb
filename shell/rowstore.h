// The list's rows as the decoder produced them: thirteen GBK (or UTF-8) byte strings per row,
// kept compactly so that a file of a million records fits in memory beside its lines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "extract.h"

namespace tessaly {

// Each row is one block in a chunked arena: thirteen 32-bit end offsets, then the cells' bytes
// back to back. One pointer per row indexes the blocks. A changed cell writes a new block for its
// row (the old block stays until Clear), which keeps edits simple and rare edits cheap.
class RowStore {
 public:
  static constexpr std::size_t kCells = marc::CellCount;

  std::size_t Size() const { return rows_.size(); }
  void Append(const marc::BookRow& row);
  std::string_view Cell(std::size_t row, std::size_t cell) const;
  void SetCell(std::size_t row, std::size_t cell, std::string_view bytes);
  void Clear();
  // Bytes held by the arena (for the benchmark's memory figures).
  std::size_t ArenaBytes() const { return arenaBytes_; }

 private:
  char* Allocate(std::size_t size);
  void Store(std::size_t row, const std::array<std::string_view, kCells>& cells, bool append);

  std::vector<std::unique_ptr<char[]>> chunks_;
  std::size_t chunkFree_ = 0;
  char* chunkNext_ = nullptr;
  std::size_t arenaBytes_ = 0;
  std::vector<const char*> rows_;
};

}  // namespace tessaly
