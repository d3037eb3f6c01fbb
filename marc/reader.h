// The read command without its window: loads a record file into LineList, decodes every record
// through its leader and directory, and reports each row to a sink.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "extract.h"
#include "text.h"

namespace marc {

// What the read reports to; the main window and the command-line tool each implement it.
class ReadSink {
 public:
  virtual ~ReadSink() = default;
  // A record decoded completely; rows arrive in file order.
  virtual void AppendRow(BookRow&& row) = 0;
  // After every row: how many rows this read has appended. ProgressText() spells it.
  virtual void Progress(std::int64_t rowCount) = 0;
  // When the read completes: the time it took, as FormatElapsed wrote it.
  virtual void Elapsed(const Text& text) = 0;
};

// "读入:N 条" in GBK.
Text ProgressText(std::int64_t rowCount);

// Where a failed read stopped.
struct ReadPosition {
  std::int64_t line = 0;    // 1-based line of the file; 0 before the first line
  std::int64_t record = 0;  // 1-based record number, counting records across lines
};

// Tells GBK from UTF-8 by the file's bytes: UTF-8 when every byte from 0x80 up belongs to a
// well-formed UTF-8 sequence and there is at least one; GBK otherwise.
TextEncoding DetectEncoding(std::string_view bytes);

class RecordReader {
 public:
  explicit RecordReader(LongTimeFormat timeFormat = {}) : timeFormat_(std::move(timeFormat)) {}

  void SetTimeFormat(LongTimeFormat fmt) { timeFormat_ = std::move(fmt); }
  // Reads files in this encoding instead of telling it from their bytes (nullopt: tell).
  void ForceEncoding(std::optional<TextEncoding> encoding) { forcedEncoding_ = encoding; }

  // Reads the file at path into sink. Throws the error that ended it (EFOpenError, EConvertError,
  // EStringListError, ERecordError); rows before the failing record have reached the sink.
  void Read(const std::string& path, ReadSink& sink);

  // Decodes the lines already loaded again, as Read does after loading.
  void Decode(ReadSink& sink);

  // Decodes one record (a line's piece, its 0x1D included when present) into a fresh row.
  BookRow DecodeRecord(std::string_view record);

  const TStringList* LineList() const { return lineList_.get(); }
  void ReleaseLineList() { lineList_.reset(); }
  TextEncoding Encoding() const { return encoding_; }
  // Whether the file read last is GB18030 beyond GBK: read as Gbk and holding a four-byte sequence.
  // Found on the first call (a pass over the file), so that a read pays for it only when asked.
  bool FourByteSequences() const;
  const ReadPosition& Position() const { return position_; }

  // Working fields of the last record decoded.
  std::int32_t RecordLength = 0;
  std::int32_t BaseAddress = 0;

 private:
  LongTimeFormat timeFormat_;
  std::unique_ptr<TStringList> lineList_;
  std::optional<TextEncoding> forcedEncoding_;
  TextEncoding encoding_ = TextEncoding::Gbk;
  mutable std::optional<bool> fourByteSequences_;
  ReadPosition position_;
  // Scratch reused across records so a read allocates little per record.
  std::string recordText_;
  std::vector<std::string_view> fields_;
};

}  // namespace marc
