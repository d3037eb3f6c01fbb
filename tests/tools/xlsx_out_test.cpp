// The workbook writer, read back through read_xlsx.py: sheets, text cells, cuts, and the
// temporary name that becomes the target only at the end.
#include "xlsx_out.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using tessaly::XlsxOptions;
using tessaly::XlsxOut;

namespace {

using Row = std::vector<std::string>;

class XlsxOutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) c = c == '/' ? '_' : c;
    dir_ = fs::temp_directory_path() / ("tessaly-xlsx-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    return names;
  }
  // The workbook as read_xlsx.py prints it; fails the test when it finds a non-text cell.
  static std::string ReadBack(const std::string& path) {
    std::string out;
    std::FILE* pipe = popen(("python3 " TESSALY_READ_XLSX " '" + path + "'").c_str(), "r");
    if (pipe == nullptr) {
      ADD_FAILURE() << "cannot run read_xlsx.py";
      return out;
    }
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      out.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << "read_xlsx.py rejected " << path;
    return out;
  }

  fs::path dir_;
};

struct SplitCase {
  const char* name;
  int rows;
  std::int64_t sheet_rows;
  const char* expected;
};
void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class XlsxSplit : public XlsxOutTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(XlsxSplit, EverySheetStartsWithTheCaptions) {
  XlsxOptions options;
  options.limits.sheet_rows = GetParam().sheet_rows;
  XlsxOut out(Path("b.xlsx"), {"名称", "isbn"}, options);
  for (int i = 1; i <= GetParam().rows; ++i) out.AppendRow(Row{"r" + std::to_string(i), ""});
  out.Finish();
  EXPECT_EQ(out.Rows(), GetParam().rows);
  EXPECT_EQ(ReadBack(Path("b.xlsx")), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XlsxSplit,
    ::testing::Values(SplitCase{"NoRows", 0, 3, "== Sheet1\n名称\tisbn\n"},
                      SplitCase{"FillsOneSheet", 2, 3, "== Sheet1\n名称\tisbn\nr1\t\nr2\t\n"},
                      SplitCase{"OneRowOver", 3, 3,
                                "== Sheet1\n名称\tisbn\nr1\t\nr2\t\n== Sheet2\n名称\tisbn\nr3\t\n"},
                      SplitCase{
                          "ThreeSheets", 5, 3,
                          "== Sheet1\n名称\tisbn\nr1\t\nr2\t\n== Sheet2\n名称\tisbn\nr3\t\nr4\t\n"
                          "== Sheet3\n名称\tisbn\nr5\t\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(XlsxOutTest, CellsStayTextExactlyAsGiven) {
  const Row row = {"0012",   "=1+1",    "1.50", "2024-01-02", "  lead",
                   "a\x01z", "_x0041_", "TRUE", "7\\t"};
  XlsxOut out(Path("t.xlsx"), {"c"});
  out.AppendRow(row);
  out.Finish();
  EXPECT_EQ(ReadBack(Path("t.xlsx")),
            "== Sheet1\nc\n0012\t=1+1\t1.50\t2024-01-02\t  lead\ta\x01z\t_x0041_\tTRUE\t7\\\\t\n");
  EXPECT_EQ(out.CutCells(), 0);
}

TEST_F(XlsxOutTest, LongCellsAreCutOnCharacterBoundariesAndCounted) {
  XlsxOptions options;
  options.limits.cell_units = 4;
  XlsxOut out(Path("c.xlsx"), {"c"}, options);
  // "𝄞" is two UTF-16 units: it does not fit after three others.
  out.AppendRow(Row{"abcdef", "中文字典书", "abc𝄞", "𝄞𝄞", "abcd"});
  out.Finish();
  EXPECT_EQ(ReadBack(Path("c.xlsx")), "== Sheet1\nc\nabcd\t中文字典\tabc\t𝄞𝄞\tabcd\n");
  EXPECT_EQ(out.CutCells(), 3);
}

TEST_F(XlsxOutTest, TargetAppearsOnlyAtFinishAndReplacesAnOldFile) {
  std::ofstream(Path("old.xlsx")) << "not a workbook";
  {
    XlsxOut out(Path("old.xlsx"), {"c"});
    out.AppendRow(Row{"x"});
    EXPECT_EQ(Files(), std::vector<std::string>{"old.xlsx"});
    EXPECT_EQ(fs::file_size(Path("old.xlsx")), 14u) << "the old file untouched until Finish";
    out.Finish();
  }
  EXPECT_EQ(Files(), std::vector<std::string>{"old.xlsx"});
  EXPECT_EQ(ReadBack(Path("old.xlsx")), "== Sheet1\nc\nx\n");
}

TEST_F(XlsxOutTest, AnUnfinishedWorkbookLeavesNothing) {
  {
    XlsxOut out(Path("gone.xlsx"), {"c"});
    out.AppendRow(Row{"x"});
  }
  EXPECT_TRUE(Files().empty());
  EXPECT_THROW(XlsxOut(Path("no/such/folder.xlsx"), {"c"}), tessaly::XlsxError);
}

}  // namespace
