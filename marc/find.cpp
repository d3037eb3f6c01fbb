#include "find.h"

#include <algorithm>
#include <cstring>

#include "charset.h"

namespace marc {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The stop token is asked once every so many rows: often enough to stop within a millisecond,
// rarely enough to cost nothing.
constexpr std::size_t kRowsBetweenStops = 512;

}  // namespace

void ListRows::Add(std::shared_ptr<const RowBlock> block) {
  if (!block || block->Size() == 0) return;
  const std::size_t n = block->Size();
  chunks_.push_back({std::move(block), size_});
  size_ += n;
}

void ListRows::SetCell(std::size_t row, std::size_t cell, std::string bytes) {
  edited_[row * CellCount + cell] = std::move(bytes);
  editedRows_.insert(row);
}

std::string_view ListRows::Cell(std::size_t row, std::size_t cell) const {
  if (!edited_.empty()) {
    if (const auto it = edited_.find(row * CellCount + cell); it != edited_.end())
      return it->second;
  }
  const auto it = std::upper_bound(chunks_.begin(), chunks_.end(), row,
                                   [](std::size_t r, const Chunk& c) { return r < c.first; });
  return (it - 1)->rows->Cell(row - (it - 1)->first, cell);
}

CellMatcher::CellMatcher(std::string_view needleUtf8, TextEncoding encoding) : encoding_(encoding) {
  needle_ = encoding == TextEncoding::Utf8
                ? DecodeToUtf8(needleUtf8, TextEncoding::Utf8)
                : EncodeUtf16(DecodeToUtf16(needleUtf8, TextEncoding::Utf8), encoding);
  // Only a letter that is a character of its own matches in either case: a GBK second byte in the
  // letters' range is part of another character, matched as it is.
  fold_.assign(needle_.size(), 0);
  for (std::size_t i = 0; i < needle_.size(); i += CharLength(needle_, i, encoding)) {
    if (IsLetter(needle_[i])) {
      needle_[i] = Lower(needle_[i]);
      fold_[i] = 1;
    }
  }
  for (std::size_t i = 0; i < needle_.size(); ++i) {
    if (!fold_[i]) {
      anchor_ = i;
      hasAnchor_ = true;
      break;
    }
  }
}

std::size_t CellMatcher::FindIn(std::string_view bytes, const std::uint32_t* lengths,
                                std::size_t cells) const {
  const std::size_t n = needle_.size();
  if (n == 0 || bytes.size() < n) return std::string_view::npos;
  const char* const begin = bytes.data();
  const char* const last = begin + (bytes.size() - n);  // the last place a match can start
  std::size_t cell = 0, cellBegin = 0, cellEnd = cells ? lengths[0] : bytes.size();
  // The character walk of the current cell: a boundary at or before a candidate.
  std::size_t walk = 0;
  const char* p = begin;
  while (p <= last) {
    // The next candidate: the anchor byte where it must stand, or the first letter in either case.
    if (hasAnchor_) {
      const char* a = static_cast<const char*>(
          std::memchr(p + anchor_, needle_[anchor_], static_cast<std::size_t>(last - p) + 1));
      if (!a) return std::string_view::npos;
      p = a - anchor_;
    } else {
      while (p <= last && Lower(*p) != needle_[0]) ++p;
      if (p > last) return std::string_view::npos;
    }
    bool same = true;
    for (std::size_t k = 0; k < n && same; ++k)
      same = (fold_[k] ? Lower(p[k]) : p[k]) == needle_[k];
    if (same) {
      const auto at = static_cast<std::size_t>(p - begin);
      while (at >= cellEnd && cell + 1 < cells) {
        cellBegin = cellEnd;
        cellEnd += lengths[++cell];
        walk = cellBegin;
      }
      if (walk < cellBegin) walk = cellBegin;
      if (at + n <= cellEnd) {
        const std::string_view text = bytes.substr(cellBegin, cellEnd - cellBegin);
        while (walk < at) walk += CharLength(text, walk - cellBegin, encoding_);
        if (walk == at) return at;
      }
    }
    ++p;
  }
  return std::string_view::npos;
}

