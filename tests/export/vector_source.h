// An in-memory list for the export: the columns and items in UTF-8, as the main window hands
// them over.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "errors.h"
#include "exportsource.h"

namespace tessaly::testing {

struct ListItem {
  std::string caption;
  std::vector<std::string> sub_items;
};

class VectorSource : public ExportSource {
 public:
  VectorSource(std::vector<std::string> captions, std::vector<ListItem> items)
      : captions_(std::move(captions)), items_(std::move(items)) {}

  // Called with the item's index each time the export reads an item's caption.
  std::function<void(std::int64_t)> on_item_caption;

  int ColumnCount() const override { return static_cast<int>(captions_.size()); }
  std::string ColumnCaption(int column) const override {
    return captions_.at(static_cast<std::size_t>(column));
  }
  std::int64_t RowCount() const override { return static_cast<std::int64_t>(items_.size()); }
  // Column 0 is the item's caption, column c its sub-item c - 1.
  std::string Cell(std::int64_t row, int column) const override {
    const ListItem& item = items_.at(static_cast<std::size_t>(row));
    if (column == 0) {
      if (on_item_caption) on_item_caption(row);
      return item.caption;
    }
    const int index = column - 1;
    if (index < 0 || static_cast<std::size_t>(index) >= item.sub_items.size()) {
      throw marc::EStringListError(index);
    }
    return item.sub_items[static_cast<std::size_t>(index)];
  }

  std::vector<std::string>& Captions() { return captions_; }
  std::vector<ListItem>& Items() { return items_; }

 private:
  std::vector<std::string> captions_;
  std::vector<ListItem> items_;
};

}  // namespace tessaly::testing
