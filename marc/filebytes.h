// A record file's bytes in memory while it is read: the file mapped read-only where the platform
// allows it (no copy, and the pages are the page cache's own), read into a buffer where it cannot
// be mapped (pipes, files still being written, files of no stated size). One file per platform.
// Holding one holds the file (on Windows, no other program may write it meanwhile).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace marc {

class FileBytes {
 public:
  struct Options {
    // How long a pipe may stay silent (no writer yet, or a writer that writes nothing) before
    // the read gives up; a pipe without a writer would otherwise hold the window forever.
    std::chrono::milliseconds pipeSilence{5000};
  };

  // Loads the file at path. Throws EFOpenError ("Cannot open file "%s". %s", the path made
  // absolute and the system's text for the reason) when it cannot be opened or read.
  static std::shared_ptr<const FileBytes> Load(const std::filesystem::path& path,
                                               const Options& options);
  static std::shared_ptr<const FileBytes> Load(const std::filesystem::path& path) {
    return Load(path, Options{});
  }
  // Bytes already in memory (for a text that is no file).
  static std::shared_ptr<const FileBytes> FromString(std::string bytes);

  virtual ~FileBytes() = default;
  std::string_view View() const { return view_; }
  // The absolute path the bytes were loaded from, as messages spell it (PathBytes; empty for
  // FromString).
  const std::string& Path() const { return path_; }
  // A regular file, which can be read again from its start (a pipe cannot).
  bool Regular() const { return regular_; }
  // True once the file was found shorter than its mapping: another program truncated it. The
  // mapping then reads as zero bytes where the file is gone instead of ending the program.
  virtual bool Shrank() const { return false; }
  // Brings the bytes of [offset, offset + size) into memory ahead of their first use, so that
  // the threads that decode a file share the cost of paging it in.
  virtual void Prefault(std::uint64_t offset, std::uint64_t size) const {
    (void)offset, (void)size;
  }
  // Copies [offset, offset + size) of the file to out, where that costs less than reading the
  // bytes in place (reading a file into a buffer that is used again skips the faults and the
  // misses of the translation cache that touching the mapping's pages costs, several times the
  // bytes' scan). False when not done: the bytes are then read in View(). Bytes a truncation
  // took read as zeros, and Shrank() says so, as in View(). Any thread may call it.
  virtual bool CopyOut(std::uint64_t offset, std::size_t size, char* out) const {
    (void)offset, (void)size, (void)out;
    return false;
  }
  // The bytes before end are done with: the memory of the pages that hold only such bytes is
  // given back, so that a read holds a few stretches of the file rather than all of it. The
  // bytes stay readable (paged in again from the file where touched). One thread calls it.
  virtual void Release(std::uint64_t end) const { (void)end; }

 protected:
  std::string_view view_;
  std::string path_;
  bool regular_ = false;
};

// "Cannot open file "%s". %s" with path made absolute against the current folder.
std::string OpenErrorMessage(const std::filesystem::path& path, const std::string& reason);

// A path as messages spell it: UTF-8 on Windows (never the ANSI code page, which cannot spell
// every name), the system's bytes elsewhere. For messages only: files are opened by their path.
std::string PathBytes(const std::filesystem::path& path);

}  // namespace marc
