// The book list the window shows: the rows a read handed over (rows of a read's blocks, kept as
// they came), the encoding their bytes are in, how many of them the view has been told of, the
// titles the user corrected, and the list as the export reads it.
#pragma once

#include <cstddef>
#include <cstdint>
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

  // The rows' encoding, and a number that changes whenever the rows or a cell change (a search's
  // or a check's result is for the list as it stood).
  marc::TextEncoding Encoding() const { return encoding_; }
  std::uint64_t Version() const { return version_; }
  // The rows for a search or the checks off the GUI thread (they may hold rows not yet shown).
  marc::ListRows Snapshot() const { return store_.Snapshot(); }
  std::vector<std::shared_ptr<const marc::RowBlock>> Blocks() const { return store_.Blocks(); }

  // The list as the export reads it: the rows shown, the cells in UTF-8.
  const ExportSource& ExportView() const;

 private:
  class ForExport;

  RowStore store_;
  marc::TextEncoding encoding_ = marc::TextEncoding::Gb18030;
  std::size_t shown_ = 0;
  std::uint64_t version_ = 0;
  std::unique_ptr<ForExport> exportView_;
};

}  // namespace tessaly
