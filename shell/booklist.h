// The book list the window shows: the rows a read handed over (rows of a read's blocks, kept as
// they came), the encoding their bytes are in, how many of them the view has been told of, the
// titles the user corrected, and the list as the export reads it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "exportsource.h"
#include "reader.h"
#include "rowstore.h"

namespace tessaly {

class BookList {
 public:
  BookList();
  ~BookList();
  BookList(const BookList&) = delete;
  BookList& operator=(const BookList&) = delete;

  // Rows the view has been told of (the list may hold more until it is told).
  std::size_t RowCount() const { return shown_; }
  // A cell's text, UTF-8 (row < RowCount(), column < 13).
  std::string Cell(std::size_t row, std::size_t column) const;

  // Rows a read decoded, in encoding; they wait until ShowWaiting.
  void Append(std::shared_ptr<const marc::RowBlock> rows, marc::TextEncoding encoding);
  bool HasWaiting() const { return store_.Size() > shown_; }
  // The waiting rows become the view's: the index of the first, and how many.
  std::pair<std::size_t, std::size_t> ShowWaiting();
  void Clear();

  // The user's corrected title for a row (UTF-8), kept in the rows' encoding; false for a row
  // the view does not have.
  bool SetTitle(std::size_t row, const std::string& text);

  // The list as the export reads it: the rows shown, the cells in UTF-8.
  const ExportSource& ExportView() const;

 private:
  class ForExport;

  RowStore store_;
  marc::TextEncoding encoding_ = marc::TextEncoding::Gb18030;
  std::size_t shown_ = 0;
  std::unique_ptr<ForExport> exportView_;
};

}  // namespace tessaly
