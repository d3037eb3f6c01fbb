// marcrows: decodes a CNMARC record file through the read path and prints one line per row, or
// writes the rows into an .xlsx workbook.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "badrecords.h"
#include "binary_output.h"
#include "charset.h"
#include "checks.h"
#include "extract.h"
#include "filebytes.h"
#include "reader.h"
#include "report.h"
#include "usertexts.h"
#include "xlsx_out.h"

namespace {

void Usage() {
  std::fputs(
      "usage: marcrows [--raw] [--quiet] [--encoding auto|gb18030|utf-8]\n"
      "                [--keep-going] [--bad OUT.mrc] FILE\n"
      "       marcrows [--encoding auto|gb18030|utf-8] [--keep-going] [--bad OUT.mrc]\n"
      "                --xlsx OUT.xlsx FILE\n"
      "       marcrows [--encoding auto|gb18030|utf-8] --check [--tsv] FILE\n",
      stderr);
}

// One line on stderr for a record passed over: where, how long, why, and what its length says.
void PrintBad(const marc::BadRecord& bad) {
  std::string hint;
  switch (bad.hint) {
    case marc::BadRecord::Hint::CutBeforeNext:
      hint = "; cut in two by a line break: record " + std::to_string(bad.error.record + 1) +
             " holds the remaining " +
             std::to_string(static_cast<std::uint64_t>(bad.declared) - bad.length) + " bytes";
      break;
    case marc::BadRecord::Hint::RestOfPrevious:
      hint = "; the rest of record " + std::to_string(bad.error.record - 1) +
             ", cut in two by a line break";
      break;
    case marc::BadRecord::Hint::FileEndsInside:
      hint = "; the file ends inside this record: " + std::to_string(bad.length) + " of its " +
             std::to_string(bad.declared) + " bytes are there";
      break;
    case marc::BadRecord::Hint::None:
      break;
  }
  std::fprintf(stderr, "bad record %lld (line %lld, byte %llu, %llu bytes): %s%s\n",
               static_cast<long long>(bad.error.record), static_cast<long long>(bad.error.line),
               static_cast<unsigned long long>(bad.error.offset),
               static_cast<unsigned long long>(bad.length), bad.error.reason.c_str(), hint.c_str());
}

// What --keep-going and --bad ask for.
struct BadRecordsOptions {
  bool keepGoing = false;
  std::optional<std::filesystem::path> badOut;  // --bad OUT.mrc
  marc::ReadMode Mode() const {
    return keepGoing ? marc::ReadMode::PassOver : marc::ReadMode::Stop;
  }
};

// The end of a read: the bad records passed over, written to --bad's file; the exit status (0
// clean, 3 when bad records were passed over, 1 after a failure, of the read or the writing).
int Finish(const marc::ReadOutcome& outcome, const BadRecordsOptions& options,
           const std::filesystem::path& path) {
  const auto bad = static_cast<long long>(outcome.bad->records.size());
  int status = outcome.error ? 1 : bad > 0 ? 3 : 0;
  if (bad > 0) std::fprintf(stderr, "%lld bad record%s passed over\n", bad, bad == 1 ? "" : "s");
  if (!options.badOut) return status;
  if (const auto failed =
          marc::WriteReplacing(*options.badOut, marc::BadRecordsBytes(*outcome.bad), path)) {
    std::fprintf(stderr, "marcrows: %s\n", failed->c_str());
    return 1;
  }
  const long long written = bad - outcome.bad->NotHeld();
  std::fprintf(stderr, "%s: %lld bad record%s written", marc::PathBytes(*options.badOut).c_str(),
               written, written == 1 ? "" : "s");
  if (outcome.bad->NotHeld() > 0)
    std::fprintf(stderr, ", %lld more past the %llu MB of bad records held",
                 static_cast<long long>(outcome.bad->NotHeld()),
                 static_cast<unsigned long long>(marc::BadList::kHeldCap >> 20));
  std::fputs("\n", stderr);
  return status;
}

// Only the window names a file GB18030 (the search would cost the tool a pass over the file) and
// reads the rows again; the tool reads once, with the same memory for every stretch's rows.
void OneReadTuning(marc::RecordReader& reader) {
  marc::RecordReader::Tuning tuning;
  tuning.findFourByteSequences = false;
  tuning.keepRows = false;
  reader.SetTuning(tuning);
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
        marc::AppendTsvField(line_, row[i]);
        continue;
      }
      marc::Replacements cell;
      const std::string utf8 = marc::DecodeToUtf8(row[i], reader_.Encoding(), &cell);
      if (cell.count > 0 && replaced_ == 0) {
        firstRecord_ = rows_;
        firstColumn_ = static_cast<int>(i) + 1;
      }
      replaced_ += cell.count;
      marc::AppendTsvField(line_, utf8);
    }
    line_ += '\n';
    std::fwrite(line_.data(), 1, line_.size(), stdout);
  }
  // --quiet counts the rows without making texts of their cells.
  bool AppendRows(std::shared_ptr<const marc::RowBlock> rows, std::int64_t rowsBefore) override {
    if (!quiet_) return marc::ReadSink::AppendRows(std::move(rows), rowsBefore);
    rows_ += static_cast<std::int64_t>(rows->Size());
    return true;
  }
  void Progress(std::int64_t) override {}
  void Elapsed(std::chrono::steady_clock::duration) override {}
  void PassedOver(const marc::BadRecord& bad) override { PrintBad(bad); }

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

