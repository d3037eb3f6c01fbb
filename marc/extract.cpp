#include "extract.h"

#include <algorithm>

namespace marc {

namespace {

constexpr std::string_view kYeGbk = "\xD2\xB3";       // 页
constexpr std::string_view kYeUtf8 = "\xE9\xA1\xB5";  // 页
constexpr std::size_t kPubDateBytes = 8;

// The longest prefix of s of at most limit bytes that ends on a character boundary.
std::string_view CutOnBoundary(std::string_view s, std::size_t limit, TextEncoding enc) {
  if (s.size() <= limit) return s;
  std::size_t i = 0;
  while (i < limit) {
    const std::size_t n = CharLength(s, i, enc);
    if (i + n > limit) break;
    i += n;
  }
  return s.substr(0, i);
}

// Where "$" and the code letter first stand in s (0-based), npos when nowhere: a byte loop, as
// fields are short and hold a "$" every few bytes, where a memchr call for each costs more.
std::size_t FindCode(std::string_view s, char letter) {
  for (std::size_t i = 0; i + 1 < s.size(); ++i)
    if (s[i] == '$' && s[i + 1] == letter) return i;
  return std::string_view::npos;
}

// The text of subfield letter: from after its code to the next "$" or the field's end; empty
// when the code does not occur.
std::string_view SubfieldView(std::string_view s, char letter) {
  const std::size_t a = FindCode(s, letter);
  if (a == std::string_view::npos) return {};
  std::size_t b = a + 2;
  while (b < s.size() && s[b] != '$') ++b;
  return s.substr(a + 2, b - a - 2);
}

}  // namespace

std::string_view ExtractView(Cell cell, std::string_view s, TextEncoding enc) {
  switch (cell) {
    case Title:
    case Isbn:
    case PubPlace:
    case ClassNumber:
    case SubjectHeading:
      return SubfieldView(s, 'a');
    case Author:
      return SubfieldView(s, 'f');
    case Publisher:
      return SubfieldView(s, 'c');
    case Dimensions:
      return SubfieldView(s, 'd');
    case PubDate:
      return CutOnBoundary(SubfieldView(s, 'd'), kPubDateBytes, enc);
    case Pages: {
      const std::string_view sub = SubfieldView(s, 'a');
      const std::string_view ye = enc == TextEncoding::Gb18030 ? kYeGbk : kYeUtf8;
      const std::int64_t b = PosOnBoundary(ye, sub, enc);
      if (b == 0) return sub;
      return sub.substr(0, static_cast<std::size_t>(b - 1) + ye.size());
    }
    case Accompanying: {
      // The rest of the field after "$e", later subfields included; empty without "$e".
      const std::size_t a = FindCode(s, 'e');
      return a == std::string_view::npos ? std::string_view() : s.substr(a + 2);
    }
    case Summary: {
      // The rest of the field after "$a", later subfields included; empty without "$a".
      const std::size_t a = FindCode(s, 'a');
      return a == std::string_view::npos ? std::string_view() : s.substr(a + 2);
    }
    case Price: {
      // After the first "CNY" to the next "$" or the field's end, cut two bytes past its first
      // ".".
      const std::int64_t a = PosOnBoundary("CNY", s, enc);
      if (a == 0) return {};
      std::string_view price = s.substr(static_cast<std::size_t>(a - 1) + 3);
      price = price.substr(0, std::min(price.find('$'), price.size()));
      const std::size_t dot = price.find('.');
      if (dot != std::string_view::npos) price = price.substr(0, std::min(price.size(), dot + 3));
      return price;
    }
    case CellCount:
      break;
  }
  return {};
}

Text ExtractTitle(std::string_view s) { return Text(ExtractView(Title, s)); }
Text ExtractAuthor(std::string_view s) { return Text(ExtractView(Author, s)); }
Text ExtractIsbn(std::string_view s) { return Text(ExtractView(Isbn, s)); }
Text ExtractPubPlace(std::string_view s) { return Text(ExtractView(PubPlace, s)); }
Text ExtractPublisher(std::string_view s) { return Text(ExtractView(Publisher, s)); }
Text ExtractDimensions(std::string_view s) { return Text(ExtractView(Dimensions, s)); }
Text ExtractClassNumber(std::string_view s) { return Text(ExtractView(ClassNumber, s)); }
Text ExtractSubjectHeading(std::string_view s) { return Text(ExtractView(SubjectHeading, s)); }
Text ExtractPubDate(std::string_view s, TextEncoding enc) {
  return Text(ExtractView(PubDate, s, enc));
}
Text ExtractPages(std::string_view s, TextEncoding enc) { return Text(ExtractView(Pages, s, enc)); }
Text ExtractAccompanying(std::string_view s) { return Text(ExtractView(Accompanying, s)); }
Text ExtractSummary(std::string_view s) { return Text(ExtractView(Summary, s)); }
Text ExtractPrice(std::string_view s, TextEncoding enc) { return Text(ExtractView(Price, s, enc)); }

}  // namespace marc