bool CellMatcher::Matches(std::string_view cell) const {
  const auto length = static_cast<std::uint32_t>(cell.size());
  return FindIn(cell, &length, 1) != std::string_view::npos;
}

bool RowFinder::Matches(const RowBlock& block, std::size_t local, std::size_t row) const {
  if (!rows_.editedRows_.empty() && rows_.editedRows_.count(row)) {
    for (std::size_t c = 0; c < CellCount; ++c)
      if (matcher_.Matches(rows_.Cell(row, c))) return true;
    return false;
  }
  std::array<std::uint32_t, CellCount> lengths;
  const std::string_view bytes = block.CellBytes(local, lengths);
  return matcher_.FindIn(bytes, lengths.data(), CellCount) != std::string_view::npos;
}

bool RowFinder::RowMatches(std::size_t row) const {
  if (row >= rows_.Size() || matcher_.Empty()) return false;
  const auto it =
      std::upper_bound(rows_.chunks_.begin(), rows_.chunks_.end(), row,
                       [](std::size_t r, const ListRows::Chunk& c) { return r < c.first; });
  return Matches(*(it - 1)->rows, row - (it - 1)->first, row);
}

FindResult RowFinder::Find(std::size_t from, FindDirection direction, std::stop_token stop) const {
  FindResult result;
  const std::size_t size = rows_.Size();
  if (size == 0 || matcher_.Empty()) return result;
  const bool next = direction == FindDirection::Next;
  const auto& chunks = rows_.chunks_;
  // The first row looked at; a search that begins past the end (the start) has wrapped already.
  std::size_t row;
  bool wrapped = false;
  if (from >= size) {
    row = next ? 0 : size - 1;
  } else if (next) {
    wrapped = from + 1 == size;
    row = wrapped ? 0 : from + 1;
  } else {
    wrapped = from == 0;
    row = wrapped ? size - 1 : from - 1;
  }
  auto chunkOf = [&](std::size_t r) {
    return static_cast<std::size_t>(
        std::upper_bound(chunks.begin(), chunks.end(), r,
                         [](std::size_t x, const ListRows::Chunk& c) { return x < c.first; }) -
        chunks.begin() - 1);
  };
  std::size_t chunk = chunkOf(row);
  for (std::size_t looked = 0; looked < size; ++looked) {
    if (looked % kRowsBetweenStops == 0 && stop.stop_requested()) {
      result.outcome = FindResult::Stopped;
      return result;
    }
    const ListRows::Chunk& c = chunks[chunk];
    if (Matches(*c.rows, row - c.first, row)) {
      result.outcome = FindResult::Found;
      result.row = row;
      result.wrapped = wrapped;
      return result;
    }
    if (next) {
      if (++row == size) {
        row = 0, chunk = 0, wrapped = true;
      } else if (row == c.first + c.rows->Size()) {
        ++chunk;
      }
    } else if (row == 0) {
      row = size - 1, chunk = chunks.size() - 1, wrapped = true;
    } else if (row-- == c.first) {
      --chunk;
    }
  }
  return result;
}

RowFinder::All RowFinder::FindAll(std::stop_token stop) const {
  All all;
  if (matcher_.Empty()) return all;
  std::size_t looked = 0;
  for (const ListRows::Chunk& c : rows_.chunks_) {
    for (std::size_t r = 0; r < c.rows->Size(); ++r, ++looked) {
      if (looked % kRowsBetweenStops == 0 && stop.stop_requested()) {
        all.stopped = true;
        return all;
      }
      if (Matches(*c.rows, r, c.first + r)) all.rows.push_back(c.first + r);
    }
  }
  return all;
}

std::size_t HitPlace(const std::vector<std::size_t>& hits, std::size_t row) {
  const auto it = std::lower_bound(hits.begin(), hits.end(), row);
  return it != hits.end() && *it == row ? static_cast<std::size_t>(it - hits.begin()) + 1 : 0;
}

}  // namespace marc
