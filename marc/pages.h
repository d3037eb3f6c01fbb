// Memory straight from the system, in whole pages, for the blocks of decoded rows: given back
// whole when a block goes (the heap would keep a read's worth of holes between reads), grown in
// place where the system can, and resident only where written. One implementation per platform,
// beside FileBytes.
#pragma once

#include <cstddef>

namespace marc {

class PageBuffer {
 public:
  PageBuffer() = default;
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;
  ~PageBuffer();

  char* Data() const { return data_; }
  std::size_t Capacity() const { return capacity_; }
  // Makes room for at least capacity bytes, keeping the first used ones. Throws std::bad_alloc.
  void Grow(std::size_t capacity, std::size_t used);
  // Puts the pages of the first bytes in place at once, where the system can: cheaper than a
  // fault a page, and only worth it for pages that will be written.
  void Populate(std::size_t bytes);
  // Gives back the pages past the first used bytes.
  void Trim(std::size_t used);

 private:
  char* data_ = nullptr;
  std::size_t capacity_ = 0;
};

// Gives the heap's free memory back to the system where the C library keeps it (the small
// allocations of a read that has gone would otherwise stay resident into the next one), and
// from then on has large blocks come from the system and go back to it when freed.
void ReturnFreeHeap();

}  // namespace marc
