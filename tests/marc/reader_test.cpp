// The read path over whole record files and single records.
#include "reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "badrecords.h"
#include "collect_sink.h"
#include "filebytes.h"
#include "record_builder.h"

namespace marc {
namespace {

const std::string kData = TESSALY_TEST_DATA;

// A row as marcrows --raw writes it: cells joined by TAB, with \\ \t \r \n escaped.
std::string RawLine(const BookRow& row) {
  std::string out;
  for (std::size_t i = 0; i < CellCount; ++i) {
    if (i) out += '\t';
    AppendTsvField(out, row[i]);
  }
  return out;
}

std::string Hex(std::string_view s) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
    out += ' ';
  }
  return out;
}

// Where two byte strings first differ, with the bytes around it in hex.
std::string ByteDiff(std::string_view got, std::string_view want) {
  std::size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  const std::size_t from = i < 8 ? 0 : i - 8;
  std::ostringstream out;
  out << "first difference at byte " << i << "\n  got:  " << Hex(got.substr(from, 24))
      << "\n  want: " << Hex(want.substr(from, 24));
  return out.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class RealFileTest : public testing::TestWithParam<const char*> {};

// The 27 real records give the same rows in both layouts, byte for byte as kept.
TEST_P(RealFileTest, MatchesGolden) {
  RecordReader reader;
  CollectSink sink;
  reader.Read(kData + "/" + GetParam(), sink);
  const auto want = ReadLines(kData + "/realcn.rows.raw");
  ASSERT_EQ(sink.rows.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    const std::string got = RawLine(sink.rows[i]);
    EXPECT_EQ(got, want[i]) << "row " << i + 1 << ": " << ByteDiff(got, want[i]);
  }
  EXPECT_EQ(sink.progress.size(), want.size());
  EXPECT_EQ(sink.progress.back(), 27);
  EXPECT_EQ(sink.elapsed.size(), 1u);
  EXPECT_EQ(reader.Encoding(), TextEncoding::Gb18030);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RealFileTest,
                         testing::Values("realcn_lines.mrc", "realcn_concat.mrc"));

// Titles of the three records in the cases_*.mrc files (tests/data/make_cases.py).
const std::string kA = "\xBC\xD7\xCA\xE9";  // 甲书
const std::string kB = "\xD2\xD2\xCA\xE9";  // 乙书
const std::string kC = "\xB1\xFB\xCA\xE9";  // 丙书

struct FileCase {
  const char* file;
  std::vector<std::string> titles;
  std::optional<ReadFault> failure;
  ReadPosition failedAt;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.file; }

class CaseFileTest : public testing::TestWithParam<FileCase> {};

TEST_P(CaseFileTest, Rows) {
  const FileCase& c = GetParam();
  RecordReader reader;
  CollectSink sink;
  const ReadOutcome outcome = reader.Read(kData + "/" + c.file, sink);
  EXPECT_EQ(outcome.error ? std::optional(outcome.error->fault) : std::nullopt, c.failure);
  std::vector<std::string> titles;
  for (const auto& row : sink.rows) titles.push_back(row[Title]);
  EXPECT_EQ(titles, c.titles);
  EXPECT_EQ(sink.progress.size(), c.titles.size());
  EXPECT_EQ(sink.elapsed.size(), c.failure ? 0u : 1u);
  if (c.failure) {
    EXPECT_EQ(reader.Position().line, c.failedAt.line);
    EXPECT_EQ(reader.Position().record, c.failedAt.record);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, CaseFileTest,
    testing::Values(FileCase{"cases_lines.mrc", {kA, kB, kC}, std::nullopt, {}},
                    FileCase{"cases_concat.mrc", {kA, kB, kC}, std::nullopt, {}},
                    FileCase{"cases_blank_lines.mrc", {kA, kB, kC}, std::nullopt, {}},
                    FileCase{"cases_nul.mrc", {kA, kB}, std::nullopt, {}},
                    FileCase{"cases_crlf_only.mrc", {}, std::nullopt, {}},
                    FileCase{"cases_empty.mrc", {}, std::nullopt, {}},
                    FileCase{"cases_bad_leader.mrc", {kA}, ReadFault::Number, {2, 2}},
                    // No empty row for the record whose fields are missing.
                    FileCase{"cases_missing_field.mrc", {kA, kB}, ReadFault::Directory, {1, 3}},
                    // 0x1A, blanks and TABs alone after a record or on a line give no record.
                    FileCase{"cases_dos_eof_lines.mrc", {kA, kB, kC}, std::nullopt, {}},
                    FileCase{"cases_dos_eof_concat.mrc", {kA, kB, kC}, std::nullopt, {}},
                    FileCase{"cases_blank_only_line.mrc", {kA, kB, kC}, std::nullopt, {}},
                    FileCase{"cases_blank_then_text.mrc", {kA, kB}, ReadFault::Number, {1, 3}}),
    [](const auto& info) {
      std::string name = info.param.file;
      return name.substr(6, name.size() - 10);
    });

// --- Bad records: stopping at the first, or passing over each -----------------------------

enum class Damage {
  None,
  CutInTwo,
  CutInDirectory,
  LeaderDigits,
  DirectoryPastData,
  FileEndsInside
};
enum class Layout { Lines, BackToBack };

// A bad record as the read should list it.
struct WantBad {
  std::int64_t record, line;
  std::uint64_t offset, length;
  ReadFault fault;
  BadRecord::Hint hint;
  bool operator==(const WantBad&) const = default;
};

std::ostream& operator<<(std::ostream& os, const WantBad& b) {
  return os << "record " << b.record << " line " << b.line << " offset " << b.offset << " length "
            << b.length << " fault " << static_cast<int>(b.fault) << " hint "
            << static_cast<int>(b.hint);
}

std::vector<WantBad> Listed(const BadList& list) {
  std::vector<WantBad> out;
  for (const BadRecord& b : list.records)
    out.push_back({b.error.record, b.error.line, b.error.offset, b.length, b.error.fault, b.hint});
  return out;
}

// Five records titled T1..T5, the third damaged (the fifth when the file ends inside it), and
// what the damage makes of them, known from where the bytes were put.
struct Damaged {
  std::string bytes;
  std::vector<std::string> goodTitles;
  std::vector<WantBad> bad;
};

Damaged MakeDamaged(Damage damage, Layout layout) {
  using tessaly::test::Iso2709Record;
  const std::string lineEnd = layout == Layout::Lines ? "\r\n" : "";
  Damaged out;
  std::int64_t record = 0, line = 1;
  for (int i = 1; i <= 5; ++i) {
    std::string title = "T";
    title += std::to_string(i);
    std::string r = Iso2709Record({{"200",
                                    "10\x1F"
                                    "a" +
                                        title +
                                        "\x1F"
                                        "fAUTHOR"},
                                   {"330",
                                    "  \x1F"
                                    "aSUMMARY"}});
    const auto offset = static_cast<std::uint64_t>(out.bytes.size());
    const bool damaged = i == (damage == Damage::FileEndsInside ? 5 : 3);
    ++record;
    if (!damaged || damage == Damage::None) {
      out.goodTitles.push_back(title);
    } else if (damage == Damage::CutInTwo || damage == Damage::CutInDirectory) {
      // A line end within the title: the 330 entry finds no field before it, and the second
      // piece begins with no leader. Within the directory, after its first tag: the second
      // piece reads as a record of no fields, and is none.
      const std::size_t cut = damage == Damage::CutInTwo ? r.find(title) + 1 : 31;
      const std::string added = layout == Layout::Lines ? "\r\n" : "\n";
      out.bad.push_back(
          {record, line, offset, cut, ReadFault::Directory, BadRecord::Hint::CutBeforeNext});
      ++record, ++line;
      out.bad.push_back(
          {record, line, offset + cut + added.size(), r.size() - cut,
           damage == Damage::CutInTwo ? ReadFault::Number : ReadFault::RestOfCutRecord,
           BadRecord::Hint::RestOfPrevious});
      r.insert(cut, added);
    } else if (damage == Damage::LeaderDigits) {
      r[2] = 'x';
      out.bad.push_back({record, line, offset, r.size(), ReadFault::Number, BadRecord::Hint::None});
    } else if (damage == Damage::DirectoryPastData) {
      r.replace(12, 5, "99999");
      out.bad.push_back(
          {record, line, offset, r.size(), ReadFault::Directory, BadRecord::Hint::None});
    } else {
      r.resize(60);
      out.bad.push_back(
          {record, line, offset, r.size(), ReadFault::Directory, BadRecord::Hint::FileEndsInside});
      out.bytes += r;
      break;
    }
    out.bytes += r + lineEnd;
    if (layout == Layout::Lines) ++line;
  }
  return out;
}

// A file of the running test's own: the cases run side by side in processes of their own.
std::string WriteTemp(const std::string& name, const std::string& bytes) {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string unique = std::string(test->test_suite_name()) + "-" + test->name();
  for (char& c : unique)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  const auto path = std::filesystem::temp_directory_path() / ("tessaly-" + unique + "-" + name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

struct DamageCase {
  Damage damage;
  Layout layout;
  ReadMode mode;
};

class DamageTest : public testing::TestWithParam<DamageCase> {};

// Stopping, the read ends at the first bad record with its place; passing over, every good
// record gives its row and every bad one is listed with its place, length, fault and hint.
TEST_P(DamageTest, RowsAndBadRecords) {
  const DamageCase& c = GetParam();
  const Damaged made = MakeDamaged(c.damage, c.layout);
  const std::string path = WriteTemp("damage.mrc", made.bytes);
  RecordReader reader;
  CollectSink sink;
  const ReadOutcome outcome = reader.Read(path, sink, c.mode);
  std::filesystem::remove(path);
  std::vector<std::string> titles;
  for (const auto& row : sink.rows) titles.push_back(row[Title]);
  EXPECT_TRUE(outcome.rereadable);
  EXPECT_FALSE(outcome.stopped);
  if (c.mode == ReadMode::PassOver || made.bad.empty()) {
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(titles, made.goodTitles);
    EXPECT_EQ(Listed(*outcome.bad), made.bad);
    EXPECT_EQ(sink.elapsed.size(), 1u);
    for (const BadRecord& b : outcome.bad->records) {
      EXPECT_TRUE(b.held);
      EXPECT_EQ(b.bytes, made.bytes.substr(b.error.offset, b.length));
    }
    // The sink heard of each, in file order, with its hint.
    EXPECT_EQ(sink.passedOver, outcome.bad->records);
    return;
  }
  const WantBad& first = made.bad.front();
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->fault, first.fault);
  EXPECT_EQ(outcome.error->record, first.record);
  EXPECT_EQ(outcome.error->line, first.line);
  EXPECT_EQ(outcome.error->offset, first.offset);
  EXPECT_TRUE(outcome.CanPassOver());
  EXPECT_TRUE(outcome.bad->records.empty());
  EXPECT_EQ(titles.size(), static_cast<std::size_t>(first.record - 1));
}

std::vector<DamageCase> AllDamageCases() {
  std::vector<DamageCase> out;
  for (Damage d : {Damage::None, Damage::CutInTwo, Damage::CutInDirectory, Damage::LeaderDigits,
                   Damage::DirectoryPastData, Damage::FileEndsInside})
    for (Layout l : {Layout::Lines, Layout::BackToBack})
      for (ReadMode m : {ReadMode::Stop, ReadMode::PassOver}) out.push_back({d, l, m});
  return out;
}

std::string DamageCaseName(const testing::TestParamInfo<DamageCase>& info) {
  static const char* const damages[] = {"None",         "CutInTwo",          "CutInDirectory",
                                        "LeaderDigits", "DirectoryPastData", "FileEndsInside"};
  const DamageCase& c = info.param;
  return std::string(damages[static_cast<int>(c.damage)]) +
         (c.layout == Layout::Lines ? "_Lines" : "_BackToBack") +
         (c.mode == ReadMode::Stop ? "_Stop" : "_PassOver");
}

INSTANTIATE_TEST_SUITE_P(Table, DamageTest, testing::ValuesIn(AllDamageCases()), DamageCaseName);

// The bad records saved and read again passing over bad records give no row and the same
// faults; only the first bad records' bytes up to the cap are held and saved.
TEST(BadRecords, SavedFileReadsAsTheSameFaults) {
  std::string bytes;
  for (Damage d :
       {Damage::CutInTwo, Damage::LeaderDigits, Damage::DirectoryPastData, Damage::CutInDirectory})
    bytes += MakeDamaged(d, Layout::Lines).bytes;
  const std::string path = WriteTemp("bad-source.mrc", bytes);
  RecordReader reader;
  CollectSink sink;
  const ReadOutcome first = reader.Read(path, sink, ReadMode::PassOver);
  ASSERT_EQ(first.bad->records.size(), 6u);
  const std::filesystem::path saved = path + "-saved.mrc";
  EXPECT_EQ(WriteReplacing(saved, BadRecordsBytes(*first.bad), path), std::nullopt);
  // Never over the file read.
  EXPECT_NE(WriteReplacing(path, "x", path), std::nullopt);
  CollectSink again;
  const ReadOutcome second = reader.Read(saved.string(), again, ReadMode::PassOver);
  EXPECT_TRUE(again.rows.empty());
  auto faults = [](const BadList& list) {
    std::vector<std::tuple<ReadFault, std::string, BadRecord::Hint, std::string>> out;
    for (const BadRecord& b : list.records)
      out.emplace_back(b.error.fault, b.error.reason, b.hint, b.bytes);
    return out;
  };
  EXPECT_EQ(faults(*second.bad), faults(*first.bad));

  RecordReader::Tuning capped;
  capped.heldBadBytes = first.bad->records[0].length + first.bad->records[1].length;
  reader.SetTuning(capped);
  CollectSink third;
  const ReadOutcome held = reader.Read(path, third, ReadMode::PassOver);
  EXPECT_EQ(held.bad->NotHeld(), 4);
  EXPECT_EQ(BadRecordsBytes(*held.bad),
            first.bad->records[0].bytes + "\r\n" + first.bad->records[1].bytes + "\r\n");
  std::filesystem::remove(path);
  std::filesystem::remove(saved);
}

// The read cut into stretches of every size, decoded on two threads, gives what one thread
// reading the file in one piece gives: the same rows, progress, failure, position and leader
// numbers, the first failure in file order winning; passing over bad records, the same bad
// records with the same hints, told to the sink in the same order.
struct Stretched {
  std::vector<BookRow> rows;
  std::vector<std::int64_t> progress;
  std::string error;
  std::int64_t line = 0, record = 0;
  std::int32_t length = 0, base = 0;
  BadList bad;
  std::vector<BadRecord> passedOver;
  bool operator==(const Stretched&) const = default;
};

Stretched ReadStretched(const std::string& path, int threads, std::size_t blockBytes,
                        ReadMode mode) {
  RecordReader reader;
  RecordReader::Tuning tuning;
  tuning.threads = threads;
  tuning.blockBytes = blockBytes;
  reader.SetTuning(tuning);
  CollectSink sink;
  Stretched out;
  const ReadOutcome outcome = reader.Read(path, sink, mode);
  if (outcome.error) out.error = outcome.error->reason;
  out.bad = *outcome.bad;
  out.passedOver = std::move(sink.passedOver);
  out.rows = std::move(sink.rows);
  out.progress = std::move(sink.progress);
  out.line = reader.Position().line;
  out.record = reader.Position().record;
  out.length = reader.RecordLength;
  out.base = reader.BaseAddress;
  return out;
}

std::string FileBytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class StretchTest : public testing::TestWithParam<const char*> {};

TEST_P(StretchTest, SameAsOnePiece) {
  std::string path = kData + "/" + GetParam();
  std::string made;
  // Failures far into a file of many stretches, in both layouts.
  if (std::string(GetParam()) == "late_bad_leader") {
    const std::string lines = FileBytesOf(kData + "/realcn_lines.mrc");
    for (int i = 0; i < 8; ++i) made += lines;
    made += FileBytesOf(kData + "/cases_bad_leader.mrc") + lines;
  } else if (std::string(GetParam()) == "late_missing_field") {
    const std::string concat = FileBytesOf(kData + "/realcn_concat.mrc");
    for (int i = 0; i < 8; ++i) made += concat;
    made += FileBytesOf(kData + "/cases_missing_field.mrc") + concat;
  } else if (std::string(GetParam()) == "long_lines") {
    // Lines without a break for longer than one look ahead for a stretch's end (a CR LF pair
    // across its edge) and than all of them (looked through in place).
    const std::string lines = FileBytesOf(kData + "/realcn_lines.mrc");
    made = lines;
    for (std::size_t run : {4095, 4096, 4097, 5000, 70000})
      made += std::string(run, 'x') + "\r\n" + lines;
  } else if (std::string(GetParam()).starts_with("damaged")) {
    // Every damage, a cut record's two pieces falling on either side of a stretch's end too.
    const bool lines = std::string(GetParam()) == "damaged_lines";
    const std::string good =
        FileBytesOf(kData + (lines ? "/realcn_lines.mrc" : "/realcn_concat.mrc"));
    for (Damage d : {Damage::CutInTwo, Damage::LeaderDigits, Damage::CutInDirectory,
                     Damage::DirectoryPastData, Damage::CutInTwo, Damage::FileEndsInside})
      made += good + MakeDamaged(d, lines ? Layout::Lines : Layout::BackToBack).bytes;
  }
  if (!made.empty()) {
    path = (std::filesystem::temp_directory_path() /
            ("tessaly_stretch_" + std::string(GetParam()) + ".mrc"))
               .string();
    std::ofstream(path, std::ios::binary) << made;
  }
  for (ReadMode mode : {ReadMode::Stop, ReadMode::PassOver}) {
    const Stretched whole = ReadStretched(path, 1, std::size_t{1} << 40, mode);
    for (std::size_t blockBytes : {1, 2, 7, 64, 333, 4096}) {
      const Stretched cut = ReadStretched(path, 2, blockBytes, mode);
      EXPECT_TRUE(cut == whole) << "stretches of " << blockBytes << " bytes: " << cut.rows.size()
                                << " rows, " << cut.bad.records.size() << " bad, '" << cut.error
                                << "' at line " << cut.line << ", record " << cut.record
                                << "; one piece: " << whole.rows.size() << " rows, "
                                << whole.bad.records.size() << " bad, '" << whole.error
                                << "' at line " << whole.line << ", record " << whole.record;
    }
  }
  if (!made.empty()) std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Files, StretchTest,
                         testing::Values("realcn_lines.mrc", "realcn_concat.mrc",
                                         "cases_blank_lines.mrc", "cases_nul.mrc",
                                         "cases_bad_leader.mrc", "cases_missing_field.mrc",
                                         "cases_unterminated.mrc", "cases_blank_only_line.mrc",
                                         "cases_blank_then_text.mrc", "late_bad_leader",
                                         "late_missing_field", "long_lines", "damaged_lines",
                                         "damaged_concat"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(Reader, NoCarryOverBetweenRecordsOrReads) {
  RecordReader reader;
  CollectSink first, second;
  reader.Read(kData + "/cases_lines.mrc", first);
  ASSERT_EQ(first.rows.size(), 3u);
  const BookRow& b = first.rows[1];
  EXPECT_EQ(b[Price], "") << "B has no 010";
  EXPECT_EQ(b[Summary], "") << "B has no 330";
  EXPECT_EQ(b[Isbn], "");
  EXPECT_EQ(b[Publisher], "");
  EXPECT_EQ(first.rows[2][Isbn], "0012");
  EXPECT_EQ(first.rows[2][Price], "");
  // A second read starts from empty cells too: C's leftovers never reach A's row.
  reader.Read(kData + "/cases_concat.mrc", second);
  EXPECT_EQ(RawLine(second.rows[0]), RawLine(first.rows[0]));
}

TEST(Reader, CellsOfAFullRecord) {
  RecordReader reader;
  CollectSink sink;
  reader.Read(kData + "/cases_lines.mrc", sink);
  const BookRow& a = sink.rows[0];
  EXPECT_EQ(a[Author], "\xD5\xC5\xC8\xFD\xD6\xF8");  // 张三著
  EXPECT_EQ(a[Isbn], "7-111-22222-3");
  EXPECT_EQ(a[Price], "25.00");
  EXPECT_EQ(a[PubDate], "2001.10");
  EXPECT_EQ(a[Pages], "206\xD2\xB3");
  EXPECT_EQ(a[Dimensions], "21cm");
  EXPECT_EQ(a[ClassNumber], "I247.5");
  EXPECT_EQ(sink.rows[2][Title], kC) << "uppercase $A pinyin before $a";
}

TEST(Reader, LastRecordWithoutTerminatorLosesNoByte) {
  RecordReader reader;
  CollectSink sink;
  reader.Read(kData + "/cases_unterminated.mrc", sink);
  ASSERT_EQ(sink.rows.size(), 2u);
  EXPECT_EQ(sink.rows[1][Summary], "\xC4\xA9\xCE\xB2");  // 末尾
}

// A name that does not exist gives the last read's rows again, and its failure after them, with
// the file itself gone; before any read it fails, and a folder is no file.
TEST(Reader, MissingNameGivesTheLastReadAgain) {
  struct Case {
    const char* file;
    std::size_t rows;
    const char* error;  // the failure's message, empty for none
    ReadPosition at;
  };
  for (const Case& c :
       {Case{"cases_lines.mrc", 3, "", {3, 3}},
        Case{"cases_bad_leader.mrc", 1, "'0x12Z' is not a valid integer value", {2, 2}}}) {
    SCOPED_TRACE(c.file);
    const std::filesystem::path copy =
        std::filesystem::temp_directory_path() / ("tessaly-reread-" + std::string(c.file));
    std::filesystem::copy_file(kData + "/" + c.file, copy,
                               std::filesystem::copy_options::overwrite_existing);
    RecordReader reader;
    CollectSink never;
    EXPECT_EQ(reader.Read(copy.string() + ".none", never).error->fault, ReadFault::Open);
    auto read = [&](CollectSink& sink) {
      const ReadOutcome outcome = reader.Read(copy.string(), sink);
      return outcome.error ? outcome.error->reason : std::string();
    };
    CollectSink first, again;
    EXPECT_EQ(read(first), c.error);
    std::filesystem::remove(copy);
    EXPECT_EQ(read(again), c.error);
    EXPECT_EQ(first.rows.size(), c.rows);
    EXPECT_EQ(again.rows, first.rows);
    EXPECT_EQ(again.progress, first.progress);
    EXPECT_EQ(again.elapsed.size(), first.elapsed.size());
    EXPECT_EQ(reader.Position().record, c.at.record);
    EXPECT_EQ(reader.Position().line, c.at.line);
    CollectSink folder;
    EXPECT_EQ(reader.Read(kData, folder).error->fault, ReadFault::Open);
    EXPECT_TRUE(folder.rows.empty());
  }
}

// A name outside ASCII names its file: it is read, not taken for a missing name that gives the
// last read again.
TEST(Reader, NameOutsideAsciiIsReadNotTakenForMissing) {
  RecordReader reader;
  CollectSink first, second;
  reader.Read(kData + "/cases_lines.mrc", first);
  const std::filesystem::path named =
      std::filesystem::temp_directory_path() / std::filesystem::path(u8"tessaly-图书.mrc");
  std::filesystem::copy_file(kData + "/cases_unterminated.mrc", named,
                             std::filesystem::copy_options::overwrite_existing);
  reader.Read(named, second);
  std::filesystem::remove(named);
  ASSERT_EQ(first.rows.size(), 3u);
  EXPECT_EQ(second.rows.size(), 2u);
}

// A read, and the rows of a name that does not exist given again, are timed on the reader's
// clock (a steady one, which no change of the wall clock moves), from start to end.
TEST(Reader, ElapsedTimeComesFromItsClock) {
  using namespace std::chrono_literals;
  const std::chrono::steady_clock::time_point t0{};
  std::vector<std::chrono::steady_clock::time_point> ticks = {t0, t0 + 3725s, t0 + 4000s,
                                                              t0 + 4002s};
  std::size_t next = 0;
  RecordReader reader;
  reader.SetClock([&] { return ticks.at(next++); });
  CollectSink read, again;
  reader.Read(kData + "/cases_lines.mrc", read);
  reader.Read(kData + "/no-such-file.mrc", again);
  EXPECT_EQ(read.elapsed, std::vector<std::chrono::steady_clock::duration>{3725s});
  EXPECT_EQ(again.elapsed, std::vector<std::chrono::steady_clock::duration>{2s});
  EXPECT_EQ(again.rows, read.rows);
}

// Builds one record: leader with the given base address, the directory bytes, then data.
std::string Record(const std::string& base, const std::string& directory, const std::string& data) {
  std::string leader = "00000nam0 22" + base + "   450 ";
  return leader + directory + "\x1E" + data + "\x1D";
}

// The decode threads copy stretches out of a file on disk: the bytes the view holds, or nothing
// when the range is not the file's; bytes in memory are never copied.
TEST(FileBytes, CopyOutGivesTheViewsBytes) {
  const auto path = std::filesystem::temp_directory_path() / "tessaly-copyout.bin";
  std::string content;
  for (int i = 0; i < 20000; ++i) content += static_cast<char>(i * 7 % 251);
  std::ofstream(path, std::ios::binary) << content;
  auto file = FileBytes::Load(path);
  ASSERT_EQ(file->View(), content);
  const std::size_t size = content.size();
  struct Range {
    std::uint64_t offset;
    std::size_t size;
    bool copied;
  };
  for (const Range& r :
       {Range{0, 0, true}, Range{0, 1, true}, Range{1, 4095, true}, Range{4096, 8192, true},
        Range{size - 1, 1, true}, Range{0, size, true}, Range{size, 1, false},
        Range{size - 1, 2, false}, Range{~std::uint64_t{0}, 2, false}}) {
    std::string out(r.size, '?');
    EXPECT_EQ(file->CopyOut(r.offset, r.size, out.data()), r.copied) << r.offset << " + " << r.size;
    if (r.copied) {
      EXPECT_EQ(out, content.substr(r.offset, r.size)) << r.offset << " + " << r.size;
    }
  }
  char byte;
  EXPECT_FALSE(FileBytes::FromString(content)->CopyOut(0, 1, &byte));
  file.reset();  // on Windows, held files cannot be removed
  std::filesystem::remove(path);
}

TEST(DecodeRecord, DirectoryEntriesRoundHalfEven) {
  RecordReader reader;
  const std::string fields = std::string(
                                 "1 \x1F"
                                 "aT1\x1E") +
                             "1 \x1F"
                             "aT2\x1E" +
                             "1 \x1F"
                             "aT3\x1E" +
                             "1 \x1F"
                             "aT4\x1E";
  // 30 bytes of directory: two entries; the 6 leftover bytes do not count.
  std::string dir30 = "200000000000200000000000200000";
  BookRow row = reader.DecodeRecord(Record("00055", dir30, fields)).row;
  EXPECT_EQ(row[Title], "T2");
  // 42 bytes: four entries, the fourth tag being the first 3 of 6 leftover bytes.
  std::string dir42 = "001000000000001000000000001000000000200000";
  row = reader.DecodeRecord(Record("00067", dir42, fields)).row;
  EXPECT_EQ(row[Title], "T4");
}

TEST(DecodeRecord, LeaderEdges) {
  RecordReader reader;
  // A base address of 25 or less leaves no directory: an empty row, no failure.
  EXPECT_EQ(reader
                .DecodeRecord(Record("00010", "",
                                     "1 \x1F"
                                     "aX\x1E"))
                .row,
            BookRow{});
  // Base address at the far ends of 32 bits: nothing wraps.
  for (const char* base : {"$FFFF", "-2147", "99999", "   -0"})
    EXPECT_EQ(reader.DecodeRecord(Record(base, "", "")).row, BookRow{}) << base;
  // A directory naming a 200 field beyond the data part fails.
  EXPECT_EQ(reader.DecodeRecord(Record("99999", "200000000000", "")).fault,
            (RecordFault{ReadFault::Directory, "List index out of bounds (1)"}));
  EXPECT_EQ(reader.DecodeRecord("short").fault,
            (RecordFault{ReadFault::Number, "'short' is not a valid integer value"}));
  EXPECT_EQ(reader.DecodeRecord("").fault->fault, ReadFault::Number);
}

TEST(DecodeRecord, ALastFieldOfEachTagWins) {
  RecordReader reader;
  const std::string data = std::string(
                               "1 \x1F"
                               "aFIRST\x1E") +
                           "1 \x1F"
                           "aSECOND\x1E";
  BookRow row = reader.DecodeRecord(Record("00049", "200000000000200000000000", data)).row;
  EXPECT_EQ(row[Title], "SECOND");
}

TEST(DecodeRecord, PriceOnlyFromA010ThatHasOne) {
  RecordReader reader;
  const std::string data = std::string(
                               "  \x1F"
                               "a1\x1F"
                               "dCNY9.50\x1E") +
                           "  \x1F"
                           "a2\x1E";
  BookRow row = reader.DecodeRecord(Record("00049", "010000000000010000000000", data)).row;
  EXPECT_EQ(row[Isbn], "2");
  EXPECT_EQ(row[Price], "9.50") << "a later 010 without a price keeps the record's price";
}

TEST(DetectEncoding, Rule) {
  EXPECT_EQ(DetectEncoding(""), TextEncoding::Gb18030);
  EXPECT_EQ(DetectEncoding("plain ascii"), TextEncoding::Gb18030);
  EXPECT_EQ(DetectEncoding("\xE4\xB9\xA6"), TextEncoding::Utf8);             // 书
  EXPECT_EQ(DetectEncoding("\xCA\xE9"), TextEncoding::Gb18030);              // 书 in GBK
  EXPECT_EQ(DetectEncoding("\xE4\xB9\xA6\xCA\xE9"), TextEncoding::Gb18030);  // mixed
  EXPECT_EQ(DetectEncoding("\xC0\x80"), TextEncoding::Gb18030);              // overlong
  EXPECT_EQ(DetectEncoding("\xED\xA0\x80"), TextEncoding::Gb18030);          // surrogate
  EXPECT_EQ(DetectEncoding("\xE4\xB9"), TextEncoding::Gb18030);              // cut short
  EXPECT_EQ(DetectEncoding("\xF0\x9F\x98\x80"), TextEncoding::Utf8);
  // Long ASCII runs are skipped in blocks: a bad byte anywhere in or after them still counts.
  const std::string ascii(21, 'a');
  for (std::size_t at = 0; at <= ascii.size(); ++at) {
    // Concatenated rather than inserted: GCC 12 at -O3 warns falsely on string::insert here
    // (-Wrestrict, GCC bug 105329).
    const std::string head = ascii.substr(0, at), tail = ascii.substr(at);
    EXPECT_EQ(DetectEncoding(head + "\xE4\xB9\xA6" + tail), TextEncoding::Utf8) << at;
    EXPECT_EQ(DetectEncoding(head + "\xCA\xE4\xB9\xA6" + tail), TextEncoding::Gb18030) << at;
  }
}

TEST(DetectEncoding, RealFiles) {
  RecordReader reader;
  CollectSink gbk, utf8;
  reader.Read(kData + "/realcn_concat.mrc", gbk);
  EXPECT_EQ(reader.Encoding(), TextEncoding::Gb18030);
  reader.Read(kData + "/realcn_utf8.mrc", utf8);
  EXPECT_EQ(reader.Encoding(), TextEncoding::Utf8);
  ASSERT_EQ(utf8.rows.size(), gbk.rows.size());
  // Real Chinese GBK text of a title's length (three characters or more) is never taken for
  // UTF-8. A single character can be: 页 (D2 B3) is also a valid UTF-8 pair.
  int checked = 0;
  for (const auto& row : gbk.rows) {
    for (const auto& cell : row.cells) {
      const auto high = std::count_if(cell.begin(), cell.end(), [](char c) { return c & 0x80; });
      if (high < 6) continue;
      EXPECT_EQ(DetectEncoding(cell), TextEncoding::Gb18030) << cell;
      ++checked;
    }
  }
  EXPECT_GT(checked, 100);
  EXPECT_EQ(DetectEncoding("206\xD2\xB3"), TextEncoding::Utf8);
}

}  // namespace
}  // namespace marc
