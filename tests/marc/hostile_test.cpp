// Hostile input: leaders that spell extreme numbers, ragged directories, stray delimiters, huge
// lines, files that are not record files and files that change under the read. Each must end in
// one clear outcome (rows, or one error of a known kind with its exact message) and leave the
// reader working for the next file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "collect_sink.h"
#include "reader.h"
#include "record_builder.h"

namespace marc {
namespace {

namespace fs = std::filesystem;

using tessaly::test::Iso2709Record;
using Field = tessaly::test::RecordField;

// The record, its bytes from 1-based position pos overwritten by text.
std::string Spell(std::string record, std::size_t pos, std::string_view text) {
  return record.replace(pos - 1, text.size(), text);
}

const std::vector<Field> kBook = {{"200",
                                   "10\x1F"
                                   "aTITLE\x1F"
                                   "fAUTHOR"},
                                  {"330",
                                   "  \x1F"
                                   "aSUMMARY"}};

BookRow Row(std::initializer_list<std::pair<Cell, std::string>> cells) {
  BookRow row;
  for (const auto& [cell, text] : cells) row[cell] = text;
  return row;
}

const BookRow kBookRow = Row({{Title, "TITLE"}, {Author, "AUTHOR"}, {Summary, "SUMMARY"}});

// A failing case is named in gtest's output by its name, not by its bytes.
template <class Case>
requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string KindOf(ReadFault fault) {
  switch (fault) {
    case ReadFault::Number:
      return "Number";
    case ReadFault::Open:
      return "Open";
    case ReadFault::Directory:
      return "Directory";
    case ReadFault::TooLong:
      return "TooLong";
    case ReadFault::CutShort:
      return "CutShort";
    case ReadFault::RestOfCutRecord:
      return "RestOfCutRecord";
    case ReadFault::OutOfMemory:
      return "OutOfMemory";
  }
  return "?";
}

// What a read ended in.
struct Outcome {
  std::vector<BookRow> rows;
  std::string kind;  // empty when the read completed
  std::string message;
  ReadPosition position;
  bool rereadable = false;
};

Outcome ReadWith(RecordReader& reader, const std::string& path) {
  CollectSink sink;
  Outcome out;
  const ReadOutcome outcome = reader.Read(path, sink);
  if (!outcome.error) {
    EXPECT_EQ(sink.elapsed.size(), 1u) << "a completed read reports its time once";
  } else {
    out.kind = KindOf(outcome.error->fault);
    out.message = outcome.error->reason;
    EXPECT_TRUE(sink.elapsed.empty()) << "a failed read reports no time";
  }
  out.rereadable = outcome.rereadable;
  std::vector<std::int64_t> counts(sink.rows.size());
  for (std::size_t i = 0; i < counts.size(); ++i) counts[i] = static_cast<std::int64_t>(i + 1);
  EXPECT_EQ(sink.progress, counts) << "one progress report per row, counting from 1";
  out.rows = std::move(sink.rows);
  out.position = reader.Position();
  return out;
}

// A folder of its own for each test's files, removed afterwards.
class TempDir {
 public:
  TempDir() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("tessaly-hostile-") + info->test_suite_name() + "-" +
                       info->name() + "-" + std::to_string(getpid());
    for (char& c : name)
      if (c == '/') c = '_';
    path_ = fs::temp_directory_path() / name;
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, std::string_view bytes) const {
    std::ofstream(Path(name), std::ios::binary).write(bytes.data(), std::ssize(bytes));
    return Path(name);
  }

