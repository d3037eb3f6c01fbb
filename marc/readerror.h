// What went wrong in a read, as values: the fault that ended it (ReadError), and in a read that
// passes over bad records, each record passed over (BadRecord) with where it stands, why it was
// refused and its bytes as the file held them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace marc {

enum class ReadFault {
  Open,       // the file cannot be opened or read
  Number,     // the leader's record length or base address is not a number
  Directory,  // the directory names a field that the data part does not hold
  TooLong,    // a record longer than 32 bits can count
  // A piece that holds exactly the rest of the bad record before it, cut in two by a line break:
  // no record of its own, though it may decode as one.
  RestOfCutRecord,
  CutShort,     // another program cut the file short while it was read
  OutOfMemory,  // the memory ran out before the file was read
};

// A fault of one record: the records after it can still be read. Any other is the file's.
constexpr bool IsRecordFault(ReadFault fault) {
  return fault == ReadFault::Number || fault == ReadFault::Directory ||
         fault == ReadFault::TooLong || fault == ReadFault::RestOfCutRecord;
}

// Why one record could not be decoded: the fault and its raw reason ("'0x12Z' is not a valid
// integer value", "List index out of bounds (2)").
struct RecordFault {
  ReadFault fault;
  std::string reason;
  bool operator==(const RecordFault&) const = default;
};

// The fault that ended a read, and where.
struct ReadError {
  ReadFault fault = ReadFault::Open;
  std::int64_t record = 0;   // 1-based record number; 0 when the fault is no record's
  std::int64_t line = 0;     // 1-based line of the record's first byte; 0 with record 0
  std::uint64_t offset = 0;  // the record's first byte, counted from the file's first (0)
  std::string reason;        // the raw reason: the decoder's message, the system's text
  bool OfOneRecord() const { return IsRecordFault(fault); }
  bool operator==(const ReadError&) const = default;
};

// A record the read passed over.
struct BadRecord {
  // What a comparison of the leader's record length with the bytes found suggests.
  enum class Hint {
    None,
    // The record ends early at a line end, and the next piece (the next record number) holds
    // exactly the rest of the leader's length: one record cut in two by a line break.
    CutBeforeNext,
    // This piece holds exactly the rest of the record before it, cut in two by a line break.
    RestOfPrevious,
    // The file ends inside this record: length of its declared bytes are there.
    FileEndsInside,
  };

  ReadError error;             // fault, record, line, byte offset, raw reason
  std::uint64_t length = 0;    // bytes of the piece as the file held it (a 0x1D ending it too)
  std::int64_t declared = -1;  // the leader's record length; -1 when it is no number
  Hint hint = Hint::None;
  bool held = false;  // bytes holds the piece (false past BadList::kHeldCap)
  std::string bytes;
  bool operator==(const BadRecord&) const = default;
};

struct BadList {
  // The bad records' bytes a read holds at most, so that a file of garbage cannot fill the
  // memory; records past it are listed without their bytes.
  static constexpr std::uint64_t kHeldCap = std::uint64_t{64} << 20;

  std::vector<BadRecord> records;  // in file order
  std::uint64_t heldBytes = 0;
  std::int64_t NotHeld() const {
    std::int64_t n = 0;
    for (const BadRecord& r : records) n += r.held ? 0 : 1;
    return n;
  }
  bool operator==(const BadList&) const = default;
};

}  // namespace marc
