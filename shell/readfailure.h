// What the user reads about a read's failures: the open failure's details (where: record, line,
// byte offset; what went wrong in Chinese, then the raw reason), and the bad records a read
// passed over: their words, their report and their saving.
#pragma once

#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "readerror.h"

namespace tessaly {

std::string ReadFailureDetails(const marc::ReadError& error);
// A failure of the window's own side of the read (rows it could not keep, a worker it could not
// start): running out of memory, or whatever the failure says.
std::string ReadFailureDetails(std::exception_ptr failure);

// What was wrong with a bad record in Chinese, then its raw reason.
std::string BadRecordReason(const marc::BadRecord& record);
// What its declared length against its bytes suggests; empty when nothing.
std::string BadRecordHint(const marc::BadRecord& record);
// The report saved beside the bad records: UTF-8 (with a byte order mark, which Windows tools
// need to tell it from the ANSI code page), a header line, then one line a record: record, line,
// byte offset, bytes, reason, hint, separated by TAB (a TAB, CR or LF inside written \t, \r, \n).
std::string BadRecordsReport(const marc::BadList& list);
// The name suggested for the bad records of the file read: "<name>_坏记录.mrc" beside it.
std::filesystem::path BadRecordsName(const std::filesystem::path& read);
// The report's name beside the saved records: the same with ".txt".
std::filesystem::path BadRecordsReportName(const std::filesystem::path& saved);
// Writes the bad records' bytes to saved and the report beside it, each under a temporary name
// renamed into place, never over read. Returns why it failed (the system's text), nothing when
// both were written.
std::optional<std::string> SaveBadRecords(const marc::BadList& list,
                                          const std::filesystem::path& saved,
                                          const std::filesystem::path& read);

}  // namespace tessaly
