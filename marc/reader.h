// The read command without its window: loads a record file, decodes every record through its
// leader and directory, and reports the rows to a sink.
//
// The file's bytes are mapped, not copied (FileBytes), and let go when the read ends. Decoding
// runs on two threads (one on a one-core machine), the calling thread and a helper, over
// stretches of the file cut at record and line ends; each thread copies the cells it cuts into a
// block of its own (RowBlock), and the blocks reach the sink on the calling thread, in file order.
// Once read, the rows are the program's own: nothing done to the file afterwards changes them.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "extract.h"
#include "filebytes.h"
#include "pages.h"
#include "readerror.h"
#include "text.h"

namespace marc {

// Which of the fields that fill cells a record held (bits of RowExtra::fields).
enum FieldBit : std::uint16_t {
  Has200 = 1 << 0,
  Has010 = 1 << 1,
  Has210 = 1 << 2,
  Has215 = 1 << 3,
  Has690 = 1 << 4,
  Has606 = 1 << 5,
  Has330 = 1 << 6,
};

// What a row keeps beside its cells for the checks: the price as written (PriceAsWritten of the
// 010 that gave the price) and the fields present.
struct RowExtra {
  std::string_view priceAsWritten;
  std::uint16_t fields = 0;
};

// The decoded rows of one stretch of a file, owned: each row's thirteen cell lengths, the price's
// length and the fields present, then its cells' bytes (0x1F read as "$") and the price as
// written, copied out of its record into pages of the block's own.
// Filled by one thread, then handed on as shared_ptr<const RowBlock>: immutable from there, so
// any thread may read it.
class RowBlock {
 public:
  std::size_t Size() const { return starts_.size(); }
  std::string_view Cell(std::size_t row, std::size_t cell) const;
  BookRow Row(std::size_t row) const;
  // The row's price as written and fields present; the view lives as long as the block.
  RowExtra Extra(std::size_t row) const;
  // The row's thirteen cells back to back, and each one's length: one run to search.
  std::string_view CellBytes(std::size_t row, std::array<std::uint32_t, CellCount>& lengths) const;
  void Append(const std::array<std::string_view, CellCount>& cells, const RowExtra& extra = {});
  void Append(const BookRow& row);
  // Room for about this many more rows and cell bytes, ahead of appending them (pages not
  // written to cost no memory), of which the first expected bytes are put in place at once.
  void Reserve(std::size_t rows, std::size_t bytes, std::size_t expected = 0);
  // Gives back the memory reserved and not written to.
  void Trim() { pages_.Trim(size_); }
  // Drops the first row (its bytes stay until the block goes).
  void EraseFirst() { starts_.erase(starts_.begin()); }
  // Empties the block for reuse, keeping its pages.
  void Clear() { size_ = 0, starts_.clear(); }
  std::size_t WrittenBytes() const { return size_; }
  // Memory written (for the benchmark's figures).
  std::size_t HeldBytes() const { return size_ + starts_.capacity() * sizeof(std::uint64_t); }

 private:
  PageBuffer pages_;
  std::size_t size_ = 0;
  std::vector<std::uint64_t> starts_;  // each row's place in pages_
};

// What the read reports to; the main window and the command-line tool each implement it.
class ReadSink {
 public:
  virtual ~ReadSink() = default;
  // A record decoded completely; rows arrive in file order.
  virtual void AppendRow(BookRow&& row) { (void)row; }
  // After every row: how many rows this read has appended.
  virtual void Progress(std::int64_t rowCount) = 0;
  // When the read completes: the time it took, on a clock no change of the wall clock moves.
  virtual void Elapsed(std::chrono::steady_clock::duration elapsed) = 0;
  // The rows of one stretch of the file, in file order, on the thread that called Read;
  // rowsBefore rows of this read came before them. The block is the sink's to keep (no copy).
  // By default each row goes to AppendRow as texts, followed by its Progress. Returns whether
  // the read goes on: false stops it (the window closing), and Read returns at once.
  virtual bool AppendRows(std::shared_ptr<const RowBlock> rows, std::int64_t rowsBefore);
  // A record a read in ReadMode::PassOver passed over, in file order among the others, once its
  // hint is known (on the thread that called Read; the read's outcome lists it too).
  virtual void PassedOver(const BadRecord& record) { (void)record; }
};

// What a read does at a record it cannot decode.
enum class ReadMode {
  Stop,      // the read ends there (rows before it stay)
  PassOver,  // the read passes over it, lists it and goes on; a fault of the file still ends it
};

// How a read ended.
struct ReadOutcome {
  std::optional<ReadError> error;  // the fault that ended it; none when it read to the end
  bool stopped = false;            // the sink stopped it
  // The file is a regular file, which can be read again from its start (a pipe cannot, nor a
  // name that holds no file, whose read gave the last one again).
  bool rereadable = false;
  // The records passed over (ReadMode::PassOver), shared with the read's LineList.
  std::shared_ptr<const BadList> bad = std::make_shared<BadList>();

  bool Completed() const { return !error && !stopped; }
  // Whether reading the file again in ReadMode::PassOver can get past the fault.
  bool CanPassOver() const { return error && error->OfOneRecord() && rereadable; }
};

// Where a failed read stopped (after a completed read: the last line and record).
struct ReadPosition {
  std::int64_t line = 0;    // 1-based line of the file; 0 before the first line
  std::int64_t record = 0;  // 1-based record number, counting records across lines
};

// Tells GBK from UTF-8 by the bytes: UTF-8 when every byte from 0x80 up belongs to a well-formed
// UTF-8 sequence and there is at least one; GB18030 (GBK's superset) otherwise. A read applies it
// to the file's text, the bytes before the first NUL.
TextEncoding DetectEncoding(std::string_view bytes);

// Two decode threads, or one when the machine has a single core.
int DefaultDecodeThreads();

// The leader and directory walk of one record at a time, with scratch reused across records.
// A record is copied once, each 0x1F written as "$" and each field terminator noted on the way;
// the cells are views into that copy, at the record's own offsets.
class RecordDecoder {
 public:
  // Decodes one record (a line's piece, its 0x1D included when present); false when it cannot,
  // and then Fault() says why and the cells are not to be used.
  bool Decode(std::string_view record, TextEncoding encoding,
              std::array<std::string_view, CellCount>& cells);