// --check: the rows go through the checks as they come, and are let go.
class CheckSink : public marc::ReadSink {
 public:
  explicit CheckSink(const marc::RecordReader& reader) : reader_(reader) {}

  bool AppendRows(std::shared_ptr<const marc::RowBlock> rows, std::int64_t) override {
    // The file's encoding is known once its first rows come.
    if (!checker_) checker_ = std::make_unique<marc::Checker>(reader_.Encoding());
    checker_->Add(*rows);
    rows_ += static_cast<std::int64_t>(rows->Size());
    return true;
  }
  void Progress(std::int64_t) override {}
  void Elapsed(std::chrono::steady_clock::duration) override {}

  std::int64_t Rows() const { return rows_; }
  marc::CheckFindings Finish() { return checker_ ? checker_->Finish() : marc::CheckFindings{}; }

 private:
  const marc::RecordReader& reader_;
  std::unique_ptr<marc::Checker> checker_;
  std::int64_t rows_ = 0;
};

// The --encoding value: nullopt for auto; false when it names no encoding.
bool ParseEncoding(const char* name, std::optional<marc::TextEncoding>& encoding) {
  if (std::strcmp(name, "auto") == 0)
    encoding.reset();
  else if (std::strcmp(name, "gb18030") == 0)
    encoding = marc::TextEncoding::Gb18030;
  else if (std::strcmp(name, "utf-8") == 0)
    encoding = marc::TextEncoding::Utf8;
  else
    return false;
  return true;
}

// "record N (line M): reason" for the fault that ended a read.
void PrintFailure(const marc::ReadError& error) {
  const char* what =
      error.fault == marc::ReadFault::OutOfMemory ? "Out of memory" : error.reason.c_str();
  std::fprintf(stderr, "record %lld (line %lld): %s\n", static_cast<long long>(error.record),
               static_cast<long long>(error.line), what);
}

// The checks' report on stdout; a failed read still reports the rows before the failure.
int Check(const std::filesystem::path& path, std::optional<marc::TextEncoding> encoding, bool tsv) {
  tessaly::SetBinaryOutput();
  marc::RecordReader reader;
  OneReadTuning(reader);
  reader.ForceEncoding(encoding);
  CheckSink sink(reader);
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  const marc::ReadOutcome outcome = reader.Read(path, sink);
  if (outcome.error) {
    PrintFailure(*outcome.error);
    status = 1;
  }
  const marc::CheckFindings findings = sink.Finish();
  const std::string report = tsv ? marc::CheckReportTsv(findings) : marc::CheckReportText(findings);
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fflush(stdout);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "%lld rows in %.3f s\n", static_cast<long long>(sink.Rows()), seconds);
  return status;
}

// Input above this size may give a sheet whose XML passes 4 GB (short cells cost more XML than
// text), so its workbook is written with ZIP64; smaller input keeps the plain ZIP that every
// spreadsheet opens without a word.
constexpr std::uintmax_t kZip64Above = std::uintmax_t{512} << 20;

class XlsxSink : public marc::ReadSink {
 public:
  XlsxSink(tessaly::XlsxOut& out, const marc::RecordReader& reader)
      : out_(out), reader_(reader), cells_(marc::CellCount) {}

  void AppendRow(marc::BookRow&& row) override {
    for (std::size_t i = 0; i < marc::CellCount; ++i) {
      cells_[i] = marc::DecodeToUtf8(row[i], reader_.Encoding());
    }
    out_.AppendRow(cells_);
  }
  void Progress(std::int64_t) override {}
  void Elapsed(std::chrono::steady_clock::duration) override {}
  void PassedOver(const marc::BadRecord& bad) override { PrintBad(bad); }

 private:
  tessaly::XlsxOut& out_;
  const marc::RecordReader& reader_;
  std::vector<std::string> cells_;
};

