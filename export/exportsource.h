// What the export reads back from the list: its columns and items, as the list holds them.
#pragma once

#include <cstdint>
#include <string>

namespace tessaly {

class ExportSource {
 public:
  virtual ~ExportSource() = default;
  // Every text below is UTF-8, column captions included, whatever the record file's encoding.
  // The export may read from a thread of its own; the list holds still while it runs.
  virtual int ColumnCount() const = 0;
  virtual std::string ColumnCaption(int column) const = 0;
  virtual std::int64_t ItemCount() const = 0;
  virtual std::string ItemCaption(std::int64_t item) const = 0;
  // The item's sub-item at 0-based index; throws marc::EStringListError(index) when the item
  // has fewer sub-items.
  virtual std::string SubItem(std::int64_t item, int index) const = 0;
};

}  // namespace tessaly
