// Windows: the spreadsheet is Excel, reached over COM.
#include "excel_com_win.h"
#include "platform.h"

namespace tessaly {

std::unique_ptr<SpreadsheetApplication> MakePlatformSpreadsheet(
    const ComponentDescription& application) {
  return MakeExcelComApplication(application.connect_kind == ConnectKind::Running
                                     ? ExcelConnect::Running
                                     : ExcelConnect::RunningOrNew);
}

}  // namespace tessaly