  // The read path's two steps: Scan copies the bytes from p up to the first CR, LF, 0x1D or
  // NUL (or end) and returns where it stopped; DecodeScanned decodes them, with the 0x1D at the
  // stop when terminated. A record longer than 32 bits can count is measured, not copied:
  // TooLong() then tells its size and DecodeScanned refuses it.
  const char* Scan(const char* p, const char* end);
  bool DecodeScanned(bool terminated, TextEncoding encoding,
                     std::array<std::string_view, CellCount>& cells);
  // Why the last record could not be decoded.
  const RecordFault& Fault() const { return fault_; }
  std::uint64_t TooLong() const { return tooLong_; }
  // The bytes Scan copied: whether they are blanks, TABs and 0x1A only (no record).
  bool ScannedBlankOnly() const;
  std::size_t ScannedSize() const { return size_; }

  // The copy of the record, 0x1F read as "$".
  const char* RecordCopy() const { return copy_.get(); }
  // What the last record decoded keeps beside its cells (views into the copy).
  const RowExtra& Extra() const { return extra_; }

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
  std::uint64_t tooLong_ = 0;
  RecordFault fault_{ReadFault::Number, {}};
  std::vector<std::uint32_t> marks_;  // offsets of the field terminators in the copy
  RowExtra extra_;
};

class RecordReader {
 public:
  struct Tuning {
    int threads = DefaultDecodeThreads();
    // Stretches handed to the threads, in bytes (cut on at the next record or line end); 0:
    // 4 MB when the rows are kept, whose memory is then new for each stretch (enough rows to fill
    // whole pages of 2 MB, where the system has them), else 1 MB (less held back at a time).
    std::size_t blockBytes = 0;
    FileBytes::Options file;
    // Whether the read looks for GB18030's four-byte sequences (FourByteSequences): a pass over
    // each stretch while it is at hand, which only a caller that names the encoding needs.
    bool findFourByteSequences = true;
    // Whether the reader keeps the rows it handed over (LineList), to give them again for a name
    // that does not exist. Without, a block the sink let go is reused for a later stretch: fresh
    // memory costs a page fault a page.
    bool keepRows = true;
    // The bad records' bytes a read in ReadMode::PassOver holds at most (BadRecord::held).
    std::uint64_t heldBadBytes = BadList::kHeldCap;
  };

  // The clock a read is timed on (tests give their own).
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  void SetClock(Clock clock) { clock_ = std::move(clock); }
  void SetTuning(const Tuning& tuning) { tuning_ = tuning; }
  // Reads files in this encoding instead of telling it from their bytes (nullopt: tell).
  void ForceEncoding(std::optional<TextEncoding> encoding) { forcedEncoding_ = encoding; }

  // Reads the file at path into sink and says how it ended. After a fault rows before the
  // failing record, and only those, have reached the sink; in ReadMode::PassOver a record's own
  // fault ends nothing, and the outcome lists the records passed over. The file is let go
  // before it returns, whatever the outcome. Sinks' exceptions pass through.
  //
  // A path that names nothing gives the rows of the read made last again (the same outcome
  // too, after the same rows), since every row is decoded afresh from its own record: the file
  // is not needed for that. Before any read it fails like a file that cannot be opened.
  ReadOutcome Read(const std::filesystem::path& path, ReadSink& sink,
                   ReadMode mode = ReadMode::Stop);

  // Decodes one record (a line's piece, its 0x1D included when present) into a fresh row, or
  // says why it cannot.
  struct Decoded {
    BookRow row;
    std::optional<RecordFault> fault;
  };
  Decoded DecodeRecord(std::string_view record);

  // What the read made last gave, shared with the sink that kept its rows: null before the first
  // read and after ReleaseLineList; no rows after a file that could not be opened.
  struct LastRead {
    std::vector<std::shared_ptr<const RowBlock>> blocks;
    ReadOutcome outcome;
    ReadPosition position;
    std::int32_t recordLength = 0, baseAddress = 0;
    std::size_t Rows() const;
  };
  const std::shared_ptr<const LastRead>& LineList() const { return last_; }
  void ReleaseLineList() { last_.reset(); }
  TextEncoding Encoding() const { return encoding_; }
  // Whether the file read last is GB18030 beyond GBK: read as Gb18030 and holding a four-byte
  // sequence (looked for only with Tuning::findFourByteSequences).
  bool FourByteSequences() const { return fourByteSequences_; }
  const ReadPosition& Position() const { return position_; }

  // Leader numbers of the last record decoded, in file order.
  std::int32_t RecordLength = 0;
  std::int32_t BaseAddress = 0;

 private:
  Clock clock_ = std::chrono::steady_clock::now;
  Tuning tuning_;
  void Decode(const FileBytes& file, ReadSink& sink, ReadMode mode, LastRead& last);
  ReadOutcome Replay(const LastRead& last, ReadSink& sink,
                     std::chrono::steady_clock::time_point start);

  std::shared_ptr<const LastRead> last_;
  std::optional<TextEncoding> forcedEncoding_;
  TextEncoding encoding_ = TextEncoding::Gb18030;
  bool fourByteSequences_ = false;
  ReadPosition position_;
  RecordDecoder decoder_;
};

}  // namespace marc
