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
  std::int64_t ItemCount() const override { return static_cast<std::int64_t>(items_.size()); }
  std::string ItemCaption(std::int64_t item) const override {
    if (on_item_caption) on_item_caption(item);
    return items_.at(static_cast<std::size_t>(item)).caption;
  }
  std::string SubItem(std::int64_t item, int index) const override {
    const auto& subs = items_.at(static_cast<std::size_t>(item)).sub_items;
    if (index < 0 || static_cast<std::size_t>(index) >= subs.size()) {
      throw marc::EStringListError(index);
    }
    return subs[static_cast<std::size_t>(index)];
  }

  std::vector<std::string>& Captions() { return captions_; }
  std::vector<ListItem>& Items() { return items_; }

 private:
  std::vector<std::string> captions_;
  std::vector<ListItem> items_;
};

}  // namespace tessaly::testing
