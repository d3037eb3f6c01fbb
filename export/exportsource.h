// What the export reads back from the list: its columns, its rows and their cells.
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
  virtual std::int64_t RowCount() const = 0;
  // The cell of the row (from 0) in the column (from 0); throws marc::EStringListError naming
  // the column's index after the first (as the list's sub-items count) when the row has no
  // such cell.
  virtual std::string Cell(std::int64_t row, int column) const = 0;
};

}  // namespace tessaly
