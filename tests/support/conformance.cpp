#include "conformance.h"

#include <filesystem>
#include <fstream>
#include <random>

#include "charset.h"
#include "reader.h"
#include "record_builder.h"

namespace tessaly::test {

std::vector<ConformanceCase> Gb18030Cases() {
  std::vector<ConformanceCase> cases;
  for (const ConformanceCase& c : ConformanceCases())
    if (c.encoding == marc::TextEncoding::Gb18030) cases.push_back(c);
  return cases;
}

std::string ConformanceRecords() {
  std::string file;
  for (const ConformanceCase& c : Gb18030Cases())
    file += Iso2709Record({{"200", FieldText("1 ", {{'a', c.bytes}, {'f', c.bytes}})}}) + "\n";
  return file;
}

namespace {

class Utf8Rows : public marc::ReadSink {
 public:
  explicit Utf8Rows(const marc::RecordReader& reader) : reader_(reader) {}
  void AppendRow(marc::BookRow&& row) override {
    std::vector<std::string>& cells = rows.emplace_back();
    for (const marc::Text& cell : row.cells)
      cells.push_back(marc::DecodeToUtf8(cell, reader_.Encoding()));
  }
  void Progress(std::int64_t) override {}
  void Elapsed(std::chrono::steady_clock::duration) override {}
  std::vector<std::vector<std::string>> rows;

 private:
  const marc::RecordReader& reader_;
};

}  // namespace

std::vector<std::vector<std::string>> ReadConformanceRecordsUtf8() {
  // A name of its own: test processes may run side by side.
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("tessaly-conformance-" + std::to_string(std::random_device{}()) + ".mrc");
  std::ofstream(path, std::ios::binary) << ConformanceRecords();
  std::vector<std::vector<std::string>> rows;
  {
    // The reader holds the file's bytes (mapped, on Windows not removable) until it goes.
    marc::RecordReader reader;
    Utf8Rows sink(reader);
    reader.Read(path.string(), sink);
    rows = std::move(sink.rows);
  }
  std::filesystem::remove(path);
  return rows;
}

}  // namespace tessaly::test
