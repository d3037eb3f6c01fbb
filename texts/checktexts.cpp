#include "checktexts.h"

#include <initializer_list>

namespace tessaly::texts::check {

namespace {

std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out += p;
  return out;
}

std::string N(std::int64_t n) { return std::to_string(n); }

}  // namespace

std::string Yuan(std::int64_t fen) {
  const bool negative = fen < 0;
  const std::uint64_t v =
      negative ? 0 - static_cast<std::uint64_t>(fen) : static_cast<std::uint64_t>(fen);
  const std::string digits = std::to_string(v / 100);
  const auto cents = static_cast<int>(v % 100);
  std::string out = negative ? "-¥" : "¥";
  // Thousands set apart: "1,092.05".
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  out += '.';
  out += static_cast<char>('0' + cents / 10);
  out += static_cast<char>('0' + cents % 10);
  return out;
}

std::string Row(std::int64_t row) { return Cat({"第 ", N(row), " 条"}); }
std::string RowWith(std::int64_t row, std::string_view text) {
  return Cat({"第 ", N(row), " 条 ", text});
}
std::string Rows(std::string_view numbers) { return Cat({"第 ", numbers, " 条"}); }
std::string AndMore(std::int64_t more) { return Cat({"……等 ", N(more), " 条"}); }

std::string Heading(std::int64_t rows) { return Cat({"检查报告：", N(rows), " 条记录"}); }
std::string Duplicates(std::int64_t groups, std::int64_t rows) {
  return Cat({"重复 ISBN：", N(groups), " 组 ", N(rows), " 条"});
}
std::string DuplicateGroup(std::string_view isbn13) { return Cat({"ISBN ", isbn13, "："}); }
std::string WrongCheckDigits(std::int64_t rows) {
  return Cat({"校验位错误的 ISBN：", N(rows), " 条"});
}
std::string WrongCheckDigit(std::int64_t row, std::string_view text, char right) {
  return Cat({RowWith(row, text), "（校验位应为 ", std::string_view(&right, 1), "）"});
}
std::string NotIsbns(std::int64_t rows) { return Cat({"不是 ISBN 的文字：", N(rows), " 条"}); }

std::string Total(std::int64_t fen, std::int64_t rows, std::int64_t sets) {
  std::string out = Cat({"码洋合计：", Yuan(fen), "（", N(rows), " 条计入"});
  if (sets > 0) out += Cat({"，其中套价 ", N(sets), " 条，按一套计"});
  return out + "）";
}
std::string SetPrices(std::int64_t rows) { return Cat({"套价：", N(rows), " 条"}); }
std::string Gifts(std::int64_t rows, std::int64_t fen) {
  return Cat({"赠书：", N(rows), " 条，", Yuan(fen), "，不计入合计"});
}
std::string UnreadablePrices(std::int64_t rows) {
  return Cat({"无法识别的价格：", N(rows), " 条，不计入合计"});
}
std::string PriceOfRow(std::int64_t row, std::string_view text, std::int64_t fen) {
  return Cat({RowWith(row, text), "：", Yuan(fen)});
}

std::string Classes(std::int64_t rows) { return Cat({"分类统计：", N(rows), " 条有分类号"}); }
std::string ClassLevel(std::string_view label, std::int64_t rows, std::int64_t stop,
                       bool hasChildren) {
  std::string out = Cat({label, "  ", N(rows), " 条"});
  if (hasChildren && stop > 0) out += Cat({"（止于此级 ", N(stop), " 条）"});
  return out;
}

std::string MissingCount(Missing what, std::int64_t rows) {
  std::string_view name;
  switch (what) {
    case Missing::Isbn:
      name = "无 ISBN";
      break;
    case Missing::Price:
      name = "无价格";
      break;
    case Missing::ClassNumber:
      name = "无分类号";
      break;
    case Missing::Title:
      name = "无题名";
      break;
  }
  return Cat({name, "：", N(rows), " 条"});
}
std::string NoField(std::int64_t rows, std::string_view tag) {
  return Cat({"其中 ", N(rows), " 条没有 ", tag, " 字段"});
}

std::string Summary(const SummaryCounts& c) {
  std::string out =
      Cat({Duplicates(c.duplicateGroups, c.duplicateRows), "；码洋合计 ", Yuan(c.totalFen), "（",
           N(c.countedRows), " 条计入，", N(c.giftRows), " 条赠书）"});
  auto part = [&](std::string_view name, std::int64_t n) {
    if (n > 0) out += Cat({"；", name, " ", N(n), " 条"});
  };
  part("价格无法识别", c.unreadablePrices);
  part("校验位错误", c.wrongCheckDigits);
  part("不是 ISBN", c.notIsbns);
  part("无 ISBN", c.noIsbn);
  part("无价格", c.noPrice);
  part("无分类号", c.noClassNumber);
  part("无题名", c.noTitle);
  return out;
}

}  // namespace tessaly::texts::check
