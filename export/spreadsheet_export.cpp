// The export routine, written once over the automation interface; the backends do the rest.
#include "spreadsheet_export.h"

#include <algorithm>
#include <limits>

#include "platform.h"
#include "usertexts.h"

namespace tessaly {

SpreadsheetExport::SpreadsheetExport() : backend_(MakePlatformSpreadsheet()) {}

SpreadsheetExport::SpreadsheetExport(std::unique_ptr<SpreadsheetApplication> backend)
    : backend_(std::move(backend)) {}

// Nothing is held between exports, so nothing here reaches the spreadsheet.
SpreadsheetExport::~SpreadsheetExport() = default;

namespace {

constexpr const char* kCancelled = texts::kExportCancelled;
constexpr const char* kNoRoom = texts::kSheetHoldsNoRow;

// Rows and columns are passed to the spreadsheet as 32-bit integers.
constexpr std::int64_t kMaxRow = std::numeric_limits<std::int32_t>::max();

// Releases the components, worksheet first, however the export ends.
class ReleaseComponents {
 public:
  explicit ReleaseComponents(SpreadsheetApplication& app) : app_(app) {}
  ReleaseComponents(const ReleaseComponents&) = delete;
  ReleaseComponents& operator=(const ReleaseComponents&) = delete;
  ~ReleaseComponents() {
    app_.DisconnectWorksheet();
    app_.DisconnectWorkbook();
    app_.DisconnectApplication();
  }

 private:
  SpreadsheetApplication& app_;
};

// The rows of the attached worksheet: its caption row and at least one for the list.
std::int32_t AskSheetRows(SpreadsheetApplication& app) {
  const std::int64_t rows = app.SheetRows();
  if (rows < 2) throw AutomationError(kNoRoom);
  return static_cast<std::int32_t>(std::min<std::int64_t>(rows, kMaxRow));
}

void WriteCaptions(SpreadsheetApplication& app, const ExportSource& list) {
  const int columns = list.ColumnCount();
  for (int c = 1; c <= columns; ++c) app.PutCell(1, c, list.ColumnCaption(c - 1));
}

}  // namespace

void ExportList(SpreadsheetExport& to, const ExportSource& list, ExportUi& ui) {
  const std::int64_t rows = list.RowCount();
  if (rows == 0) return;

  SpreadsheetApplication& app = to.Application();
  try {
    // Whatever an earlier export left behind is dropped, so each export starts from nothing.
    app.DisconnectApplication();
    app.ConnectApplication();
  } catch (const marc::Exception& e) {
    // The spreadsheet's own failure to connect (ConnectError, or an error it raised on the way).
    // A connection the user gave up on is no missing spreadsheet.
    if (ui.Cancelled()) {
      app.DisconnectApplication();
      throw ExportCancelled(kCancelled);
    }
    ui.ShowNoSpreadsheet(e.what());
    return;
  } catch (...) {
    // Out of memory, a programming error, a call given up on: not a missing spreadsheet.
    app.DisconnectApplication();
    if (ui.Cancelled()) throw ExportCancelled(kCancelled);
    throw;
  }

  const ReleaseComponents release(app);
  app.AddWorkbook();
  app.AttachFirstWorksheet();
  app.SetVisible();

  // Asked of the sheet, not assumed: Excel 2003's hold 65,536 rows, later ones 1,048,576.
  std::int32_t sheet_rows = AskSheetRows(app);

  ui.Progress(0, rows);
  WriteCaptions(app, list);

  // The counts are read again on every pass, as the list reports them at that moment. A list
  // longer than a worksheet goes on in a new one after the last, under the captions again.
  std::int64_t row = 2;
  for (std::int64_t item = 0;; ++item) {
    const std::int64_t count = list.RowCount();
    if (item >= count) break;
    if (ui.Cancelled()) throw ExportCancelled(kCancelled);
    if (row > sheet_rows) {
      app.AddWorksheet();
      sheet_rows = AskSheetRows(app);
      WriteCaptions(app, list);
      row = 2;
    }
    const auto r = static_cast<std::int32_t>(row);
    const int n = list.ColumnCount();
    for (int c = 1; c <= n; ++c) app.PutCell(r, c, list.Cell(item, c - 1));
    ui.Progress(item + 1, count);
    ++row;
  }

  app.Flush();
  app.SetVisible();
}

}  // namespace tessaly
