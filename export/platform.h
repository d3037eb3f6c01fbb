// The spreadsheet backend of the platform the program is built for. CMake picks the one file
// that defines it (Calc over UNO on Linux, Excel over COM on Windows).
#pragma once

#include <memory>

#include "automation.h"
#include "moduledesc.h"

namespace tessaly {

// A backend for the application component as described (its ConnectKind above all).
std::unique_ptr<SpreadsheetApplication> MakePlatformSpreadsheet(
    const ComponentDescription& application);

}  // namespace tessaly
