// Platforms with no spreadsheet backend: every export reports "NO excel ！".
#include "platform.h"
#include "usertexts.h"

namespace tessaly {

namespace {
class NoSpreadsheet final : public SpreadsheetApplication {
 public:
  void ConnectApplication() override { throw ConnectError(std::string(texts::kNoBackend)); }
  void AddWorkbook() override {}
  void AttachFirstWorksheet() override {}
  void SetVisible() override {}
  std::int64_t SheetRows() override { return 0; }
  void AddWorksheet() override {}
  void PutCell(std::int32_t, std::int32_t, std::string_view) override {}
  void DisconnectWorksheet() noexcept override {}
  void DisconnectWorkbook() noexcept override {}
  void DisconnectApplication() noexcept override {}
};
}  // namespace

std::unique_ptr<SpreadsheetApplication> MakePlatformSpreadsheet() {
  return std::make_unique<NoSpreadsheet>();
}

}  // namespace tessaly