// The rows into a workbook; a failed read still keeps the rows before it.
int WriteWorkbook(const std::filesystem::path& outPath, const std::filesystem::path& path,
                  std::optional<marc::TextEncoding> encoding, const BadRecordsOptions& bad) {
  // The workbook holds UTF-8, as the captions are.
  std::vector<std::string> captions(tessaly::texts::kColumnCaptions.begin(),
                                    tessaly::texts::kColumnCaptions.end());
  tessaly::XlsxOptions options;
  std::error_code ec;
  options.zip64 = std::filesystem::file_size(path, ec) > kZip64Above && !ec;
  const std::string out_path = marc::PathBytes(outPath);
  marc::RecordReader reader;
  OneReadTuning(reader);
  reader.ForceEncoding(encoding);
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  try {
    tessaly::XlsxOut out(out_path, std::move(captions), options);
    XlsxSink sink(out, reader);
    const marc::ReadOutcome outcome = reader.Read(path, sink, bad.Mode());
    if (outcome.error) PrintFailure(*outcome.error);
    status = Finish(outcome, bad, path);
    out.Finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "%lld rows in %.3f s\n", static_cast<long long>(out.Rows()), seconds);
    std::fprintf(stderr, "%s: %lld rows on %d sheet%s%s\n", out_path.c_str(),
                 static_cast<long long>(out.Rows()), out.Sheets(), out.Sheets() == 1 ? "" : "s",
                 status == 1 ? ", the rows read before the failure" : "");
    if (out.CutCells() > 0) {
      std::fprintf(stderr, "%lld cell%s cut to 32,767 characters\n",
                   static_cast<long long>(out.CutCells()), out.CutCells() == 1 ? "" : "s");
    }
  } catch (const tessaly::XlsxError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return status;
}

}  // namespace

// The arguments as the system holds them: the system's bytes, or UTF-16 on Windows (main's there
// would go through the ANSI code page and lose every character outside it). FILE and OUT stay
// paths; the options are read from their UTF-8.
int Main(const std::vector<std::filesystem::path>& argv) {
  // A line per bad record: written in blocks, not a system call each (stderr is unbuffered).
  static char errors[1 << 16];
  std::setvbuf(stderr, errors, _IOFBF, sizeof errors);
  bool raw = false, quiet = false, check = false, tsv = false;
  std::optional<marc::TextEncoding> encoding;
  std::optional<std::filesystem::path> path, xlsx;
  const int argc = static_cast<int>(argv.size());
  BadRecordsOptions bad;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = marc::PathBytes(argv[i]);
    if (arg == "--raw") {
      raw = true;
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--check") {
      check = true;
    } else if (arg == "--tsv") {
      tsv = true;
    } else if (arg == "--encoding" || arg.starts_with("--encoding=")) {
      const std::string name =
          arg == "--encoding" ? (++i < argc ? marc::PathBytes(argv[i]) : "") : arg.substr(11);
      if (!ParseEncoding(name.c_str(), encoding)) return Usage(), 2;
    } else if (arg == "--xlsx" && i + 1 < argc && !xlsx) {
      xlsx = argv[++i];
    } else if (arg == "--keep-going") {
      bad.keepGoing = true;
    } else if (arg == "--bad" && i + 1 < argc && !bad.badOut) {
      bad.badOut = argv[++i];
      bad.keepGoing = true;
    } else if ((arg.size() > 1 && arg[0] == '-') || path) {
      return Usage(), 2;
    } else {
      path = argv[i];
    }
  }
  if (!path) return Usage(), 2;
  std::error_code ec;
  if (bad.badOut && std::filesystem::equivalent(*bad.badOut, *path, ec)) {
    std::fputs("marcrows: the bad records' file must differ from FILE\n", stderr);
    return 2;
  }
  // The report is text of its own: no rows beside it, raw or in a workbook.
  if (tsv && !check) return Usage(), 2;
  if (check)
    return raw || quiet || xlsx || bad.keepGoing ? (Usage(), 2) : Check(*path, encoding, tsv);
  if (xlsx) {
    // A workbook holds text: the raw bytes have no place in it.
    if (raw || quiet) return Usage(), 2;
    // The workbook replaces OUT: never a record file named by a slip of the arguments.
    std::string extension = marc::PathBytes(xlsx->extension());
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".xlsx" || std::filesystem::equivalent(*xlsx, *path, ec)) {
      std::fputs("marcrows: the workbook's name must end in .xlsx and differ from FILE\n", stderr);
      return 2;
    }
    return WriteWorkbook(*xlsx, *path, encoding, bad);
  }

  tessaly::SetBinaryOutput();
  // The elapsed time goes out in seconds below: the user's time pattern plays no part.
  marc::RecordReader reader;
  OneReadTuning(reader);
  reader.ForceEncoding(encoding);
  PrintSink sink(raw, quiet, reader);
  const auto start = std::chrono::steady_clock::now();
  const marc::ReadOutcome outcome = reader.Read(*path, sink, bad.Mode());
  std::fflush(stdout);
  if (outcome.error) PrintFailure(*outcome.error);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "%lld rows in %.3f s\n", static_cast<long long>(sink.Rows()), seconds);
  if (sink.Replaced() > 0)
    std::fprintf(stderr,
                 "%lld malformed byte sequences replaced by U+FFFD, the first in record %lld, "
                 "column %d\n",
                 static_cast<long long>(sink.Replaced()),
                 static_cast<long long>(sink.FirstRecord()), sink.FirstColumn());
  return Finish(outcome, bad, *path);
}

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Main({argv, argv + argc}); }
#else
int main(int argc, char** argv) { return Main({argv, argv + argc}); }
#endif
