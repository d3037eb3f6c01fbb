#include "rowstore.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace tessaly {

namespace {

// About a megabyte of places a chunk.
constexpr std::size_t kChunkRows = 8192;

}  // namespace

RowStore::Chunk& RowStore::ChunkFor(const std::shared_ptr<const marc::FileBytes>& source) {
  if (chunks_.empty() || chunks_.back().source != source ||
      chunks_.back().rows.size() == kChunkRows) {
    Chunk& chunk = chunks_.emplace_back();
    chunk.source = source;
    chunk.first = size_;
    chunk.rows.reserve(kChunkRows);
  }
  return chunks_.back();
}

void RowStore::Append(const std::shared_ptr<const marc::FileBytes>& bytes,
                      std::span<const marc::RowRef> rows) {
  while (!rows.empty()) {
    Chunk& chunk = ChunkFor(bytes);
    const std::size_t n = std::min(rows.size(), kChunkRows - chunk.rows.size());
    chunk.rows.insert(chunk.rows.end(), rows.begin(), rows.begin() + n);
    size_ += n;
    rows = rows.subspan(n);
  }
}

void RowStore::Append(const marc::BookRow& row) {
  marc::RowRef ref;
  ref.record = own_.size();
  std::size_t total = 0;
  for (const auto& cell : row.cells) total += cell.size();
  if (total > std::numeric_limits<std::uint32_t>::max())
    throw std::length_error("row too large for the list");
  own_.reserve(own_.size() + total);
  for (std::size_t c = 0; c < kCells; ++c) {
    ref.begin[c] = static_cast<std::uint32_t>(own_.size() - ref.record);
    ref.length[c] = static_cast<std::uint32_t>(row[c].size());
    own_ += row[c];
  }
  ChunkFor(nullptr).rows.push_back(ref);
  ++size_;
}

const RowStore::Chunk& RowStore::Find(std::size_t row) const {
  const auto it = std::upper_bound(chunks_.begin(), chunks_.end(), row,
                                   [](std::size_t r, const Chunk& c) { return r < c.first; });
  return *(it - 1);
}

std::string_view RowStore::Cell(std::size_t row, std::size_t cell, std::string& scratch) const {
  if (!edited_.empty()) {
    if (const auto it = edited_.find(row * kCells + cell); it != edited_.end()) return it->second;
  }
  const Chunk& chunk = Find(row);
  const marc::RowRef& ref = chunk.rows[row - chunk.first];
  if (!chunk.source) return std::string_view(own_).substr(ref.record + ref.begin[cell], ref.length[cell]);
  return marc::CellBytes(chunk.source->View(), ref, cell, scratch);
}

void RowStore::SetCell(std::size_t row, std::size_t cell, std::string_view bytes) {
  edited_[row * kCells + cell] = std::string(bytes);
}

void RowStore::Clear() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  size_ = 0;
  std::string().swap(own_);
  edited_.clear();
}

std::size_t RowStore::OwnBytes() const {
  std::size_t bytes = own_.size();
  for (const Chunk& chunk : chunks_) bytes += chunk.rows.capacity() * sizeof(marc::RowRef);
  for (const auto& [key, text] : edited_) bytes += text.capacity() + sizeof key;
  return bytes;
}

}  // namespace tessaly