 private:
  fs::path path_;
};

std::string OpenMessage(const std::string& path, int err) {
  return "Cannot open file \"" + fs::absolute(path).string() + "\". " + std::strerror(err);
}

std::string NotAnInteger(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}

// After any failure the same reader reads a good file completely.
void ExpectStillReads(RecordReader& reader, const TempDir& dir) {
  const Outcome after = ReadWith(reader, dir.Write("good.mrc", Iso2709Record(kBook) + "\r\n"));
  EXPECT_EQ(after.kind, "") << after.message;
  EXPECT_EQ(after.rows, std::vector<BookRow>{kBookRow});
  EXPECT_TRUE(after.rereadable) << "a regular file can be read again";
}

// --- Leaders ------------------------------------------------------------------------------

// The leader keeps 5 bytes for each number, so a leader "spelling" a 32-bit extreme holds its
// first 5 bytes there and the rest runs over bytes that are not read.
struct LeaderCase {
  const char* name;
  std::size_t position;  // 1: record length; 13: base address
  std::string spelled;
  std::string kind;  // empty: the read completes with one row
  std::string message;
  BookRow row;
  std::int32_t number;  // what the 5 bytes are read as
};

class LeaderTest : public testing::TestWithParam<LeaderCase> {};

TEST_P(LeaderTest, ClearOutcome) {
  const LeaderCase& c = GetParam();
  TempDir dir;
  RecordReader reader;
  const std::string record = Spell(Iso2709Record(kBook), c.position, c.spelled);
  const Outcome out = ReadWith(reader, dir.Write("leader.mrc", record + "\r\n"));
  EXPECT_EQ(out.kind, c.kind);
  EXPECT_EQ(out.message, c.message);
  if (c.kind.empty()) {
    EXPECT_EQ(out.rows, std::vector<BookRow>{c.row});
  } else {
    EXPECT_TRUE(out.rows.empty());
    EXPECT_EQ(out.position.line, 1);
    EXPECT_EQ(out.position.record, 1);
  }
  if (c.kind != "Number") {
    EXPECT_EQ(c.position == 1 ? reader.RecordLength : reader.BaseAddress, c.number);
  }
  ExpectStillReads(reader, dir);
}

// The book's record is 24 + 24 + 1 + 30 + 1 = 80 bytes.
INSTANTIATE_TEST_SUITE_P(
    Hostile, LeaderTest,
    testing::Values(
        // The record length bounds nothing: any number the leader spells leaves the row whole.
        LeaderCase{"LengthMinInt", 1, "-2147483648", "", "", kBookRow, -2147},
        LeaderCase{"LengthMaxInt", 1, "2147483647", "", "", kBookRow, 21474},
        LeaderCase{"LengthHexAllOnes", 1, "$FFFFFFFF", "", "", kBookRow, 65535},
        LeaderCase{"LengthMinusZero", 1, "   -0", "", "", kBookRow, 0},
        LeaderCase{"LengthMinusZeroThenBlank", 1, "  -0 ", "Number", NotAnInteger("  -0 "), {}, 0},
        LeaderCase{"LengthBlanks", 1, "     ", "Number", NotAnInteger("     "), {}, 0},
        // A base address at or below the directory's start leaves no directory: an empty row.
        LeaderCase{"BaseMinInt", 13, "-2147483648", "", "", BookRow{}, -2147},
        LeaderCase{"BaseMinusZero", 13, "   -0", "", "", BookRow{}, 0},
        // A base address past the data leaves the 200 entry without a field.
        LeaderCase{
            "BaseMaxInt", 13, "2147483647", "Directory", "List index out of bounds (1)", {}, 21474},
        LeaderCase{"BaseHexAllOnes",
                   13,
                   "$FFFFFFFF",
                   "Directory",
                   "List index out of bounds (1)",
                   {},
                   65535},
        LeaderCase{
            "BaseBeyondLine", 13, "00081", "Directory", "List index out of bounds (1)", {}, 81},
        LeaderCase{
            "BaseAtLastByte", 13, "00080", "Directory", "List index out of bounds (1)", {}, 80},
        LeaderCase{"BaseBlanks", 13, "     ", "Number", NotAnInteger("     "), {}, 0},
        LeaderCase{"BaseTrailingGarbage", 13, "0049x", "Number", NotAnInteger("0049x"), {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The numbers themselves, at their full width, and the reader's arithmetic on them: the
// directory (25, base - 25) and data part (base, length - base) cuts stay empty or whole, never
// wrap.
struct NumberCase {
  const char* name;
  std::string text;
  std::optional<std::int32_t> value;
};

class LeaderNumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(LeaderNumberTest, ConvertsAndCutsWithoutOverflow) {
  const NumberCase& c = GetParam();
  if (!c.value) {
    try {
      StrToIntStrict(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), NotAnInteger(c.text));
    }
    return;
  }
  const std::int64_t base = StrToIntStrict(c.text);
  EXPECT_EQ(base, *c.value);
  const std::string line = Iso2709Record(kBook);
  const auto length = static_cast<std::int64_t>(line.size());
  const std::string_view directory = MidView(line, 25, base - 25);
  const std::string_view data = MidView(line, base, length - base);
  if (base <= 25) {
    EXPECT_EQ(directory, "");
  }
  if (base > length) {
    EXPECT_EQ(directory, std::string_view(line).substr(24));
  }
  if (base < 1) {
    EXPECT_EQ(data, line);  // from 1, length - base reaches past the end
  }
  if (base >= length) {
    EXPECT_EQ(data, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, LeaderNumberTest,
    testing::Values(NumberCase{"MinInt", "-2147483648", std::numeric_limits<std::int32_t>::min()},
                    NumberCase{"MaxInt", "2147483647", std::numeric_limits<std::int32_t>::max()},
                    NumberCase{"HexAllOnes", "$FFFFFFFF", -1},
                    NumberCase{"HexMinInt", "$80000000", std::numeric_limits<std::int32_t>::min()},
                    NumberCase{"NegatedHexMinInt", "-$80000000",
                               std::numeric_limits<std::int32_t>::min()},
                    NumberCase{"BlanksMinusZero", "  -0", 0},
                    NumberCase{"Blanks", "     ", std::nullopt},
                    NumberCase{"BelowMinInt", "-2147483649", std::nullopt},
                    NumberCase{"AboveMaxInt", "2147483648", std::nullopt},
                    NumberCase{"NineHexDigits", "$100000000", std::nullopt},
                    NumberCase{"HugeDecimal", "99999999999999999999999", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Directories --------------------------------------------------------------------------

// A directory of one whole entry (200) and the first n bytes of a 330 entry: 1 to 5 leftover
// bytes are dropped, 6 count as an entry (1.5 rounds to 2), 7 to 11 count; a counted entry
// reads its tag from what is there.
struct LeftoverCase {
  const char* name;
  std::string wholeEntries;  // before the partial one
  std::size_t leftover;
  std::vector<Field> fields;
  std::string kind;
  std::string message;
  BookRow row;
};

std::string LeftoverRecord(const LeftoverCase& c) {
  std::string data;
  for (const Field& f : c.fields) data += f.text + '\x1E';
  const std::string directory = c.wholeEntries + std::string("330000900000").substr(0, c.leftover);
  const std::size_t base = 24 + directory.size() + 1;
  char leader[32];
  std::snprintf(leader, sizeof leader, "%05zunam0 22%05zu   450 ", base + data.size() + 1, base);
  return leader + directory + '\x1E' + data + '\x1D';
}

class LeftoverTest : public testing::TestWithParam<LeftoverCase> {};

TEST_P(LeftoverTest, EntriesRoundHalfEven) {
  const LeftoverCase& c = GetParam();
  TempDir dir;
  RecordReader reader;
  const Outcome out = ReadWith(reader, dir.Write("dir.mrc", LeftoverRecord(c) + "\r\n"));
  EXPECT_EQ(out.kind, c.kind);
  EXPECT_EQ(out.message, c.message);
  if (c.kind.empty())
    EXPECT_EQ(out.rows, std::vector<BookRow>{c.row});
  else
    EXPECT_TRUE(out.rows.empty());
}

const std::string k200Entry = "200003500000";
const std::string k001Entry = "001000500000";
const BookRow kTitleOnly = Row({{Title, "TITLE"}, {Author, "AUTHOR"}});

LeftoverCase Leftover(const char* name, std::size_t n, const BookRow& row) {
  return {name, k200Entry, n, kBook, "", "", row};
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, LeftoverTest,
    testing::Values(Leftover("Leftover1", 1, kTitleOnly), Leftover("Leftover2", 2, kTitleOnly),
                    Leftover("Leftover3", 3, kTitleOnly), Leftover("Leftover4", 4, kTitleOnly),
                    Leftover("Leftover5", 5, kTitleOnly), Leftover("Leftover6", 6, kBookRow),
                    Leftover("Leftover7", 7, kBookRow), Leftover("Leftover8", 8, kBookRow),
                    Leftover("Leftover9", 9, kBookRow), Leftover("Leftover10", 10, kBookRow),
                    Leftover("Leftover11", 11, kBookRow),
                    // 30 bytes: 2.5 rounds to 2, so the partial 330 entry is dropped.
                    LeftoverCase{"TwoEntriesSixLeftover",
                                 k200Entry + k001Entry,
                                 6,
                                 {kBook[0], {"001", "X"}, kBook[1]},
                                 "",
                                 "",
                                 kTitleOnly},
                    // 42 bytes: 3.5 rounds to 4, and the fourth entry's field is read.
                    LeftoverCase{"ThreeEntriesSixLeftover",
                                 k200Entry + k001Entry + k001Entry,
                                 6,
                                 {kBook[0], {"001", "X"}, {"001", "Y"}, kBook[1]},
                                 "",
                                 "",
                                 kBookRow},
                    // A counted partial entry whose field is not there fails the record (element 2
                    // is the empty text after the last field terminator).
                    LeftoverCase{"CountedEntryWithoutField",
                                 k200Entry + k001Entry,
                                 7,
                                 {kBook[0]},
                                 "Directory",
                                 "List index out of bounds (3)",
                                 {}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Delimiters in two-byte positions -----------------------------------------------------

// 0x1F is never the second byte of a GBK character, so after a stray lead byte it still opens
// a subfield; the lead byte stays where it was, alone, and no subfield runs into another.
struct DelimiterCase {
  const char* name;
  std::vector<Field> fields;
  BookRow row;
};

class DelimiterTest : public testing::TestWithParam<DelimiterCase> {};

TEST_P(DelimiterTest, DelimiterAfterLeadByte) {
  const DelimiterCase& c = GetParam();
  TempDir dir;
  RecordReader reader;
  const Outcome out = ReadWith(reader, dir.Write("delim.mrc", Iso2709Record(c.fields) + "\r\n"));
  EXPECT_EQ(out.kind, "") << out.message;
  EXPECT_EQ(reader.Encoding(), TextEncoding::Gb18030);
  EXPECT_EQ(out.rows, std::vector<BookRow>{c.row});
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, DelimiterTest,
    testing::Values(DelimiterCase{"LoneLead",
                                  {{"200",
                                    "10\x1F"
                                    "a\xB0\x1F"
                                    "fAUTHOR"}},
                                  Row({{Title, "\xB0"}, {Author, "AUTHOR"}})},
                    DelimiterCase{"WholeCharacter",
                                  {{"200",
                                    "10\x1F"
                                    "a\xB0\xA1\x1F"
                                    "fAUTHOR"}},
                                  Row({{Title, "\xB0\xA1"}, {Author, "AUTHOR"}})},
                    DelimiterCase{"CharacterThenLoneLead",
                                  {{"200",
                                    "10\x1F"
                                    "a\xB0\xA1\xB0\x1F"
                                    "fAUTHOR"}},
                                  Row({{Title, "\xB0\xA1\xB0"}, {Author, "AUTHOR"}})},
                    DelimiterCase{
                        "LoneLeadBeforeLastSubfield",
                        {{"210",
                          "  \x1F"
                          "aPLACE\xC9\x1F"
                          "cPUB\xB1\x1F"
                          "d2001"}},
                        Row({{PubPlace, "PLACE\xC9"}, {Publisher, "PUB\xB1"}, {PubDate, "2001"}})},
                    // The summary keeps later subfields; their delimiter reads "$" there too.
                    DelimiterCase{"LoneLeadInSummary",
                                  {{"330",
                                    "  \x1F"
                                    "aTEXT\xB0\x1F"
                                    "bMORE"}},
                                  Row({{Summary, "TEXT\xB0$bMORE"}})},
                    // A lead byte before the field terminator does not take the terminator along.
                    DelimiterCase{"LoneLeadEndsField",
                                  {{"200",
                                    "10\x1F"
                                    "aTITLE\xB0"},
                                   {"330",
                                    "  \x1F"
                                    "aSUMMARY"}},
                                  Row({{Title, "TITLE\xB0"}, {Summary, "SUMMARY"}})}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Size ---------------------------------------------------------------------------------

constexpr std::size_t k100MB = 100u << 20;

// One record of 100 MB on one line, with neither a record terminator nor a line end: one row
// whose summary holds all of it.
TEST(HugeLine, RecordOf100MBWithoutLineEnd) {
  TempDir dir;
  std::string summary(k100MB, 'S');
  summary.front() = 'A';
  summary.back() = 'Z';
  std::string record = Iso2709Record({kBook[0],
                                      {"330",
                                       "  \x1F"
                                       "a" +
                                           summary}},
                                     false);
  const std::string path = dir.Write("huge.mrc", record);
  std::string().swap(record);
  RecordReader reader;
  Outcome out = ReadWith(reader, path);
  ASSERT_EQ(out.kind, "") << out.message;
  ASSERT_EQ(out.rows.size(), 1u);
  EXPECT_EQ(out.position.line, 1);
  EXPECT_EQ(out.rows[0][Title], "TITLE");
  EXPECT_EQ(out.rows[0][Author], "AUTHOR");
  EXPECT_TRUE(out.rows[0][Summary] == summary)
      << "summary of " << out.rows[0][Summary].size() << " bytes, not " << summary.size();
}

// 100 MB that are no record, without a line end: the leader fails and nothing else happens.
TEST(HugeLine, NoRecordOf100MBWithoutLineEnd) {
  TempDir dir;
  const std::string path = dir.Write("huge.bin", std::string(k100MB, 'A'));
  RecordReader reader;
  const Outcome out = ReadWith(reader, path);
  EXPECT_EQ(out.kind, "Number");
  EXPECT_EQ(out.message, NotAnInteger("AAAAA"));
  EXPECT_TRUE(out.rows.empty());
  EXPECT_EQ(out.position.record, 1);
  ExpectStillReads(reader, dir);
}

// The same through the whole read: a file of one line of 2 GB and a little more. Disabled, as it
// writes 2 GB to disk and holds them in memory; run it with
//   hostile_test --gtest_also_run_disabled_tests --gtest_filter='*LineOver2GB*'
TEST(HugeLine, DISABLED_LineOver2GBFailsTheRead) {
  TempDir dir;
  const std::string head = Iso2709Record({kBook[0],
                                          {"330",
                                           "  \x1F"
                                           "a"}},
                                         false);
  const std::uint64_t size = (1ull << 31) + 64;
  {
    std::ofstream out(dir.Path("huge.mrc"), std::ios::binary);
    out.write(head.data(), std::ssize(head));
    const std::string chunk(1 << 20, 'S');
    for (std::uint64_t left = size - head.size(); left > 0;) {
      const std::uint64_t n = std::min<std::uint64_t>(left, chunk.size());
      out.write(chunk.data(), static_cast<std::streamsize>(n));
      left -= n;
    }
    ASSERT_TRUE(out.good());
  }
  RecordReader reader;
  const Outcome out = ReadWith(reader, dir.Path("huge.mrc"));
  EXPECT_EQ(out.kind, "TooLong");
  EXPECT_EQ(out.message, "Record of " + std::to_string(size) +
                             " bytes is longer than the 2147483647 bytes a record may have");
  EXPECT_TRUE(out.rows.empty());
  EXPECT_EQ(out.position.line, 1);
  EXPECT_EQ(out.position.record, 1);
}

// A record longer than 2,147,483,647 bytes is refused before any of it is read, by its length
// as a 64-bit size: cut to 32 bits, 2^32 + 40 would pass as 40. The bytes are a read-only
// mapping that is never touched, so no memory is spent; reading it would take seconds and
// gigabytes, which is how a missing check shows.
struct TooLongCase {
  const char* name;
  std::uint64_t size;
};

class TooLongRecordTest : public testing::TestWithParam<TooLongCase> {};

TEST_P(TooLongRecordTest, RefusedWithItsLength) {
  const TooLongCase& c = GetParam();
  void* map = mmap(nullptr, c.size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (map == MAP_FAILED) GTEST_SKIP() << "no address space for " << c.size << " bytes";
  RecordReader reader;
  const auto decoded = reader.DecodeRecord(std::string_view(static_cast<const char*>(map), c.size));
  EXPECT_EQ(decoded.fault, (RecordFault{ReadFault::TooLong,
                                        "Record of " + std::to_string(c.size) +
                                            " bytes is longer than the 2147483647 bytes a record "
                                            "may have"}));
  munmap(map, c.size);
}

INSTANTIATE_TEST_SUITE_P(Hostile, TooLongRecordTest,
                         testing::Values(TooLongCase{"OneByteOver", 2147483648ull},
                                         TooLongCase{"WrapsToForty", 4294967296ull + 40}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Files that are no record files -------------------------------------------------------

// Files of line ends, terminators or nothing: no row, no failure.
struct EmptyCase {
  const char* name;
  std::string bytes;
};

class NoRecordTest : public testing::TestWithParam<EmptyCase> {};

TEST_P(NoRecordTest, CompletesWithoutRows) {
  TempDir dir;
  RecordReader reader;
  const Outcome out = ReadWith(reader, dir.Write("empty.mrc", GetParam().bytes));
  EXPECT_EQ(out.kind, "") << out.message;
  EXPECT_TRUE(out.rows.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, NoRecordTest,
    testing::Values(EmptyCase{"CrLf", "\r\n"},
                    EmptyCase{"ThousandCrLf",
                              [] {
                                std::string s;
                                for (int i = 0; i < 1000; ++i) s += "\r\n";
                                return s;
                              }()},
                    EmptyCase{"LfCr", "\n\r"}, EmptyCase{"Cr", "\r"}, EmptyCase{"Lf", "\n"},
                    EmptyCase{"Empty", ""}, EmptyCase{"Terminators", "\x1D\x1D\r\n\x1D\r\n"},
                    EmptyCase{"NulFirst", std::string("\0", 1) + Iso2709Record(kBook)}),
    [](const auto& info) { return std::string(info.param.name); });

// Files of other kinds: the first line fails its leader, with the bytes it holds up to the
// first NUL or line end (a 0x1F already read as "$").
struct BinaryCase {
  const char* name;
  std::string bytes;
  std::string leader;  // what the message quotes
};

class BinaryFileTest : public testing::TestWithParam<BinaryCase> {};

TEST_P(BinaryFileTest, FailsOnTheFirstLeader) {
  const BinaryCase& c = GetParam();
  TempDir dir;
  RecordReader reader;
  const Outcome out = ReadWith(reader, dir.Write("file.bin", c.bytes));
  EXPECT_EQ(out.kind, "Number");
  EXPECT_EQ(out.message, NotAnInteger(c.leader));
  EXPECT_TRUE(out.rows.empty());
  EXPECT_EQ(out.position.line, 1);
  EXPECT_EQ(out.position.record, 1);
  ExpectStillReads(reader, dir);
}

std::string Bytes(std::initializer_list<unsigned char> b) {
  return std::string(b.begin(), b.end());
}

// A PNG image: its signature, the header chunk of a 1x1 picture and the end chunk.
const std::string kPng =
    Bytes({0x89, 'P',  'N',  'G', 0x0D, 0x0A, 0x1A, 0x0A, 0,   0,   0,   0x0D, 'I',  'H',  'D',
           'R',  0,    0,    0,   1,    0,    0,    0,    1,   8,   6,   0,    0,    0,    0x1F,
           0x15, 0xC4, 0x89, 0,   0,    0,    0,    'I',  'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});

INSTANTIATE_TEST_SUITE_P(
    Hostile, BinaryFileTest,
    testing::Values(
        BinaryCase{"Png", kPng, "\x89PNG"},
        BinaryCase{"Jpeg", Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00}),
                   "\xFF\xD8\xFF\xE0"},
        BinaryCase{"Gzip", Bytes({0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00}), "$\x8B\x08"},
        BinaryCase{"Pdf", "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n1 0 obj\n", "%PDF-"},
        BinaryCase{"Zip", Bytes({'P', 'K', 0x03, 0x04, 0x14, 0x00, 0x00}), "PK\x03\x04\x14"},
        // A record file saved as UTF-16: the second byte of every ASCII character is 0.
        BinaryCase{"Utf16", Bytes({0xFF, 0xFE, '0', 0, '0', 0, '1', 0}),
                   "\xFF\xFE"
                   "0"},
        BinaryCase{"Elf", Bytes({0x7F, 'E', 'L', 'F', 2, 1, 1, 0, 0}),
                   "\x7F"
                   "ELF\x02"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Files that cannot be read ------------------------------------------------------------

// A folder chosen in place of a file fails like a file that cannot be opened, and the lines of
// the file read before are gone, not decoded again.
TEST(Unreadable, DirectoryInPlaceOfAFile) {
  TempDir dir;
  RecordReader reader;
  ASSERT_EQ(ReadWith(reader, dir.Write("good.mrc", Iso2709Record(kBook))).rows.size(), 1u);
  fs::create_directory(dir.Path("folder.mrc"));
  const Outcome out = ReadWith(reader, dir.Path("folder.mrc"));
  EXPECT_EQ(out.kind, "Open");
  EXPECT_EQ(out.message, OpenMessage(dir.Path("folder.mrc"), EISDIR));
  EXPECT_TRUE(out.rows.empty());
  ASSERT_NE(reader.LineList(), nullptr);
  EXPECT_EQ(reader.LineList()->Rows(), 0u);
  ExpectStillReads(reader, dir);
}

// A device chosen in place of a file is refused before it is read: /dev/zero and /dev/urandom
// never end, and reading on would take all memory.
TEST(Unreadable, DeviceInPlaceOfAFile) {
  TempDir dir;
  RecordReader reader;
  for (const std::string device : {"/dev/zero", "/dev/urandom"}) {
    if (!fs::exists(device)) continue;
    const Outcome out = ReadWith(reader, device);
    EXPECT_EQ(out.kind, "Open") << device;
    EXPECT_EQ(out.message, OpenMessage(device, ENODEV));
    EXPECT_TRUE(out.rows.empty());
  }
  ExpectStillReads(reader, dir);
}

// The file was there when it was chosen and is not readable by the time the read opens it.
enum class Change { Removed, ReplacedByFolder, MadeUnreadable };
struct ChangeCase {
  const char* name;
  Change change;
  int err;
};

class ChangedFileTest : public testing::TestWithParam<ChangeCase> {};

TEST_P(ChangedFileTest, FailsToOpen) {
  const ChangeCase& c = GetParam();
  if (c.change == Change::MadeUnreadable && geteuid() == 0)
    GTEST_SKIP() << "root reads a file of mode 000; removal covers the failure path";
  TempDir dir;
  RecordReader reader;
  const std::string chosen = dir.Write("chosen.mrc", Iso2709Record(kBook));
  switch (c.change) {
    case Change::Removed:
      fs::remove(chosen);
      break;
    case Change::ReplacedByFolder:
      fs::remove(chosen);
      fs::create_directory(chosen);
      break;
    case Change::MadeUnreadable:
      fs::permissions(chosen, fs::perms::none);
      break;
  }
  const Outcome out = ReadWith(reader, chosen);
  EXPECT_EQ(out.kind, "Open");
  EXPECT_EQ(out.message, OpenMessage(chosen, c.err));
  EXPECT_TRUE(out.rows.empty());
  ExpectStillReads(reader, dir);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, ChangedFileTest,
    testing::Values(ChangeCase{"Removed", Change::Removed, ENOENT},
                    ChangeCase{"ReplacedByFolder", Change::ReplacedByFolder, EISDIR},
                    ChangeCase{"MadeUnreadable", Change::MadeUnreadable, EACCES}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Files being written ------------------------------------------------------------------

// Record i of a growing file: its title and summary carry i, so a row shows which record it
// came from.
std::string Numbered(int i) {
  const std::string n = std::to_string(i);
  return Iso2709Record({{"200",
                         "10\x1F"
                         "aTITLE" +
                             n +
                             "\x1F"
                             "fAUTHOR"},
                        {"330",
                         "  \x1F"
                         "aSUMMARY" +
                             n}}) +
         "\r\n";
}

BookRow NumberedRow(int i) {
  const std::string n = std::to_string(i);
  return Row({{Title, "TITLE" + n}, {Author, "AUTHOR"}, {Summary, "SUMMARY" + n}});
}

// Another program writes the file through a pipe in small pieces, cutting records apart, while
// the read takes it: the read waits for the writer's end and decodes every record whole.
TEST(BeingWritten, ThroughAPipeInPieces) {
  TempDir dir;
  const std::string path = dir.Path("pipe.mrc");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << std::strerror(errno);
  constexpr int kRecords = 200;
  std::string content;
  for (int i = 0; i < kRecords; ++i) content += Numbered(i);
  std::thread writer([&] {
    // Opened without blocking, so that a read that never opens the pipe cannot hang the test.
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 5000; ++tries) {
      fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (fd < 0) return;
    fcntl(fd, F_SETFL, 0);
    for (std::size_t at = 0; at < content.size(); at += 997) {
      const std::size_t n = std::min<std::size_t>(997, content.size() - at);
      if (write(fd, content.data() + at, n) != static_cast<ssize_t>(n)) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    close(fd);
  });
  RecordReader reader;
  const Outcome out = ReadWith(reader, path);
  writer.join();
  EXPECT_EQ(out.kind, "") << out.message;
  EXPECT_FALSE(out.rereadable) << "a pipe's bytes are gone once read";
  ASSERT_EQ(out.rows.size(), static_cast<std::size_t>(kRecords));
  for (int i = 0; i < kRecords; ++i) EXPECT_EQ(out.rows[i], NumberedRow(i)) << "row " << i;
}

// A pipe that no program writes: the read gives up after the pipe's silence limit instead of
// waiting for a writer forever (the window would freeze).
TEST(BeingWritten, PipeWithoutWriter) {
  TempDir dir;
  const std::string path = dir.Path("silent.mrc");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << std::strerror(errno);
  RecordReader reader;
  RecordReader::Tuning tuning;
  tuning.file.pipeSilence = std::chrono::milliseconds(50);
  reader.SetTuning(tuning);
  const Outcome out = ReadWith(reader, path);
  EXPECT_EQ(out.kind, "Open");
  EXPECT_EQ(out.message, "Cannot open file \"" + fs::absolute(path).string() +
                             "\". Nothing was written to the pipe within 50 ms");
  EXPECT_TRUE(out.rows.empty());
  ExpectStillReads(reader, dir);
}

// Another program cuts the file short, or removes it, while the read is in its first stretch.
// Once read, completed or failed, the file is neither mapped nor open: the process holds nothing
// of it (what the rows hold is the program's own).
TEST(LetGo, NothingOfTheFileHeldAfterTheRead) {
  TempDir dir;
  auto holds = [](const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
      if (line.find(path) != std::string::npos) return true;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      if (fs::read_symlink(fd.path(), ec).string() == path) return true;
    }
    return false;
  };
  for (const std::string& content : {Numbered(1) + Numbered(2), Numbered(1) + "bad leader\r\n"}) {
    const std::string path = fs::absolute(dir.Write("held.mrc", content)).string();
    RecordReader reader;
    const Outcome out = ReadWith(reader, path);
    EXPECT_FALSE(out.rows.empty());
    EXPECT_FALSE(holds(path)) << (out.kind.empty() ? "completed" : out.kind);
  }
}

// A cut ends the read with a message naming the file, after the rows of the stretches read
// before it and no others; a removal changes nothing, the bytes being the read's own.
struct CutCase {
  const char* name;
  int threads;
  bool remove;
  double keep;  // the part of the file a cut leaves
};

class CutWhileReadTest : public testing::TestWithParam<CutCase> {};

class CuttingSink : public CollectSink {
 public:
  explicit CuttingSink(std::function<void()> cut) : cut_(std::move(cut)) {}
  bool AppendRows(std::shared_ptr<const RowBlock> rows, std::int64_t rowsBefore) override {
    CollectSink::AppendRows(std::move(rows), rowsBefore);
    if (cut_) std::exchange(cut_, nullptr)();
    return true;
  }

 private:
  std::function<void()> cut_;
};

TEST_P(CutWhileReadTest, NeverEndsTheProgram) {
  const CutCase& c = GetParam();
  TempDir dir;
  constexpr int kRecords = 3000;
  std::string content;
  for (int i = 0; i < kRecords; ++i) content += Numbered(i);
  const std::string path = dir.Write("cut.mrc", content);
  RecordReader reader;
  RecordReader::Tuning tuning;
  tuning.threads = c.threads;
  tuning.blockBytes = 8192;
  reader.SetTuning(tuning);
  CuttingSink sink([&] {
    if (c.remove)
      fs::remove(path);
    else
      fs::resize_file(path, static_cast<std::uintmax_t>(content.size() * c.keep));
  });
  const ReadOutcome outcome = reader.Read(path, sink);
  const std::string message = outcome.error ? outcome.error->reason : std::string();
  EXPECT_TRUE(!outcome.error || outcome.error->fault == ReadFault::CutShort);
  if (c.remove) {
    EXPECT_EQ(message, "");
    EXPECT_EQ(sink.rows.size(), static_cast<std::size_t>(kRecords));
  } else {
    EXPECT_EQ(message, "The file \"" + fs::absolute(path).string() +
                           "\" was cut short by another program while it was read");
    // The first stretch only: about 8 KB of records.
    ASSERT_GT(sink.rows.size(), 0u);
    EXPECT_LT(sink.rows.size(), 100u);
  }
  for (std::size_t i = 0; i < sink.rows.size(); ++i)
    ASSERT_EQ(sink.rows[i], NumberedRow(static_cast<int>(i))) << "row " << i;
  ExpectStillReads(reader, dir);
}

INSTANTIATE_TEST_SUITE_P(Hostile, CutWhileReadTest,
                         testing::Values(CutCase{"EmptiedOneThread", 1, false, 0.0},
                                         CutCase{"EmptiedTwoThreads", 2, false, 0.0},
                                         CutCase{"HalvedTwoThreads", 2, false, 0.5},
                                         CutCase{"InsideLastPage", 1, false, 0.9999},
                                         CutCase{"Removed", 2, true, 1.0}),
                         [](const auto& info) { return std::string(info.param.name); });

// Another program appends records to the file while the read takes it. The read sees the file
// up to some point: every record before that point is whole and in order, and the one the point
// cuts, if any, is the last: a row whose cells are the start of that record's cells, or a
// failure at that record.
TEST(BeingWritten, AppendedWhileRead) {
  TempDir dir;
  constexpr int kBefore = 500, kAll = 20000;
  std::string initial;
  for (int i = 0; i < kBefore; ++i) initial += Numbered(i);
  const std::string path = dir.Write("growing.mrc", initial);
  std::atomic<bool> started = false;
  std::thread writer([&] {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    if (fd < 0) return;
    started = true;
    for (int i = kBefore; i < kAll; ++i) {
      const std::string r = Numbered(i);
      if (write(fd, r.data(), r.size()) != static_cast<ssize_t>(r.size())) break;
    }
    close(fd);
  });
  while (!started) std::this_thread::yield();
  RecordReader reader;
  const Outcome out = ReadWith(reader, path);
  writer.join();

  ASSERT_GE(out.rows.size(), static_cast<std::size_t>(kBefore));
  ASSERT_LE(out.rows.size(), static_cast<std::size_t>(kAll));
  const std::size_t whole = out.kind.empty() ? out.rows.size() - 1 : out.rows.size();
  for (std::size_t i = 0; i < whole; ++i)
    ASSERT_EQ(out.rows[i], NumberedRow(static_cast<int>(i))) << "row " << i;
  if (out.kind.empty()) {
    const std::size_t last = out.rows.size() - 1;
    const BookRow want = NumberedRow(static_cast<int>(last));
    for (std::size_t cell = 0; cell < CellCount; ++cell)
      EXPECT_TRUE(want[cell].starts_with(out.rows[last][cell]))
          << "cell " << cell << " of the last row: " << out.rows[last][cell];
  } else {
    EXPECT_TRUE(out.kind == "Number" || out.kind == "Directory") << out.kind << ": " << out.message;
    EXPECT_EQ(out.position.record, static_cast<std::int64_t>(out.rows.size()) + 1);
  }
  // Read again once the writer is done: every record, whole.
  const Outcome again = ReadWith(reader, path);
  EXPECT_EQ(again.kind, "") << again.message;
  EXPECT_EQ(again.rows.size(), static_cast<std::size_t>(kAll));
}

}  // namespace
}  // namespace marc
