// The export routine, written once over the automation interface; the backends do the rest.
#include "marc2excel.h"

#include <limits>

#include "platform.h"

namespace tessaly {

TMarc2ExcelFm::TMarc2ExcelFm()
    : description_(LoadModuleDescription(EmbeddedModuleDescription())),
      backend_(MakePlatformSpreadsheet(description_.Component("ExcelApplication1"))) {}

TMarc2ExcelFm::TMarc2ExcelFm(std::unique_ptr<SpreadsheetApplication> backend)
    : description_(LoadModuleDescription(EmbeddedModuleDescription())),
      backend_(std::move(backend)) {}

// Nothing is held between exports, so nothing here reaches the spreadsheet.
TMarc2ExcelFm::~TMarc2ExcelFm() = default;

namespace {

constexpr const char* kCancelled = "导出已取消";

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

std::int32_t SheetRow(std::int64_t row) {
  if (row > std::numeric_limits<std::int32_t>::max()) {
    throw AutomationError("列表的行数超出了工作表能容纳的行数");
  }
  return static_cast<std::int32_t>(row);
}

}  // namespace

void ExportListToExcel(TMarc2ExcelFm& module, const ExportSource& list, ExportUi& ui) {
  const std::int64_t rows = list.ItemCount();
  if (rows == 0) return;

  SpreadsheetApplication& app = module.Application();
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

  ui.Progress(0, rows);

  const int columns = list.ColumnCount();
  for (int c = 1; c <= columns; ++c) app.PutCell(1, c, list.ColumnCaption(c - 1));

  // The counts are read again on every pass, as the list reports them at that moment.
  for (std::int64_t r = 2;; ++r) {
    const std::int64_t count = list.ItemCount();
    if (r >= count + 2) break;
    if (ui.Cancelled()) throw ExportCancelled(kCancelled);
    const std::int64_t item = r - 2;
    const std::int32_t row = SheetRow(r);
    app.PutCell(row, 1, list.ItemCaption(item));
    const int n = list.ColumnCount();
    for (int c = 2; c <= n; ++c) app.PutCell(row, c, list.SubItem(item, c - 2));
    ui.Progress(item + 1, count);
  }

  app.Flush();
  app.SetVisible();
}

}  // namespace tessaly
