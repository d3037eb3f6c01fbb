// marcrows: decodes a CNMARC record file through the read path and prints one line per row.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "binary_output.h"
#include "charset.h"
#include "reader.h"

namespace {

void Usage() { std::fputs("usage: marcrows [--raw] [--quiet] FILE\n", stderr); }

// Backslash, TAB, CR and LF escaped so that a row is one line and its cells split at TABs.
void AppendEscaped(std::string& out, std::string_view cell) {
  for (char c : cell) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
}

class PrintSink : public marc::ReadSink {
 public:
  PrintSink(bool raw, bool quiet, const marc::RecordReader& reader)
      : raw_(raw), quiet_(quiet), reader_(reader) {}

  void AppendRow(marc::BookRow&& row) override {
    ++rows_;
    if (quiet_) return;
    line_.clear();
    for (std::size_t i = 0; i < marc::CellCount; ++i) {
      if (i) line_ += '\t';
      if (raw_) {
        AppendEscaped(line_, row[i]);
      } else {
        AppendEscaped(line_, marc::DecodeToUtf8(row[i], reader_.Encoding()));
      }
    }
    line_ += '\n';
    std::fwrite(line_.data(), 1, line_.size(), stdout);
  }
  // --quiet counts the rows without making texts of their cells.
  void AppendRows(const std::shared_ptr<const marc::FileBytes>& bytes,
                  std::span<const marc::RowRef> rows, std::int64_t rowsBefore) override {
    if (!quiet_) return marc::ReadSink::AppendRows(bytes, rows, rowsBefore);
    rows_ += static_cast<std::int64_t>(rows.size());
  }
  void Progress(std::int64_t) override {}
  void Elapsed(const marc::Text&) override {}

  std::int64_t Rows() const { return rows_; }

 private:
  bool raw_, quiet_;
  const marc::RecordReader& reader_;
  std::int64_t rows_ = 0;
  std::string line_;
};

}  // namespace

int main(int argc, char** argv) {
  bool raw = false, quiet = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--raw") == 0)
      raw = true;
    else if (std::strcmp(argv[i], "--quiet") == 0)
      quiet = true;
    else if (argv[i][0] == '-' && argv[i][1] != '\0')
      return Usage(), 2;
    else if (path)
      return Usage(), 2;
    else
      path = argv[i];
  }
  if (!path) return Usage(), 2;

  tessaly::SetBinaryOutput();
  // The elapsed time goes out in seconds below, so the user's time pattern plays no part.
  marc::RecordReader reader;
  PrintSink sink(raw, quiet, reader);
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  try {
    reader.Read(path, sink);
  } catch (const std::exception& e) {
    // The decoder's own errors, and running out of memory on a file larger than it.
    std::fflush(stdout);
    const char* what = dynamic_cast<const std::bad_alloc*>(&e) ? "Out of memory" : e.what();
    std::fprintf(stderr, "record %lld (line %lld): %s\n",
                 static_cast<long long>(reader.Position().record),
                 static_cast<long long>(reader.Position().line), what);
    status = 1;
  }
  std::fflush(stdout);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "%lld rows in %.3f s\n", static_cast<long long>(sink.Rows()), seconds);
  return status;
}
