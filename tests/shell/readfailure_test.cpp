// The bad records saved: their bytes as read, the report beside them, and what is refused.
#include "readfailure.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tessaly {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

marc::BadRecord Bad(std::int64_t record, std::string bytes, marc::ReadFault fault,
                    marc::BadRecord::Hint hint, std::int64_t declared) {
  marc::BadRecord b;
  b.error = {fault, record, record, static_cast<std::uint64_t>(record) * 100,
             "raw\treason in C:\\tmp"};
  b.length = bytes.size();
  b.declared = declared;
  b.hint = hint;
  b.held = true;
  b.bytes = std::move(bytes);
  return b;
}

class SaveBadRecordsTest : public testing::Test {
 protected:
  void SetUp() override {
    // A folder of the test's own: the cases run side by side in processes of their own.
    dir =
        fs::temp_directory_path() / (std::string("tessaly-badsave-") +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    read = dir / u8"书目.mrc";
    std::ofstream(read, std::ios::binary) << "the file read";
    list.records = {Bad(3, "00050nam0 22\x1Dpiece", marc::ReadFault::Directory,
                        marc::BadRecord::Hint::CutBeforeNext, 30),
                    Bad(4, "rest of it\x1D", marc::ReadFault::Number,
                        marc::BadRecord::Hint::RestOfPrevious, -1),
                    Bad(9, "x", marc::ReadFault::Number, marc::BadRecord::Hint::None, -1)};
    list.records[2].held = false;  // past the cap
  }
  void TearDown() override { fs::remove_all(dir); }

  fs::path dir, read;
  marc::BadList list;
};

TEST_F(SaveBadRecordsTest, BytesAsReadAndAReportBeside) {
  const fs::path saved = BadRecordsName(read);
  EXPECT_EQ(saved, dir / u8"书目_坏记录.mrc");
  ASSERT_EQ(SaveBadRecords(list, saved, read), std::nullopt);
  EXPECT_EQ(Contents(saved), "00050nam0 22\x1Dpiece\r\nrest of it\x1D\r\n");
  const std::string report = Contents(dir / u8"书目_坏记录.txt");
  ASSERT_EQ(report.rfind("\xEF\xBB\xBF", 0), 0u);
  std::istringstream lines(report.substr(3));
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(lines, line);) {
    ASSERT_TRUE(line.ends_with('\r'));
    line.pop_back();
    std::vector<std::string> cells;
    std::istringstream cut(line);
    for (std::string cell; std::getline(cut, cell, '\t');) cells.push_back(cell);
    if (line.ends_with('\t')) cells.emplace_back();
    rows.push_back(cells);
  }
  // The header, then every bad record, its bytes held or not.
  ASSERT_EQ(rows.size(), 4u);
  for (const auto& row : rows) EXPECT_EQ(row.size(), 6u);
  EXPECT_EQ((std::vector<std::string>(rows[1].begin(), rows[1].begin() + 4)),
            (std::vector<std::string>{"3", "3", "300", "18"}));
  // A backslash is escaped too, so that "\\t" of a Windows path does not read as a TAB.
  EXPECT_NE(rows[1][4].find("raw\\treason in C:\\\\tmp"), std::string::npos) << rows[1][4];
  EXPECT_NE(rows[1][5].find("4"), std::string::npos) << "the next piece's record";
  EXPECT_NE(rows[2][5].find("3"), std::string::npos) << "the record it is the rest of";
  EXPECT_EQ(rows[3][5], "");
  // Nothing but the two files is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);
}

TEST_F(SaveBadRecordsTest, RefusedOrFailedWritesSayWhyAndLeaveTheFileRead) {
  const fs::path report = dir / "list.txt";
  std::ofstream(report, std::ios::binary) << "a report";
  for (const fs::path& saved : {read, fs::path(dir / "list.mrc"), dir / "none" / "bad.mrc"}) {
    SCOPED_TRACE(saved.string());
    const auto failed = SaveBadRecords(list, saved, saved == read ? read : report);
    ASSERT_TRUE(failed.has_value());
    EXPECT_FALSE(failed->empty());
  }
  EXPECT_EQ(Contents(read), "the file read");
  EXPECT_EQ(Contents(report), "a report");
  EXPECT_FALSE(fs::exists(dir / "list.mrc"));
}

}  // namespace
}  // namespace tessaly
