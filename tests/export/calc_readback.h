// Reading an office's documents back over a UNO connection of the test's own, to check what an
// export wrote.
#pragma once

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <string>
#include <vector>

namespace tessaly::testing {

using Doc = com::sun::star::uno::Reference<com::sun::star::sheet::XSpreadsheetDocument>;

// The office's desktop, once it answers on the pipe (waits up to two minutes).
com::sun::star::uno::Reference<com::sun::star::frame::XDesktop2> Connect(const std::string& pipe);

// The office's spreadsheet documents, in its order.
std::vector<Doc> CalcDocuments(
    const com::sun::star::uno::Reference<com::sun::star::frame::XDesktop2>& desktop);
// Those of after that are not in before.
std::vector<Doc> Added(const std::vector<Doc>& before, const std::vector<Doc>& after);

struct Cell {
  std::string text;      // UTF-8
  bool is_text = false;  // a string in the sheet, not a number
};
using Grid = std::vector<std::vector<Cell>>;

// The first sheet, or the one of that index.
com::sun::star::uno::Reference<com::sun::star::sheet::XSpreadsheet> FirstSheet(const Doc& doc,
                                                                               int index = 0);
int SheetCount(const Doc& doc);
// Every cell from A1 to the end of the used area of the first sheet, or of the one of that index.
Grid ReadFirstSheet(const Doc& doc, int index = 0);

}  // namespace tessaly::testing
