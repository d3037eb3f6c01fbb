// LibreOffice Calc as the spreadsheet, reached over UNO. The UNO code lives in a module of its
// own (libtessaly_calc.so) that is loaded only when an export connects, so the program starts
// and runs on a machine without LibreOffice; there the export reports "NO excel ！".
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "automation.h"

namespace tessaly {

struct CalcOptions {
  // The office is reached on this UNO pipe (pipes are per user already).
  std::string pipe_name = "tessaly";
  // When nothing answers on the pipe: start soffice with --accept on it, or give up at once.
  bool start_office = true;
  // The soffice to start; empty means the one of the LibreOffice the module was built against.
  std::string soffice;
  // How long a started office may take before the pipe answers.
  std::chrono::milliseconds start_timeout{30'000};
  // Cells are gathered and written a block of rows at a time; a block never holds more rows.
  // 250 rows (3,250 cells) measured fastest: larger blocks cost the office more in fresh memory
  // than they save in calls.
  int block_rows = 250;
  // The document is loaded hidden and shown by SetVisible; while cells arrive Calc does not fit
  // the row heights (false: the plain way, for comparison in the benchmark).
  bool load_hidden = true;
  bool lock_document = true;
  // Above 0: the sheets are taken to hold no more rows than this, fewer than Calc's (tests).
  std::int32_t sheet_rows = 0;
};

// The module's entry point, looked up by name after loading it.
inline constexpr const char* kCalcModuleEntry = "tessaly_calc_create";
// Changes whenever CalcOptions or SpreadsheetApplication change shape, so that a stale module
// is refused rather than called with the wrong layout.
inline constexpr int kCalcModuleAbi = 3;
using CalcModuleEntry = SpreadsheetApplication* (*)(const CalcOptions& options, int abi);

// A backend that loads the module on the first connect. module_path empty: libtessaly_calc.so
// in the lib folder beside the program's bin folder. A module or office that cannot be loaded
// is a ConnectError.
std::unique_ptr<SpreadsheetApplication> MakeLibreOfficeCalc(CalcOptions options,
                                                            std::string module_path = {});

}  // namespace tessaly
