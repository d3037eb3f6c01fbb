#include "readfailure.h"

#include <new>
#include <stdexcept>

#include "badrecords.h"
#include "charset.h"
#include "reader.h"
#include "usertexts.h"

namespace tessaly {

namespace {

texts::ReadFault FaultText(marc::ReadFault fault) {
  switch (fault) {
    case marc::ReadFault::Open:
      return texts::ReadFault::Open;
    case marc::ReadFault::Number:
      return texts::ReadFault::Number;
    case marc::ReadFault::Directory:
      return texts::ReadFault::Directory;
    case marc::ReadFault::TooLong:
      return texts::ReadFault::Record;
    case marc::ReadFault::RestOfCutRecord:
      return texts::ReadFault::RestOfCutRecord;
    case marc::ReadFault::CutShort:
      return texts::ReadFault::CutShort;
    case marc::ReadFault::OutOfMemory:
      return texts::ReadFault::OutOfMemory;
  }
  return texts::ReadFault::Other;
}

// The bytes are UTF-8 when they spell it, GBK otherwise (reasons quote record bytes, and paths
// in the system's 8-bit encoding).
std::string Utf8(std::string_view bytes) {
  if (marc::DetectEncoding(bytes) == marc::TextEncoding::Utf8) return std::string(bytes);
  return marc::DecodeToUtf8(bytes, marc::TextEncoding::Gb18030);
}

}  // namespace

std::string ReadFailureDetails(const marc::ReadError& error) {
  return texts::ReadFailureDetails(error.record, error.line, error.offset, FaultText(error.fault),
                                   Utf8(error.reason));
}

std::string BadRecordReason(const marc::BadRecord& record) {
  return std::string(texts::ReadFaultText(FaultText(record.error.fault))) + "：" +
         Utf8(record.error.reason);
}

std::string BadRecordHint(const marc::BadRecord& record) {
  switch (record.hint) {
    case marc::BadRecord::Hint::CutBeforeNext:
      return texts::CutBeforeNextHint(record.error.record + 1,
                                      static_cast<std::uint64_t>(record.declared) - record.length);
    case marc::BadRecord::Hint::RestOfPrevious:
      return texts::RestOfPreviousHint(record.error.record - 1);
    case marc::BadRecord::Hint::FileEndsInside:
      return texts::FileEndsInsideHint(record.length, record.declared);
    case marc::BadRecord::Hint::None:
      break;
  }
  return {};
}

std::string BadRecordsReport(const marc::BadList& list) {
  std::string out = "\xEF\xBB\xBF";
  out += texts::kBadRecordsReportHeader;
  out += "\r\n";
  for (const marc::BadRecord& record : list.records) {
    out += std::to_string(record.error.record) + '\t' + std::to_string(record.error.line) + '\t' +
           std::to_string(record.error.offset) + '\t' + std::to_string(record.length) + '\t';
    marc::AppendTsvField(out, BadRecordReason(record));
    out += '\t';
    marc::AppendTsvField(out, BadRecordHint(record));
    out += "\r\n";
  }
  return out;
}

std::filesystem::path BadRecordsName(const std::filesystem::path& read) {
  std::filesystem::path name = read.stem();
  name += std::filesystem::path(
      std::u8string(texts::kBadRecordsNameSuffix.begin(), texts::kBadRecordsNameSuffix.end()));
  name += ".mrc";
  return read.parent_path() / name;
}

std::filesystem::path BadRecordsReportName(const std::filesystem::path& saved) {
  std::filesystem::path report = saved;
  return report.replace_extension(".txt");
}

std::optional<std::string> SaveBadRecords(const marc::BadList& list,
                                          const std::filesystem::path& saved,
                                          const std::filesystem::path& read) {
  const std::filesystem::path report = BadRecordsReportName(saved);
  std::error_code ec;
  // The report takes the records' name with ".txt": a record file named so is not overwritten.
  if (std::filesystem::equivalent(report, read, ec))
    return std::string("\"").append(marc::PathBytes(report)).append("\" is the file that was read");
  if (auto failed = marc::WriteReplacing(saved, marc::BadRecordsBytes(list), read)) return failed;
  return marc::WriteReplacing(report, BadRecordsReport(list), read);
}

std::string ReadFailureDetails(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::bad_alloc&) {
    return texts::ReadFailureDetails(0, 0, 0, texts::ReadFault::OutOfMemory, {});
  } catch (const std::exception& e) {
    return texts::ReadFailureDetails(0, 0, 0, texts::ReadFault::Other, Utf8(e.what()));
  } catch (...) {
  }
  return texts::ReadFailureDetails(0, 0, 0, texts::ReadFault::Other, {});
}

}  // namespace tessaly
