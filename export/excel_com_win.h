// Excel over OLE Automation: the spreadsheet backend of the Windows build. Where no Excel runs
// or can be started, WPS Office's spreadsheet (which answers to Excel's object model under its
// own ProgIDs) is taken instead.
#pragma once

#include <chrono>
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
};

// Excel's limit on the text of one cell, in UTF-16 code units; longer texts are cut.
inline constexpr int kExcelCellLimit = 32767;

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
