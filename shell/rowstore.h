// The list's rows. Rows a read decoded are kept as places in the loaded file's bytes (112 bytes
// a row, however long its cells), which the store holds on to; rows given as texts and edited
// cells are kept in the store's own bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "reader.h"

namespace tessaly {

class RowStore {
 public:
  static constexpr std::size_t kCells = marc::CellCount;

  std::size_t Size() const { return size_; }
  // Rows decoded from bytes; the store keeps bytes alive while it holds them.
  void Append(const std::shared_ptr<const marc::FileBytes>& bytes,
              std::span<const marc::RowRef> rows);
  // A row of texts.
  void Append(const marc::BookRow& row);
  // The cell's bytes as the decoder gave them (0x1F read as "$") or as last set. The view lives
  // until scratch or the store changes.
  std::string_view Cell(std::size_t row, std::size_t cell, std::string& scratch) const;
  void SetCell(std::size_t row, std::size_t cell, std::string_view bytes);
  void Clear();
  // Bytes the store holds beyond the file's (for the benchmark's memory figures).
  std::size_t OwnBytes() const;

 private:
  // Rows in chunks, so that a million rows grow without copying; each chunk's rows point into
  // one source (null: the store's own bytes).
  struct Chunk {
    std::shared_ptr<const marc::FileBytes> source;
    std::size_t first = 0;  // index of its first row
    std::vector<marc::RowRef> rows;
  };
  Chunk& ChunkFor(const std::shared_ptr<const marc::FileBytes>& source);
  const Chunk& Find(std::size_t row) const;

  std::vector<Chunk> chunks_;
  std::size_t size_ = 0;
  std::string own_;
  std::unordered_map<std::uint64_t, std::string> edited_;  // row * kCells + cell
};

}  // namespace tessaly
