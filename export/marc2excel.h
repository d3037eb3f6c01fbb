// The export module: copies the list into a new workbook of a running spreadsheet application.
#pragma once

#include <memory>
#include <string>

#include "automation.h"
#include "exportsource.h"
#include "moduledesc.h"

namespace tessaly {

// What the export shows the user itself (the window implements it with a message box).
class ExportUi {
 public:
  virtual ~ExportUi() = default;
  // The spreadsheet cannot be reached: "NO excel ！", caption "错误", OK, no icon; reason says
  // why (the user's text, UTF-8 or the system's 8-bit encoding).
  virtual void ShowNoSpreadsheet(const std::string& reason) = 0;
  // Rows of the list written so far (the header not counted) of all its rows at that moment;
  // called on the export's thread once the worksheet is ready and after every row, so it also
  // tells a watchdog that the spreadsheet is answering.
  virtual void Progress(std::int64_t /*written*/, std::int64_t /*rows*/) {}
  // Asked before every row: true ends the export there, as a failure would, with
  // ExportCancelled.
  virtual bool Cancelled() const { return false; }
};

// The user cancelled the export or gave up waiting for the spreadsheet; not a fault to report.
class ExportCancelled : public AutomationError {
 public:
  using AutomationError::AutomationError;
};

// The non-visual module that holds the application, workbook and worksheet components.
class TMarc2ExcelFm {
 public:
  // Reads the module's built-in description and uses the platform's backend (LibreOffice Calc
  // on Linux, Excel on Windows) for the components it describes. No component connects yet.
  TMarc2ExcelFm();
  // Uses the given backend (tests, benchmarks).
  explicit TMarc2ExcelFm(std::unique_ptr<SpreadsheetApplication> backend);
  ~TMarc2ExcelFm();

  SpreadsheetApplication& Application() { return *backend_; }
  const ModuleDescription& Description() const { return description_; }

 private:
  ModuleDescription description_;
  std::unique_ptr<SpreadsheetApplication> backend_;
};

// Writes the list's header and rows into a new worksheet. Shows "NO excel ！" itself when the
// spreadsheet cannot be reached; any later failure is thrown after disconnecting everything. A
// cancel (ui.Cancelled(), then mostly Abandon on the backend) throws ExportCancelled instead,
// also when it came while connecting.
void ExportListToExcel(TMarc2ExcelFm& module, const ExportSource& list, ExportUi& ui);

}  // namespace tessaly
