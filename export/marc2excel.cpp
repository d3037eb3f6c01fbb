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
    throw AutomationError("The list has more rows than a worksheet can address");
  }
  return static_cast<std::int32_t>(row);
}

}  // namespace

void ExportListToExcel(TMarc2ExcelFm& module, const ExportSource& list, ExportUi& ui) {
  if (list.ItemCount() == 0) return;

  SpreadsheetApplication& app = module.Application();
  try {
    // Whatever an earlier export left behind is dropped, so each export starts from nothing.
    app.DisconnectApplication();
    app.ConnectApplication();
  } catch (...) {
    ui.ShowNoSpreadsheet();
    return;
  }

  const ReleaseComponents release(app);
  app.AddWorkbook();
  app.AttachFirstWorksheet();
  app.SetVisible();

  const int columns = list.ColumnCount();
  for (int c = 1; c <= columns; ++c) app.PutCell(1, c, list.ColumnCaption(c - 1));

  // The counts are read again on every pass, as the list reports them at that moment.
  for (std::int64_t r = 2; r < list.ItemCount() + 2; ++r) {
    const std::int64_t item = r - 2;
    const std::int32_t row = SheetRow(r);
    app.PutCell(row, 1, list.ItemCaption(item));
    const int n = list.ColumnCount();
    for (int c = 2; c <= n; ++c) app.PutCell(row, c, list.SubItem(item, c - 2));
  }

  app.Flush();
  app.SetVisible();
}

}  // namespace tessaly
