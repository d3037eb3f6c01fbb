// marcrows: decodes a CNMARC record file through the read path and prints one
// line per row.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "binary_output.h"
#include "charset.h"
#include "reader.h"

namespace {

void Usage() {
  std::fputs(
      "usage: marcrows [--raw] [--quiet] [--encoding "
      "auto|gb18030|utf-8] FILE\n",
      stderr);
}

// Backslash, TAB, CR and LF escaped so that a row is one line and its cells
// split at TABs.
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
    // Only the rows written are decoded, so --quiet measures the read path alone.
    if (quiet_) return;
    line_.clear();
    for (std::size_t i = 0; i < marc::CellCount; ++i) {
      if (i) line_ += '\t';
      if (raw_) {
        AppendEscaped(line_, row[i]);
        continue;
      }
      marc::Replacements cell;
      const std::string utf8 = marc::DecodeToUtf8(row[i], reader_.Encoding(), &cell);
      if (cell.count > 0 && replaced_ == 0) {
        firstRecord_ = rows_;
        firstColumn_ = static_cast<int>(i) + 1;
      }
      replaced_ += cell.count;
      AppendEscaped(line_, utf8);
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
  // Malformed byte sequences replaced by U+FFFD, and the first one's record and column (1-based).
  std::int64_t Replaced() const { return replaced_; }
  std::int64_t FirstRecord() const { return firstRecord_; }
  int FirstColumn() const { return firstColumn_; }

 private:
  bool raw_, quiet_;
  const marc::RecordReader& reader_;
  std::int64_t rows_ = 0;
  std::int64_t replaced_ = 0;
  std::int64_t firstRecord_ = 0;
  int firstColumn_ = 0;
  std::string line_;
};

// The --encoding value: nullopt for auto; false when it names no encoding.
bool ParseEncoding(const char* name, std::optional<marc::TextEncoding>& encoding) {
  if (std::strcmp(name, "auto") == 0)
    encoding.reset();
  else if (std::strcmp(name, "gb18030") == 0)
    encoding = marc::TextEncoding::Gbk;
  else if (std::strcmp(name, "utf-8") == 0)
    encoding = marc::TextEncoding::Utf8;
  else
    return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool raw = false, quiet = false;
  std::optional<marc::TextEncoding> encoding;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--raw") {
      raw = true;
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--encoding" || arg.starts_with("--encoding=")) {
      const char* name = arg == "--encoding" ? (++i < argc ? argv[i] : "") : argv[i] + 11;
      if (!ParseEncoding(name, encoding)) return Usage(), 2;
    } else if ((arg.size() > 1 && arg[0] == '-') || path) {
      return Usage(), 2;
    } else {
      path = argv[i];
    }
  }
  if (!path) return Usage(), 2;

  tessaly::SetBinaryOutput();
  // The elapsed time goes out in seconds below: the user's time pattern plays no part.
  marc::RecordReader reader;
  reader.ForceEncoding(encoding);
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
  if (sink.Replaced() > 0)
    std::fprintf(stderr,
                 "%lld malformed byte sequences replaced by U+FFFD, the first in record %lld, "
                 "column %d\n",
                 static_cast<long long>(sink.Replaced()),
                 static_cast<long long>(sink.FirstRecord()), sink.FirstColumn());
  return status;
}
