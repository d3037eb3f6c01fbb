// Placeholder until the export lands: reports the spreadsheet as unreachable.
#include "marc2excel.h"

namespace tessaly {

namespace {
class Unreachable : public SpreadsheetApplication {
 public:
  void ConnectApplication() override { throw ConnectError("no spreadsheet backend"); }
  void AddWorkbook() override {}
  void AttachFirstWorksheet() override {}
  void SetVisible() override {}
  void PutCell(std::int32_t, std::int32_t, std::string_view, marc::TextEncoding) override {}
  void DisconnectWorksheet() noexcept override {}
  void DisconnectWorkbook() noexcept override {}
  void DisconnectApplication() noexcept override {}
};
}  // namespace

TMarc2ExcelFm::TMarc2ExcelFm() : backend_(std::make_unique<Unreachable>()) {}
TMarc2ExcelFm::TMarc2ExcelFm(std::unique_ptr<SpreadsheetApplication> backend)
    : backend_(std::move(backend)) {}
TMarc2ExcelFm::~TMarc2ExcelFm() = default;

void ExportListToExcel(TMarc2ExcelFm&, const ExportSource& list, ExportUi& ui) {
  if (list.ItemCount() == 0) return;
  ui.ShowNoSpreadsheet();
}

}  // namespace tessaly
