// The conformance table of the text conversion: byte strings and the characters they must
// give. The decoder's tests run it directly; the consistency test sends its GB18030 rows through
// every path a cell takes.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "text.h"

namespace tessaly::test {

struct ConformanceCase {
  const char* name;
  marc::TextEncoding encoding;
  std::string bytes;
  std::u16string want;
  int replaced;  // malformed sequences
};

// Names a case in test output.
inline void PrintTo(const ConformanceCase& c, std::ostream* os) { *os << c.name; }

inline const std::vector<ConformanceCase>& ConformanceCases() {
  constexpr marc::TextEncoding G = marc::TextEncoding::Gb18030;
  constexpr marc::TextEncoding U = marc::TextEncoding::Utf8;
  static const std::vector<ConformanceCase> cases = {
      // GB18030: well-formed
      {"Ascii", G, "ISBN 7-1", u"ISBN 7-1", 0},
      {"TwoByte", G, "\xCA\xE9", u"书", 0},
      {"ByteEightyIsEuro", G, "\x80", u"€", 0},
      {"EuroInTwoBytes", G, "\xA2\xE3", u"€", 0},
      {"FE9FIsNotPrivateUse", G, "\xFE\x9F", u"\u4DAE", 0},
      {"FourByteFirst", G, "\x81\x30\x81\x30", u"\u0080", 0},
      {"FourByteSpecialE7C7", G, "\x81\x35\xF4\x37", u"\uE7C7", 0},
      {"FourByteLastBmp", G, "\x84\x31\xA4\x39", u"\uFFFF", 0},
      {"FourByteRealReplacementChar", G, "\x84\x31\xA4\x37", u"\uFFFD", 0},
      {"Supplementary20000", G, "\x95\x32\x82\x36", u"\U00020000", 0},
      {"Supplementary2CC56", G, "\x99\x33\xC3\x36", u"\U0002CC56", 0},
      {"LastCodePoint", G, "\xE3\x32\x9A\x35", u"\U0010FFFF", 0},
      // GB18030: every malformed shape once
      {"LeadThenAsciiKeepsAscii", G, "\xC2\x2E", u"\uFFFD.", 1},
      {"LeadThenDelete", G, "\x81\x7F", u"\uFFFD\x7F", 1},
      {"LeadThenFF", G, "\x81\xFFZ", u"\uFFFDZ", 1},
      {"ByteFF", G, "a\xFFz", u"a\uFFFDz", 1},
      {"ThirdNotLead", G, "\x95\x32\x41", u"\uFFFD2A", 1},
      {"FourthNotDigit", G, "\x81\x30\x81\x40", u"\uFFFD0丂", 1},
      {"PointerInTheGap", G, "\x84\x31\xA5\x30Z", u"\uFFFDZ", 1},
      {"PointerPastTheEnd", G, "\xE3\x32\x9A\x36Z", u"\uFFFDZ", 1},
      // GB18030: cut short at the end of a cell
      {"EndsAfterLead", G, "A\x81", u"A\uFFFD", 1},
      {"EndsAfterSecond", G, "\x95\x32", u"\uFFFD", 1},
      {"EndsAfterThird", G, "\x95\x32\x82", u"\uFFFD", 1},
      {"TwoBrokenInARow", G, "\x81\x30\x81\x30\x81\x30", u"\u0080\uFFFD", 1},
      // UTF-8
      {"Utf8ThreeByte", U, "\xE4\xB9\xA6", u"书", 0},
      {"Utf8FourByte", U, "\xF0\xA0\x80\x80", u"\U00020000", 0},
      {"Utf8EndsInsideSequence", U, "a\xE4\xB9", u"a\uFFFD", 1},
      {"Utf8AsciiEndsSequence", U, "\xE4\x41", u"\uFFFDA", 1},
      {"Utf8StrayContinuation", U, "\x80", u"\uFFFD", 1},
      {"Utf8Overlong", U, "\xC0\x80", u"\uFFFD\uFFFD", 2},
      {"Utf8Surrogate", U, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", 3},
      {"Utf8PastLastCodePoint", U, "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", 4},
      {"Utf8NoLeadByte", U, "\xF8", u"\uFFFD", 1},
  };
  return cases;
}

// A record file of the GB18030 cases, one record per line in table order, each case's bytes as
// the record's title (200 $a) and author (200 $f): what the read path and every later path get.
std::string ConformanceRecords();

// The GB18030 cases, in the order of ConformanceRecords().
std::vector<ConformanceCase> Gb18030Cases();

// ConformanceRecords() written to a file and read through the read path, every cell decoded to
// UTF-8 as the list hands cells to the export: one row of thirteen cells per case.
std::vector<std::vector<std::string>> ReadConformanceRecordsUtf8();

}  // namespace tessaly::test
