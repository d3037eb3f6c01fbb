// The spreadsheet backend of the platform the program is built for. CMake picks the one file
// that defines it (Calc over UNO on Linux, Excel over COM on Windows).
#pragma once

#include <memory>

#include "automation.h"

namespace tessaly {

// The platform's backend. It takes the spreadsheet that is running, or starts one when none
// answers.
std::unique_ptr<SpreadsheetApplication> MakePlatformSpreadsheet();

}  // namespace tessaly
