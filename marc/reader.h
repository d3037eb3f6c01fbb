// The read command without its window: loads a record file, decodes every record through its
// leader and directory, and reports the rows to a sink.
//
// The file's bytes are mapped, not copied (FileBytes). Decoding runs on two threads (one on a
// one-core machine), the calling thread and a helper, over stretches of the file cut at record
// and line ends; the rows reach the sink on the calling thread, in file order, as places in the
// loaded bytes (RowRef) rather than thirteen copied texts.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "extract.h"
#include "filebytes.h"
#include "text.h"

namespace marc {

// One decoded row as places in the loaded bytes: cell k is the record's bytes from begin[k]
// for length[k] (0x1F in them read as "$", as the decoder reads it).
struct RowRef {
  std::uint64_t record = 0;  // offset of the record's first byte
  std::array<std::uint32_t, CellCount> begin{};
  std::array<std::uint32_t, CellCount> length{};
};

// The bytes of a cell: a view into bytes, or into scratch when a 0x1F had to become "$".
std::string_view CellBytes(std::string_view bytes, const RowRef& row, std::size_t cell,
                           std::string& scratch);
// The row's thirteen cells as texts.
BookRow MakeRow(std::string_view bytes, const RowRef& row);

// What the read reports to; the main window and the command-line tool each implement it.
class ReadSink {
 public:
  virtual ~ReadSink() = default;
  // A record decoded completely; rows arrive in file order.
  virtual void AppendRow(BookRow&& row) { (void)row; }
  // After every row: how many rows this read has appended. ProgressText() spells it.
  virtual void Progress(std::int64_t rowCount) = 0;
  // When the read completes: the time it took, as FormatElapsed wrote it.
  virtual void Elapsed(const Text& text) = 0;
  // The rows of one stretch of the file, in file order, on the thread that called Read;
  // rowsBefore rows of this read came before them. A sink that keeps the places keeps bytes.
  // By default each row goes to AppendRow as texts, followed by its Progress.
  virtual void AppendRows(const std::shared_ptr<const FileBytes>& bytes,
                          std::span<const RowRef> rows, std::int64_t rowsBefore);
};

// "读入:N 条" in GBK.
Text ProgressText(std::int64_t rowCount);

// Where a failed read stopped (after a completed read: the last line and record).
struct ReadPosition {
  std::int64_t line = 0;    // 1-based line of the file; 0 before the first line
  std::int64_t record = 0;  // 1-based record number, counting records across lines
};

// Tells GBK from UTF-8 by the bytes: UTF-8 when every byte from 0x80 up belongs to a well-formed
// UTF-8 sequence and there is at least one; GBK otherwise. A read applies it to the file's text,
// the bytes before the first NUL.
TextEncoding DetectEncoding(std::string_view bytes);

// Two decode threads, or one when the machine has a single core.
int DefaultDecodeThreads();

// The leader and directory walk of one record at a time, with scratch reused across records.
// A record is copied once, each 0x1F written as "$" and each field terminator noted on the way;
// the cells are views into that copy, at the record's own offsets.
class RecordDecoder {
 public:
  // Decodes one record (a line's piece, its 0x1D included when present).
  void Decode(std::string_view record, TextEncoding encoding,
              std::array<std::string_view, CellCount>& cells);

  // The read path's two steps: Scan copies the bytes from p up to the first CR, LF, 0x1D or
  // NUL (or end) and returns where it stopped; DecodeScanned decodes them, with the 0x1D at the
  // stop when terminated. Scan throws ERecordError for a record longer than 32 bits can count.
  const char* Scan(const char* p, const char* end);
  void DecodeScanned(bool terminated, TextEncoding encoding,
                     std::array<std::string_view, CellCount>& cells);
  // The bytes Scan copied: whether they are blanks, TABs and 0x1A only (no record).
  bool ScannedBlankOnly() const;
  std::size_t ScannedSize() const { return size_; }

  // The copy of the record, 0x1F read as "$".
  const char* RecordCopy() const { return copy_.get(); }

  // As the last Decode left them; LeaderNumbers tells how many of the two it converted.
  std::int32_t RecordLength = 0;
  std::int32_t BaseAddress = 0;
  int LeaderNumbers = 0;

 private:
  char* Reserve(std::size_t size);
  void Mark(unsigned mask, std::size_t at);

  std::unique_ptr<char[]> copy_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  std::vector<std::uint32_t> marks_;  // offsets of the field terminators in the copy
};

class RecordReader {
 public:
  struct Tuning {
    int threads = DefaultDecodeThreads();
    // Stretches handed to the threads, in bytes (cut on at the next record or line end).
    std::size_t blockBytes = std::size_t{1} << 20;
    FileBytes::Options file;
  };

  explicit RecordReader(LongTimeFormat timeFormat = {}) : timeFormat_(std::move(timeFormat)) {}

  void SetTimeFormat(LongTimeFormat fmt) { timeFormat_ = std::move(fmt); }
  void SetTuning(const Tuning& tuning) { tuning_ = tuning; }

  // Reads the file at path into sink. Throws the error that ended it (EFOpenError, EConvertError,
  // EStringListError, ERecordError); rows before the failing record, and only those, have
  // reached the sink.
  void Read(const std::string& path, ReadSink& sink);

  // Decodes the bytes already loaded again, as Read does after loading.
  void Decode(ReadSink& sink);

  // Decodes one record (a line's piece, its 0x1D included when present) into a fresh row.
  BookRow DecodeRecord(std::string_view record);

  // The bytes of the file loaded last (empty after a failed open); the rows point into them.
  const std::shared_ptr<const FileBytes>& LineList() const { return file_; }
  void ReleaseLineList() { file_.reset(); }
  TextEncoding Encoding() const { return encoding_; }
  const ReadPosition& Position() const { return position_; }

  // Leader numbers of the last record decoded, in file order.
  std::int32_t RecordLength = 0;
  std::int32_t BaseAddress = 0;

 private:
  LongTimeFormat timeFormat_;
  Tuning tuning_;
  std::shared_ptr<const FileBytes> file_;
  TextEncoding encoding_ = TextEncoding::Gbk;
  ReadPosition position_;
  RecordDecoder decoder_;
};

}  // namespace marc
