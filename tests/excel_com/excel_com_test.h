// What the Excel backend's tests share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "excel_com_win.h"
#include "fake_excel.h"

namespace tessaly::testing {

using Rows = std::vector<std::vector<std::string>>;

// The export's calls in its order (header row first), releasing however it ends.
inline void Export(SpreadsheetApplication& app, const Rows& rows) {
  struct Release {
    SpreadsheetApplication& app;
    ~Release() {
      app.DisconnectWorksheet();
      app.DisconnectWorkbook();
      app.DisconnectApplication();
    }
  };
  app.ConnectApplication();
  const Release release{app};
  app.AddWorkbook();
  app.AttachFirstWorksheet();
  app.SetVisible();
  app.SheetRows();
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      app.PutCell(static_cast<std::int32_t>(r + 1), static_cast<std::int32_t>(c + 1), rows[r][c]);
    }
  }
  app.Flush();
  app.SetVisible();
}

// Texts that Excel and WPS would take for something else if put into a General cell as they are.
inline const std::vector<std::string> kLookAlikes = {
    "0012", "2001.10", "3E04", "1-2", "=1+1", "'quoted", "TRUE", "9787111222223", "2001年10月"};

}  // namespace tessaly::testing
