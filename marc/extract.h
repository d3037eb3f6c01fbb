// The thirteen cells of a book and the extractors that cut them out of a field's text.
// A field text is one variable field without its terminator, subfield delimiters already "$".
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "text.h"

namespace marc {

// Cell order is the list's column order; Title is the row's caption.
enum Cell : std::size_t {
  Title,
  Author,
  Isbn,
  Price,
  PubPlace,
  Publisher,
  PubDate,
  Pages,
  Dimensions,
  Accompanying,
  ClassNumber,
  SubjectHeading,
  Summary,
  CellCount
};

struct BookRow {
  std::array<Text, CellCount> cells;
  Text& operator[](std::size_t i) { return cells[i]; }
  const Text& operator[](std::size_t i) const { return cells[i]; }
  bool operator==(const BookRow&) const = default;
};

// What the extractor of cell gives for a field, as the run of the field's bytes it is (every
// cell is one), without copying it.
std::string_view ExtractView(Cell cell, std::string_view field,
                             TextEncoding enc = TextEncoding::Gb18030);

Text ExtractTitle(std::string_view s);
Text ExtractAuthor(std::string_view s);
Text ExtractIsbn(std::string_view s);
// Empty means no price: the caller then keeps the cell as it is.
Text ExtractPrice(std::string_view s, TextEncoding enc = TextEncoding::Gb18030);
Text ExtractPubPlace(std::string_view s);
Text ExtractPublisher(std::string_view s);
Text ExtractPubDate(std::string_view s, TextEncoding enc = TextEncoding::Gb18030);
Text ExtractPages(std::string_view s, TextEncoding enc = TextEncoding::Gb18030);
Text ExtractDimensions(std::string_view s);
Text ExtractAccompanying(std::string_view s);
Text ExtractClassNumber(std::string_view s);
Text ExtractSubjectHeading(std::string_view s);
Text ExtractSummary(std::string_view s);

}  // namespace marc
