// Rows of UTF-8 text written into an .xlsx workbook with libxlsxwriter in constant-memory mode:
// each row goes to disk as it is added, so a million rows take no more memory than one.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

class XlsxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct XlsxLimits {
  // Rows on one sheet, the caption row included (a worksheet's own limit).
  std::int64_t sheet_rows = 1048576;
  // Characters in one cell, counted as the spreadsheet does, in UTF-16 code units.
  std::size_t cell_units = 32767;
};

struct XlsxOptions {
  XlsxLimits limits;
  // ZIP64 lets a workbook or one of its sheets pass 4 GB; some Excel versions then warn on
  // opening, so it is only asked for when the rows may be that large.
  bool zip64 = false;
};

// The workbook is built under a temporary name in the target's folder and takes the target's
// name only in Finish, so a write that fails or never ends leaves no half workbook there.
// Every sheet starts with the captions; every cell is written as text, never as a number.
class XlsxOut {
 public:
  // Throws XlsxError when the temporary file cannot be created.
  XlsxOut(std::string path, std::vector<std::string> captions, XlsxOptions options = {});
  // Without a successful Finish the temporary file is removed.
  ~XlsxOut();
  XlsxOut(const XlsxOut&) = delete;
  XlsxOut& operator=(const XlsxOut&) = delete;

  // cells: well-formed UTF-8. Empty cells stay blank. Starts a new sheet when this one is full.
  void AppendRow(std::span<const std::string> cells);
  // Closes the workbook and renames it to the target path, replacing what was there.
  void Finish();

  std::int64_t Rows() const { return rows_; }
  int Sheets() const { return sheets_; }
  // Cells cut to the cell limit.
  std::int64_t CutCells() const { return cut_cells_; }

 private:
  struct Book;
  void NewSheet();
  void WriteCell(std::int64_t row, std::size_t column, std::string_view text);

  std::string path_;
  std::string temp_path_;
  std::vector<std::string> captions_;
  XlsxOptions options_;
  std::unique_ptr<Book> book_;
  std::int64_t rows_ = 0;
  std::int64_t sheet_row_ = 0;  // next row on the current sheet, 0-based
  int sheets_ = 0;
  std::int64_t cut_cells_ = 0;
  std::string cell_;  // NUL-terminated copy handed to the library
  bool finished_ = false;
};

}  // namespace tessaly
