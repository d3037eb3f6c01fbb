#include "booklist.h"

#include "charset.h"
#include "errors.h"
#include "usertexts.h"

namespace tessaly {

class BookList::ForExport final : public ExportSource {
 public:
  explicit ForExport(const BookList& list) : list_(list) {}
  int ColumnCount() const override { return static_cast<int>(marc::CellCount); }
  std::string ColumnCaption(int column) const override {
    return std::string(texts::kColumnCaptions.at(static_cast<std::size_t>(column)));
  }
  std::int64_t ItemCount() const override { return static_cast<std::int64_t>(list_.shown_); }
  std::string ItemCaption(std::int64_t item) const override {
    Check(item);
    return list_.Cell(static_cast<std::size_t>(item), marc::Title);
  }
  std::string SubItem(std::int64_t item, int index) const override {
    Check(item);
    if (index < 0 || index >= static_cast<int>(marc::CellCount) - 1) {
      throw marc::EStringListError(index);
    }
    return list_.Cell(static_cast<std::size_t>(item), static_cast<std::size_t>(index) + 1);
  }

 private:
  void Check(std::int64_t item) const {
    if (item < 0 || item >= ItemCount()) throw marc::EStringListError(item);
  }
  const BookList& list_;
};

BookList::BookList() : exportView_(std::make_unique<ForExport>(*this)) {}
BookList::~BookList() = default;

const ExportSource& BookList::ExportView() const { return *exportView_; }

std::string BookList::Cell(std::size_t row, std::size_t column) const {
  return marc::DecodeToUtf8(store_.Cell(row, column), encoding_);
}

void BookList::Append(std::shared_ptr<const marc::RowBlock> rows, marc::TextEncoding encoding) {
  store_.Append(std::move(rows));
  encoding_ = encoding;
}

std::pair<std::size_t, std::size_t> BookList::ShowWaiting() {
  const std::size_t first = shown_;
  shown_ = store_.Size();
  return {first, shown_ - first};
}

void BookList::Clear() {
  store_.Clear();
  shown_ = 0;
}

bool BookList::SetTitle(std::size_t row, const std::string& text) {
  if (row >= shown_) return false;
  store_.SetCell(row, marc::Title,
                 marc::EncodeUtf16(marc::DecodeToUtf16(text, marc::TextEncoding::Utf8), encoding_));
  return true;
}

}  // namespace tessaly
