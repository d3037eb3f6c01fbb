// Excel over OLE Automation: the spreadsheet backend of the Windows build. Where no Excel runs
// or can be started, WPS Office's spreadsheet (which answers to Excel's object model under its
// own ProgIDs) is taken instead.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "automation.h"

namespace tessaly {

// Where the application component looks for Excel when it connects.
enum class ExcelConnect {
  RunningOrNew,  // the Excel that is running, else a new one
  Running,       // the Excel that is running only
};

struct ExcelComOptions {
  ExcelConnect connect = ExcelConnect::RunningOrNew;
  // How long a call that the application rejects (busy with a dialog, an edit, a recalculation)
  // is retried before the export gives up on it.
  std::chrono::milliseconds busy_limit{10000};
  // Rows are gathered and written a block at a time: one Range.Value put of a two-dimensional
  // array per block. A block ends after block_rows rows, or once its texts hold block_bytes
  // (UTF-16); a row is never split, so a block holds at most one row more than that. 500 rows
  // keep every call into the fake Excel under wine within about half a second on a loaded
  // machine, at the throughput of larger blocks (excel_com_bench's sweep).
  int block_rows = 500;
  std::size_t block_bytes = std::size_t{2} << 20;
  // Every cell on its own, as when the application refuses arrays (benchmarks).
  bool cell_by_cell = false;
};

// Excel's limit on the text of one cell, in UTF-16 code units; longer texts are cut.
inline constexpr int kExcelCellLimit = 32767;
// The longest text an array put may carry into a cell: Excel 2003 (sheets of 65,536 rows)
// fails on longer elements, Excel 2007 on more than 8,203 characters. Longer cells are put one
// at a time after their block, as single puts have no such limit.
inline constexpr int kArrayElementLimitOld = 911;
inline constexpr int kArrayElementLimit = 8203;

// Talks to Excel late-bound, through IDispatch by member name (the range's Item by its published
// dispatch id), so neither Excel's headers nor its type library are needed to build or run.
// Error messages are UTF-8. Every call into the application is made on a thread of the
// backend's own, in a single-threaded apartment of its own, so that the caller's thread needs no
// apartment and a call that hangs can be given up (Abandon) without waiting for it.
std::unique_ptr<SpreadsheetApplication> MakeExcelComApplication(const ExcelComOptions& options);
inline std::unique_ptr<SpreadsheetApplication> MakeExcelComApplication(
    ExcelConnect connect = ExcelConnect::RunningOrNew) {
  ExcelComOptions options;
  options.connect = connect;
  return MakeExcelComApplication(options);
}

}  // namespace tessaly
