// The Windows open: a file another program holds open for writing fails with the system's own
// text for the reason; while it is read, no program may open it for writing; once read, any may.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "collect_sink.h"
#include "reader.h"

namespace marc {
namespace {

std::string SystemText(DWORD code) {
  char* buffer = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text(buffer, n);
  LocalFree(buffer);
  return text;
}

HANDLE OpenForWriting(const std::filesystem::path& path) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(WindowsOpen, DeniesWritingBothWays) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "tessaly_windows_open.mrc";
  {
    std::ifstream in(std::string(TESSALY_TEST_DATA) + "/cases_lines.mrc", std::ios::binary);
    std::ofstream(path, std::ios::binary) << in.rdbuf();
  }
  RecordReader reader;
  CollectSink sink;
  const HANDLE writer = OpenForWriting(path);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  {
    const ReadOutcome outcome = reader.Read(path.string(), sink);
    ASSERT_TRUE(outcome.error) << "read a file held open for writing";
    EXPECT_EQ(outcome.error->fault, ReadFault::Open);
    // The system's text, without its line end and full stop.
    std::string reason = SystemText(ERROR_SHARING_VIOLATION);
    reason.erase(reason.find_last_not_of(" \r\n.") + 1);
    ASSERT_FALSE(reason.empty());
    EXPECT_EQ(outcome.error->reason,
              "Cannot open file \"" + std::filesystem::absolute(path).string() + "\". " + reason);
  }
  CloseHandle(writer);

  // While the read runs, nobody writes the file.
  struct TryingSink : CollectSink {
    std::filesystem::path path;
    DWORD refused = 0;
    bool AppendRows(std::shared_ptr<const RowBlock> rows, std::int64_t rowsBefore) override {
      const HANDLE h = OpenForWriting(path);
      refused = h == INVALID_HANDLE_VALUE ? GetLastError() : (CloseHandle(h), 0);
      return CollectSink::AppendRows(std::move(rows), rowsBefore);
    }
  } trying;
  trying.path = path;
  reader.Read(path.string(), trying);
  EXPECT_EQ(trying.rows.size(), 3u);
  EXPECT_EQ(trying.refused, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Once read, the file is free while the rows stay listed.
  ASSERT_NE(reader.LineList(), nullptr);
  const HANDLE after = OpenForWriting(path);
  EXPECT_NE(after, INVALID_HANDLE_VALUE);
  CloseHandle(after);
  EXPECT_TRUE(std::filesystem::remove(path));
}

}  // namespace
}  // namespace marc
