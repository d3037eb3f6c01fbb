#include "conformance.h"

#include "record_builder.h"

namespace tessaly::test {

std::vector<ConformanceCase> Gb18030Cases() {
  std::vector<ConformanceCase> cases;
  for (const ConformanceCase& c : ConformanceCases())
    if (c.encoding == marc::TextEncoding::Gbk) cases.push_back(c);
  return cases;
}

std::string ConformanceRecords() {
  std::string file;
  for (const ConformanceCase& c : Gb18030Cases())
    file += Iso2709Record({{"200", FieldText("1 ", {{'a', c.bytes}, {'f', c.bytes}})}}) + "\n";
  return file;
}

}  // namespace tessaly::test
