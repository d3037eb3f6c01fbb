// The thirteen extractors over one field text. The first input byte picks the extractor (its
// value modulo 13) and the encoding (its top bit: UTF-8, else GBK); the rest is the field.
//
// Every result must be a run of the field's bytes, never longer than the field, and equal what
// a plain model of the extractor's rule gives: a subfield runs from after its code to the next
// "$" or the field's end; the date keeps at most 8 bytes and never half a character; pages end
// after the first "页"; accompanying material and summary take the rest of the field; the price
// follows the first "CNY" to the next "$", cut two bytes past its ".". "页" and "CNY" count only
// where they start a character.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "extract.h"
#include "reader.h"

namespace {

using marc::TextEncoding;

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

std::string_view Subfield(std::string_view s, std::string_view code) {
  const std::size_t a = s.find(code);
  if (a == std::string_view::npos) return {};
  const std::size_t from = a + code.size();
  const std::size_t b = s.find('$', from);
  return s.substr(from, (b == std::string_view::npos ? s.size() : b) - from);
}

// Whether the byte at i of s starts a character: GBK is walked from the first byte, a byte
// 0x81-0xFE with a byte after it taking two, or four for 81-FE 30-39 81-FE 30-39; in well-formed
// UTF-8 every byte but a continuation byte starts one.
std::vector<bool> Starts(std::string_view s, TextEncoding enc) {
  std::vector<bool> starts(s.size() + 1, false);
  if (enc == TextEncoding::Utf8) {
    for (std::size_t i = 0; i <= s.size(); ++i)
      starts[i] = i == s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
    return starts;
  }
  std::size_t i = 0;
  while (i < s.size()) {
    starts[i] = true;
    auto lead = [&](std::size_t k) {
      return k < s.size() && static_cast<unsigned char>(s[k]) >= 0x81 && s[k] != '\xFF';
    };
    auto digit = [&](std::size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '9'; };
    if (lead(i) && digit(i + 1) && lead(i + 2) && digit(i + 3))
      i += 4;
    else
      i += (lead(i) && i + 1 < s.size()) ? 2 : 1;
  }
  starts[s.size()] = true;
  return starts;
}

std::size_t FindOnBoundary(std::string_view p, std::string_view s, TextEncoding enc) {
  const std::vector<bool> starts = Starts(s, enc);
  for (std::size_t i = s.find(p); i != std::string_view::npos; i = s.find(p, i + 1))
    if (starts[i]) return i;
  return std::string_view::npos;
}

std::string_view PubDate(std::string_view s, TextEncoding enc) {
  const std::string_view sub = Subfield(s, "$d");
  if (sub.size() <= 8) return sub;
  const std::vector<bool> starts = Starts(sub, enc);
  std::size_t n = 8;
  while (n > 0 && !starts[n]) --n;
  return sub.substr(0, n);
}

std::string_view Pages(std::string_view s, TextEncoding enc) {
  const std::string_view sub = Subfield(s, "$a");
  const std::string_view ye = enc == TextEncoding::Gb18030 ? "\xD2\xB3" : "\xE9\xA1\xB5";
  const std::size_t b = FindOnBoundary(ye, sub, enc);
  return b == std::string_view::npos ? sub : sub.substr(0, b + ye.size());
}

std::string_view Rest(std::string_view s, std::string_view code) {
  const std::size_t a = s.find(code);
  return a == std::string_view::npos ? std::string_view() : s.substr(a + code.size());
}

std::string_view Price(std::string_view s, TextEncoding enc) {
  const std::size_t a = FindOnBoundary("CNY", s, enc);
  if (a == std::string_view::npos) return {};
  std::string_view price = s.substr(a + 3);
  price = price.substr(0, price.find('$'));
  const std::size_t dot = price.find('.');
  return dot == std::string_view::npos ? price : price.substr(0, dot + 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const TextEncoding enc = (data[0] & 0x80) ? TextEncoding::Utf8 : TextEncoding::Gb18030;
  const std::string_view s(reinterpret_cast<const char*>(data) + 1, size - 1);
  // Character starts are only well defined in UTF-8 that is well formed; the reader takes a
  // file as UTF-8 only then, so the model is not held against any other.
  bool asciiOnly = true;
  for (unsigned char c : s) asciiOnly = asciiOnly && c < 0x80;
  const bool modelled =
      enc == TextEncoding::Gb18030 || asciiOnly || marc::DetectEncoding(s) == TextEncoding::Utf8;

  marc::Text got;
  std::string_view want;
  switch (data[0] % 13) {
    case 0:
      got = marc::ExtractTitle(s), want = Subfield(s, "$a");
      break;
    case 1:
      got = marc::ExtractAuthor(s), want = Subfield(s, "$f");
      break;
    case 2:
      got = marc::ExtractIsbn(s), want = Subfield(s, "$a");
      break;
    case 3:
      got = marc::ExtractPrice(s, enc), want = Price(s, enc);
      break;
    case 4:
      got = marc::ExtractPubPlace(s), want = Subfield(s, "$a");
      break;
    case 5:
      got = marc::ExtractPublisher(s), want = Subfield(s, "$c");
      break;
    case 6:
      got = marc::ExtractPubDate(s, enc), want = PubDate(s, enc);
      break;
    case 7:
      got = marc::ExtractPages(s, enc), want = Pages(s, enc);
      break;
    case 8:
      got = marc::ExtractDimensions(s), want = Subfield(s, "$d");
      break;
    case 9:
      got = marc::ExtractAccompanying(s), want = Rest(s, "$e");
      break;
    case 10:
      got = marc::ExtractClassNumber(s), want = Subfield(s, "$a");
      break;
    case 11:
      got = marc::ExtractSubjectHeading(s), want = Subfield(s, "$a");
      break;
    case 12:
      got = marc::ExtractSummary(s), want = Rest(s, "$a");
      break;
  }
  if (got.size() > s.size()) Broken("result longer than the field");
  if (s.find(got) == std::string_view::npos) Broken("result is not a run of the field's bytes");
  if (modelled && got != want) Broken("result differs from the rule's model");
  return 0;
}
