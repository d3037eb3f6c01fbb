#include "rowstore.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace tessaly {

namespace {

constexpr std::size_t kHeaderBytes = RowStore::kCells * sizeof(std::uint32_t);
// Large enough that the per-chunk cost vanishes, small enough that the last chunk wastes little.
constexpr std::size_t kChunkBytes = std::size_t{4} << 20;

std::uint32_t EndOffset(const char* block, std::size_t cell) {
  std::uint32_t end;
  std::memcpy(&end, block + cell * sizeof end, sizeof end);
  return end;
}

}  // namespace

char* RowStore::Allocate(std::size_t size) {
  if (size > chunkFree_) {
    const std::size_t chunk = size > kChunkBytes ? size : kChunkBytes;
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(chunk));
    chunkNext_ = chunks_.back().get();
    chunkFree_ = chunk;
    arenaBytes_ += chunk;
  }
  char* p = chunkNext_;
  chunkNext_ += size;
  chunkFree_ -= size;
  return p;
}

void RowStore::Store(std::size_t row, const std::array<std::string_view, kCells>& cells,
                     bool append) {
  std::size_t total = 0;
  for (const auto& c : cells) total += c.size();
  if (total > std::numeric_limits<std::uint32_t>::max())
    throw std::length_error("row too large for the list");
  char* block = Allocate(kHeaderBytes + total);
  char* out = block + kHeaderBytes;
  std::uint32_t end = 0;
  for (std::size_t i = 0; i < kCells; ++i) {
    if (!cells[i].empty()) std::memcpy(out + end, cells[i].data(), cells[i].size());
    end += static_cast<std::uint32_t>(cells[i].size());
    std::memcpy(block + i * sizeof end, &end, sizeof end);
  }
  if (append)
    rows_.push_back(block);
  else
    rows_[row] = block;
}

void RowStore::Append(const marc::BookRow& row) {
  std::array<std::string_view, kCells> cells;
  for (std::size_t i = 0; i < kCells; ++i) cells[i] = row[i];
  Store(rows_.size(), cells, true);
}

std::string_view RowStore::Cell(std::size_t row, std::size_t cell) const {
  const char* block = rows_[row];
  const std::uint32_t begin = cell == 0 ? 0 : EndOffset(block, cell - 1);
  return {block + kHeaderBytes + begin, EndOffset(block, cell) - begin};
}

void RowStore::SetCell(std::size_t row, std::size_t cell, std::string_view bytes) {
  std::array<std::string_view, kCells> cells;
  for (std::size_t i = 0; i < kCells; ++i) cells[i] = i == cell ? bytes : Cell(row, i);
  // The old block stays alive (and is read from) while the new one is written.
  Store(row, cells, false);
}

void RowStore::Clear() {
  rows_.clear();
  rows_.shrink_to_fit();
  chunks_.clear();
  chunkFree_ = 0;
  chunkNext_ = nullptr;
  arenaBytes_ = 0;
}

}  // namespace tessaly
