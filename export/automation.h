// The small automation interface the export is written over, one implementation per
// spreadsheet backend (a recording fake for tests, LibreOffice Calc over UNO, Excel over COM).
// A backend turns its native errors into the user's messages inside its own file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "errors.h"
#include "text.h"

namespace tessaly {

// The spreadsheet application cannot be reached: the export shows "NO excel ！".
class ConnectError : public marc::Exception {
 public:
  using marc::Exception::Exception;
};

// A call into the spreadsheet failed after connecting; the message is the user's text.
class AutomationError : public marc::Exception {
 public:
  using marc::Exception::Exception;
};

// The three server components of the export module and the calls the export makes on them.
class SpreadsheetApplication {
 public:
  virtual ~SpreadsheetApplication() = default;

  // Application component: attach to a running application or start one (nothing when already
  // connected). Throws ConnectError when none can be reached.
  virtual void ConnectApplication() = 0;
  // Adds a new workbook and attaches the workbook component to it.
  virtual void AddWorkbook() = 0;
  // Takes the new workbook's first worksheet and attaches the worksheet component to it.
  virtual void AttachFirstWorksheet() = 0;
  // Makes the application's window visible.
  virtual void SetVisible() = 0;
  // How many rows the attached worksheet has (Excel 2003: 65,536; Calc and later Excel:
  // 1,048,576), so that a longer list can go on in another worksheet.
  virtual std::int64_t SheetRows() = 0;
  // Adds a worksheet after the workbook's last one and attaches the worksheet component to it.
  // Cells gathered for the worksheet before are written there first.
  virtual void AddWorksheet() = 0;
  // Writes one text cell (row and column from 1); text is UTF-8. A backend may gather cells
  // and write them in blocks, as long as Flush (and the disconnects) write them.
  virtual void PutCell(std::int32_t row, std::int32_t column, std::string_view utf8) = 0;
  virtual void Flush() {}
  // Called from another thread when the user gives up on an application that does not answer,
  // or cancels: a call blocked in the backend returns soon with an AutomationError, and every
  // later call fails at once until DisconnectApplication. Must not throw.
  virtual void Abandon() noexcept {}
  // How many cells the backend had to cut to fit the application's cell limit in this export.
  virtual std::int64_t CellsCut() const { return 0; }
  // Each releases what its component holds; nothing when it holds nothing. Never asks the
  // application to quit. Must not throw.
  virtual void DisconnectWorksheet() noexcept = 0;
  virtual void DisconnectWorkbook() noexcept = 0;
  virtual void DisconnectApplication() noexcept = 0;
};

}  // namespace tessaly
