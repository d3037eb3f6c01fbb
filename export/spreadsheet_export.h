// The export: copies the list into a new workbook of a running spreadsheet application.
#pragma once

#include <memory>
#include <string>

#include "automation.h"
#include "exportsource.h"

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

// What the exports of a program's life share: the spreadsheet backend with its application,
// workbook and worksheet components, which hold references only while an export runs.
class SpreadsheetExport {
 public:
  // The platform's backend: LibreOffice Calc on Linux, Excel (or WPS) on Windows, taking the
  // one that runs or starting one. Nothing connects yet.
  SpreadsheetExport();
  // Uses the given backend (tests, benchmarks).
  explicit SpreadsheetExport(std::unique_ptr<SpreadsheetApplication> backend);
  ~SpreadsheetExport();

  SpreadsheetApplication& Application() { return *backend_; }

 private:
  std::unique_ptr<SpreadsheetApplication> backend_;
};

// Writes the list's header and rows into a new worksheet; a list longer than a worksheet goes on
// in worksheets added after it, each under the captions again. Shows "NO excel ！" itself when the
// spreadsheet cannot be reached; any later failure is thrown after disconnecting everything. A
// cancel (ui.Cancelled(), then mostly Abandon on the backend) throws ExportCancelled instead,
// also when it came while connecting.
void ExportList(SpreadsheetExport& to, const ExportSource& list, ExportUi& ui);

}  // namespace tessaly
