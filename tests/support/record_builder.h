// Builds ISO 2709 records for tests: a leader and directory with true lengths and offsets.
#pragma once

#include <string>
#include <vector>

namespace tessaly::test {

// A variable field: its tag and its text (indicators, then subfields introduced by 0x1F).
struct RecordField {
  std::string tag;
  std::string text;
};

// One record, each field ended by 0x1E, the whole ended by 0x1D when terminated. The record
// length wraps at 100000, as five digits hold no more.
std::string Iso2709Record(const std::vector<RecordField>& fields, bool terminated = true);

// A field text: the indicators, then each (code, text) subfield after a 0x1F and its code.
std::string FieldText(const std::string& indicators,
                      const std::vector<std::pair<char, std::string>>& subfields);

}  // namespace tessaly::test
