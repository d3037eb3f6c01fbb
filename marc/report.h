// The checks' findings as the user reads them (UTF-8): the report that marcrows --check prints
// and the window shows and saves, one finding a line for machines, and the window's one-line
// summary. The words come from texts/.
#pragma once

#include <cstddef>
#include <string>

#include "checks.h"

namespace marc {

struct ReportOptions {
  // At most this many rows named in each list (the rest counted); 0: every row.
  std::size_t listLimit = 0;
};

// The report: duplicates, check digits, texts that are no ISBN, the price total with its set
// prices, gifts and unreadable prices, the class counts level by level, what is missing.
std::string CheckReportText(const CheckFindings& findings, const ReportOptions& options = {});

// One finding a line, its fields separated by TAB (a TAB, CR, LF or backslash inside a text
// written \t, \r, \n, \\; amounts in yuan with two decimals):
//   rows  N
//   duplicate  ISBN-13  ROW  ISBN-AS-WRITTEN
//   check-digit  ROW  ISBN-AS-WRITTEN  RIGHT-DIGIT
//   not-isbn  ROW  TEXT
//   total  AMOUNT  ROWS-COUNTED
//   set-price | gift  ROW  PRICE-AS-WRITTEN  AMOUNT
//   unreadable-price  ROW  PRICE-AS-WRITTEN
//   class  LEVEL  DEPTH  ROWS  ROWS-STOPPING-THERE
//   missing-isbn | missing-price | missing-class | missing-title  ROW  no-field|empty
std::string CheckReportTsv(const CheckFindings& findings);

// "重复 ISBN：1 组 2 条；码洋合计 ¥…（N 条计入，M 条赠书）；…" for the window's box.
std::string CheckSummary(const CheckFindings& findings);

}  // namespace marc
