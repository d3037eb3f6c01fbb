// Excel over OLE Automation: the spreadsheet backend of the Windows build.
#pragma once

#include <memory>

#include "automation.h"

namespace tessaly {

// Where the application component looks for Excel when it connects.
enum class ExcelConnect {
  RunningOrNew,  // the Excel that is running, else a new one
  Running,       // the Excel that is running only
};

// Talks to Excel late-bound, through IDispatch by member name (the range's Item by its published
// dispatch id), so neither Excel's headers nor its type library are needed to build or run.
// Error messages are UTF-8. Use it on one thread; while connected, that thread is in a
// single-threaded COM apartment (entered here unless the thread already is in one).
std::unique_ptr<SpreadsheetApplication> MakeExcelComApplication(
    ExcelConnect connect = ExcelConnect::RunningOrNew);

}  // namespace tessaly
