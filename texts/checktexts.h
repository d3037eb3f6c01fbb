// The words of the checks' report and summary (UTF-8). The report's builder (marc/report.h) puts
// them in order; marcrows --check and the window show the same text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly::texts::check {

// "¥1,829.05": an amount in fen, exactly.
std::string Yuan(std::int64_t fen);
// "第 21 条" and "第 21 条 TEXT".
std::string Row(std::int64_t row);
std::string RowWith(std::int64_t row, std::string_view text);
// Joins rows of one list: "第 2、5、6 条".
std::string Rows(std::string_view numbers);
inline constexpr std::string_view kListSeparator = "、";
// After a list cut short: "……等 N 条".
std::string AndMore(std::int64_t more);

std::string Heading(std::int64_t rows);
std::string Duplicates(std::int64_t groups, std::int64_t rows);
// A duplicate group's first line: the book's ISBN-13.
std::string DuplicateGroup(std::string_view isbn13);
std::string WrongCheckDigits(std::int64_t rows);
// "第 k 条 TEXT（校验位应为 C）".
std::string WrongCheckDigit(std::int64_t row, std::string_view text, char right);
std::string NotIsbns(std::int64_t rows);

std::string Total(std::int64_t fen, std::int64_t rows, std::int64_t sets);
std::string SetPrices(std::int64_t rows);
std::string Gifts(std::int64_t rows, std::int64_t fen);
std::string UnreadablePrices(std::int64_t rows);
// "第 k 条 TEXT：¥25.00".
std::string PriceOfRow(std::int64_t row, std::string_view text, std::int64_t fen);

std::string Classes(std::int64_t rows);
// "TP311  2 条", with "（止于此级 1 条）" when some stop at a level that has further levels.
std::string ClassLevel(std::string_view label, std::int64_t rows, std::int64_t stop,
                       bool hasChildren);

inline constexpr std::string_view kMissing = "缺项：";
enum class Missing { Isbn, Price, ClassNumber, Title };
std::string MissingCount(Missing what, std::int64_t rows);
// The rows of a missing list whose record has no field for the cell at all.
std::string NoField(std::int64_t rows, std::string_view tag);

// The window's one-line summary: "重复 ISBN：1 组 2 条；码洋合计 ¥…（N 条计入，M 条赠书）；…".
struct SummaryCounts {
  std::int64_t duplicateGroups = 0, duplicateRows = 0;
  std::int64_t totalFen = 0, countedRows = 0, giftRows = 0;
  std::int64_t unreadablePrices = 0, wrongCheckDigits = 0, notIsbns = 0;
  std::int64_t noIsbn = 0, noPrice = 0, noClassNumber = 0, noTitle = 0;
};
std::string Summary(const SummaryCounts& counts);

}  // namespace tessaly::texts::check
