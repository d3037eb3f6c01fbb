// Windows: the spreadsheet is Excel, reached over COM.
#include "excel_com_win.h"
#include "platform.h"

namespace tessaly {

std::unique_ptr<SpreadsheetApplication> MakePlatformSpreadsheet() {
  return MakeExcelComApplication(ExcelConnect::RunningOrNew);
}

}  // namespace tessaly
