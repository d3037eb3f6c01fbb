#include "record_builder.h"

#include <cstdio>

namespace tessaly::test {

std::string Iso2709Record(const std::vector<RecordField>& fields, bool terminated) {
  std::string directory, data;
  char entry[32];
  for (const RecordField& f : fields) {
    std::snprintf(entry, sizeof entry, "%s%04zu%05zu", f.tag.c_str(), f.text.size() + 1,
                  data.size());
    directory += entry;
    data += f.text + '\x1E';
  }
  const std::size_t base = 24 + directory.size() + 1;
  const std::size_t total = base + data.size() + (terminated ? 1 : 0);
  char leader[32];
  std::snprintf(leader, sizeof leader, "%05zunam0 22%05zu   450 ", total % 100000, base);
  return leader + directory + '\x1E' + data + (terminated ? "\x1D" : "");
}

std::string FieldText(const std::string& indicators,
                      const std::vector<std::pair<char, std::string>>& subfields) {
  std::string text = indicators;
  for (const auto& [code, value] : subfields) text += '\x1F' + std::string(1, code) + value;
  return text;
}

}  // namespace tessaly::test
