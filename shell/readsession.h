// The read in progress: a record file read on a worker with the window's reader, its rows waiting
// there until the GUI thread's tick hands them to the book list, so that the worker never posts
// anything (Windows caps a thread's queue at 10,000 messages).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "booklist.h"
#include "ports.h"
#include "reader.h"

namespace tessaly {

class ReadSession {
 public:
  // Starts reading file on a worker. The reader is the window's: it keeps the last read's rows
  // for a name that does not exist; only this read touches it until the read has ended.
  // mode: whether the read passes over records with a fault of their own.
  ReadSession(std::shared_ptr<marc::RecordReader> reader, const std::filesystem::path& file,
              Workers& workers, marc::ReadMode mode = marc::ReadMode::Stop);
  // The worker stops at its next rows (or ends with the program when a pipe holds it), and
  // keeps what it uses.
  ~ReadSession();
  ReadSession(const ReadSession&) = delete;
  ReadSession& operator=(const ReadSession&) = delete;

  // On the GUI thread: moves the rows decoded so far into list, as rows waiting to be shown.
  // True once the read has ended and every row it decoded has been offered.
  bool HandOver(BookList& list);
  // Rows the list could not keep (out of memory): the read ends there as a failed one, once.
  // False when it had already failed so.
  bool FailHandOver(std::exception_ptr failure);

  // The rows handed over so far.
  std::int64_t RowsRead() const { return rowsRead_; }
  // The records passed over so far (any thread's view; exact once ended).
  std::int64_t BadRecords() const;
  const std::filesystem::path& File() const;
  marc::ReadMode Mode() const;
  // Once ended: how the read ended (its fault and where), a failure of the window's own side
  // (null when none: rows it could not keep), the time it took, and the file's encoding by name
  // ("GBK", "GB18030", "UTF-8").
  const marc::ReadOutcome& Outcome() const;
  std::exception_ptr Failure() const;
  std::chrono::steady_clock::duration Elapsed() const;
  std::string_view EncodingName() const;

 private:
  struct Job;
  std::shared_ptr<Job> job_;
  std::int64_t rowsRead_ = 0;
  // Why the list could not keep the rows handed over.
  std::exception_ptr handOverFailure_;
};

}  // namespace tessaly
