#include "report.h"

#include <cstdio>

#include "checktexts.h"

namespace marc {

namespace words = tessaly::texts::check;

namespace {

constexpr std::string_view kIndent = "  ";

void Line(std::string& out, int depth, std::string_view text) {
  for (int i = 0; i < depth; ++i) out += kIndent;
  out += text;
  out += '\n';
}

// Lines of entries, each shown by show, at most limit of them (0: all), the rest counted.
template <class Entries, class Show>
void List(std::string& out, int depth, const Entries& entries, std::size_t limit, Show show) {
  std::size_t shown = 0;
  for (const auto& entry : entries) {
    if (limit && shown == limit) {
      Line(out, depth, words::AndMore(static_cast<std::int64_t>(entries.size() - shown)));
      return;
    }
    Line(out, depth, show(entry));
    ++shown;
  }
}

void Classes(std::string& out, int depth, const ClassCount& level) {
  for (const ClassCount& child : level.children) {
    Line(out, depth,
         words::ClassLevel(child.label, child.rows, child.stop, !child.children.empty()));
    Classes(out, depth + 1, child);
  }
}

void Missing(std::string& out, words::Missing what, std::string_view tag,
             const std::vector<MissingEntry>& rows, std::size_t limit) {
  Line(out, 1, words::MissingCount(what, static_cast<std::int64_t>(rows.size())));
  if (rows.empty()) return;
  // Row numbers ten to a line.
  constexpr std::size_t kPerLine = 10;
  const std::size_t shown = limit ? std::min(limit, rows.size()) : rows.size();
  for (std::size_t i = 0; i < shown; i += kPerLine) {
    std::string numbers;
    for (std::size_t k = i; k < std::min(shown, i + kPerLine); ++k) {
      if (k > i) numbers += words::kListSeparator;
      numbers += std::to_string(rows[k].row);
    }
    Line(out, 2, words::Rows(numbers));
  }
  if (shown < rows.size())
    Line(out, 2, words::AndMore(static_cast<std::int64_t>(rows.size() - shown)));
  std::int64_t noField = 0;
  for (const MissingEntry& entry : rows) noField += entry.noField;
  if (noField > 0) Line(out, 2, words::NoField(noField, tag));
}

// A field of a TSV line, after its TAB.
void Field(std::string& out, std::string_view text) {
  out += '\t';
  AppendTsvField(out, text);
}

// An amount in yuan with two decimals, no currency sign and no separators.
std::string Amount(std::int64_t fen) {
  const std::uint64_t v =
      fen < 0 ? 0 - static_cast<std::uint64_t>(fen) : static_cast<std::uint64_t>(fen);
  char text[32];
  std::snprintf(text, sizeof text, "%s%llu.%02llu", fen < 0 ? "-" : "",
                static_cast<unsigned long long>(v / 100), static_cast<unsigned long long>(v % 100));
  return text;
}

void TsvClasses(std::string& out, int depth, const ClassCount& level) {
  for (const ClassCount& child : level.children) {
    out += "class";
    Field(out, child.label);
    Field(out, std::to_string(depth));
    Field(out, std::to_string(child.rows));
    Field(out, std::to_string(child.stop));
    out += '\n';
    TsvClasses(out, depth + 1, child);
  }
}

}  // namespace

std::string CheckReportText(const CheckFindings& f, const ReportOptions& options) {
  const std::size_t limit = options.listLimit;
  std::string out;
  Line(out, 0, words::Heading(f.rows));
  out += '\n';

  Line(out, 0,
       words::Duplicates(static_cast<std::int64_t>(f.duplicates.size()), f.DuplicateRows()));
  List(out, 1, f.duplicates, limit, [&](const CheckFindings::Duplicates& group) {
    std::string text = words::DuplicateGroup(Isbn13OfKey(group.key));
    for (std::size_t i = 0; i < group.rows.size(); ++i) {
      if (i) text += words::kListSeparator;
      text += words::RowWith(group.rows[i].row, group.rows[i].text);
    }
    return text;
  });
  Line(out, 0, words::WrongCheckDigits(static_cast<std::int64_t>(f.wrongCheckDigits.size())));
  List(out, 1, f.wrongCheckDigits, limit, [](const RowText& r) {
    return words::WrongCheckDigit(r.row, r.text,
                                  RightCheckDigit(ReadIsbn(r.text, TextEncoding::Utf8)));
  });
  Line(out, 0, words::NotIsbns(static_cast<std::int64_t>(f.notIsbns.size())));
  List(out, 1, f.notIsbns, limit, [](const RowText& r) { return words::RowWith(r.row, r.text); });
  out += '\n';

  auto price = [](const PriceEntry& p) { return words::PriceOfRow(p.row, p.text, p.fen); };
  Line(out, 0, words::Total(f.totalFen, f.countedRows, static_cast<std::int64_t>(f.sets.size())));
  if (!f.sets.empty()) {
    Line(out, 1, words::SetPrices(static_cast<std::int64_t>(f.sets.size())));
    List(out, 2, f.sets, limit, price);
  }
  Line(out, 0, words::Gifts(static_cast<std::int64_t>(f.gifts.size()), f.giftFen));
  List(out, 1, f.gifts, limit, price);
  Line(out, 0, words::UnreadablePrices(static_cast<std::int64_t>(f.unreadablePrices.size())));
  List(out, 1, f.unreadablePrices, limit,
       [](const PriceEntry& p) { return words::RowWith(p.row, p.text); });
  out += '\n';

  Line(out, 0, words::Classes(f.classes.rows));
  Classes(out, 1, f.classes);
  out += '\n';

  Line(out, 0, words::kMissing);
  Missing(out, words::Missing::Isbn, "010", f.noIsbn, limit);
  Missing(out, words::Missing::Price, "010", f.noPrice, limit);
  Missing(out, words::Missing::ClassNumber, "690", f.noClassNumber, limit);
  Missing(out, words::Missing::Title, "200", f.noTitle, limit);
  return out;
}

std::string CheckReportTsv(const CheckFindings& f) {
  std::string out = "rows";
  Field(out, std::to_string(f.rows));
  out += '\n';
  for (const auto& group : f.duplicates) {
    const std::string isbn13 = Isbn13OfKey(group.key);
    for (const RowText& r : group.rows) {
      out += "duplicate";
      Field(out, isbn13);
      Field(out, std::to_string(r.row));
      Field(out, r.text);
      out += '\n';
    }
  }
  for (const RowText& r : f.wrongCheckDigits) {
    out += "check-digit";
    Field(out, std::to_string(r.row));
    Field(out, r.text);
    Field(out, std::string(1, RightCheckDigit(ReadIsbn(r.text, TextEncoding::Utf8))));
    out += '\n';
  }
  for (const RowText& r : f.notIsbns) {
    out += "not-isbn";
    Field(out, std::to_string(r.row));
    Field(out, r.text);
    out += '\n';
  }
  out += "total";
  Field(out, Amount(f.totalFen));
  Field(out, std::to_string(f.countedRows));
  out += '\n';
  auto prices = [&](std::string_view kind, const std::vector<PriceEntry>& entries, bool amount) {
    for (const PriceEntry& p : entries) {
      out += kind;
      Field(out, std::to_string(p.row));
      Field(out, p.text);
      if (amount) Field(out, Amount(p.fen));
      out += '\n';
    }
  };
  prices("set-price", f.sets, true);
  prices("gift", f.gifts, true);
  prices("unreadable-price", f.unreadablePrices, false);
  TsvClasses(out, 1, f.classes);
  auto missing = [&](std::string_view kind, const std::vector<MissingEntry>& rows) {
    for (const MissingEntry& m : rows) {
      out += kind;
      Field(out, std::to_string(m.row));
      Field(out, m.noField ? "no-field" : "empty");
      out += '\n';
    }
  };
  missing("missing-isbn", f.noIsbn);
  missing("missing-price", f.noPrice);
  missing("missing-class", f.noClassNumber);
  missing("missing-title", f.noTitle);
  return out;
}

std::string CheckSummary(const CheckFindings& f) {
  words::SummaryCounts c;
  c.duplicateGroups = static_cast<std::int64_t>(f.duplicates.size());
  c.duplicateRows = f.DuplicateRows();
  c.totalFen = f.totalFen;
  c.countedRows = f.countedRows;
  c.giftRows = static_cast<std::int64_t>(f.gifts.size());
  c.unreadablePrices = static_cast<std::int64_t>(f.unreadablePrices.size());
  c.wrongCheckDigits = static_cast<std::int64_t>(f.wrongCheckDigits.size());
  c.notIsbns = static_cast<std::int64_t>(f.notIsbns.size());
  c.noIsbn = static_cast<std::int64_t>(f.noIsbn.size());
  c.noPrice = static_cast<std::int64_t>(f.noPrice.size());
  c.noClassNumber = static_cast<std::int64_t>(f.noClassNumber.size());
  c.noTitle = static_cast<std::int64_t>(f.noTitle.size());
  return words::Summary(c);
}

}  // namespace marc
