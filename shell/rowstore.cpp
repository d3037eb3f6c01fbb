#include "rowstore.h"

#include <algorithm>

namespace tessaly {

void RowStore::Append(std::shared_ptr<const marc::RowBlock> rows) {
  if (!rows || rows->Size() == 0) return;
  const std::size_t n = rows->Size();
  chunks_.push_back({std::move(rows), size_});
  size_ += n;
  open_.reset();
}

void RowStore::Append(const marc::BookRow& row) {
  if (!open_) {
    open_ = std::make_shared<marc::RowBlock>();
    chunks_.push_back({open_, size_});
  }
  open_->Append(row);
  ++size_;
}

const RowStore::Chunk& RowStore::Find(std::size_t row) const {
  const auto it = std::upper_bound(chunks_.begin(), chunks_.end(), row,
                                   [](std::size_t r, const Chunk& c) { return r < c.first; });
  return *(it - 1);
}

std::string_view RowStore::Cell(std::size_t row, std::size_t cell) const {
  if (!edited_.empty()) {
    if (const auto it = edited_.find(row * kCells + cell); it != edited_.end()) return it->second;
  }
  const Chunk& chunk = Find(row);
  return chunk.rows->Cell(row - chunk.first, cell);
}

void RowStore::SetCell(std::size_t row, std::size_t cell, std::string_view bytes) {
  edited_[row * kCells + cell] = std::string(bytes);
}

void RowStore::Clear() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  size_ = 0;
  open_.reset();
  edited_.clear();
}

marc::ListRows RowStore::Snapshot() const {
  open_.reset();
  marc::ListRows rows;
  for (const Chunk& chunk : chunks_) rows.Add(chunk.rows);
  for (const auto& [key, text] : edited_) rows.SetCell(key / kCells, key % kCells, text);
  return rows;
}

std::vector<std::shared_ptr<const marc::RowBlock>> RowStore::Blocks() const {
  open_.reset();
  std::vector<std::shared_ptr<const marc::RowBlock>> blocks;
  blocks.reserve(chunks_.size());
  for (const Chunk& chunk : chunks_) blocks.push_back(chunk.rows);
  return blocks;
}

std::size_t RowStore::OwnBytes() const {
  std::size_t bytes = chunks_.capacity() * sizeof(Chunk);
  for (const Chunk& chunk : chunks_) bytes += chunk.rows->HeldBytes();
  for (const auto& [key, text] : edited_) bytes += text.capacity() + sizeof key;
  return bytes;
}

}  // namespace tessaly
