// The whole read path over a record file's bytes: loading, cutting into lines and records,
// leader, directory and extractors. The input goes to an in-memory file so that the read opens
// and loads it exactly as it would a file on disk.
//
// Beyond "no crash, no undefined behaviour" every read must:
// - fail only with one of the decoder's own faults, as a value;
// - give one row per record (a line cut at each 0x1D; empty pieces, and pieces without 0x1D of
//   blanks, TABs and 0x1A alone, giving none) when it succeeds, and stop at the record after the
//   last row when it fails;
// - keep every cell inside its own record and its own field: no cell holds a field, record or
//   line terminator or a subfield delimiter, and each is a run of bytes of its record (0x1F read
//   as "$");
// - take the file as UTF-8 exactly when it is well-formed UTF-8 beyond ASCII;
// - give the same outcome when read again by the same reader (nothing carried over), this time
//   cut into stretches of a few bytes decoded on two threads;
// - passing over bad records, give every record as a row or as a bad record, in file order.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "reader.h"

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

class CollectSink : public marc::ReadSink {
 public:
  void AppendRow(marc::BookRow&& row) override { rows.push_back(std::move(row)); }
  void Progress(std::int64_t rowCount) override {
    if (rowCount != static_cast<std::int64_t>(rows.size())) Broken("progress count != rows");
  }
  void Elapsed(std::chrono::steady_clock::duration) override { ++elapsedCalls; }

  std::vector<marc::BookRow> rows;
  int elapsedCalls = 0;
};

struct Outcome {
  std::vector<marc::BookRow> rows;
  std::string error;  // kind and message; empty when the read completed
  marc::ReadPosition position;
  bool operator==(const Outcome& o) const {
    return rows == o.rows && error == o.error && position.line == o.position.line &&
           position.record == o.position.record;
  }
};

Outcome ReadOnce(marc::RecordReader& reader, const std::string& path) {
  CollectSink sink;
  Outcome out;
  const marc::ReadOutcome outcome = reader.Read(path, sink);
  if (outcome.Completed()) {
    if (sink.elapsedCalls != 1) Broken("completed read did not report its time once");
  } else {
    if (!outcome.error) Broken("a read stopped that nobody stopped");
    out.error =
        std::to_string(static_cast<int>(outcome.error->fault)) + ": " + outcome.error->reason;
    if (outcome.error->reason.empty()) Broken("error without a message");
    if (sink.elapsedCalls != 0) Broken("failed read reported a time");
  }
  // Anything but the decoder's own faults (out_of_range, ...) escapes and aborts.
  out.rows = std::move(sink.rows);
  out.position = reader.Position();
  return out;
}

// The records of a file, cut independently of the reader: text up to the first NUL, lines at
// CR, LF or CR LF, each line cut after every 0x1D; empty pieces, a lone 0x1D and a line's last
// piece of blanks, TABs and 0x1A alone give none.
std::vector<std::string_view> Records(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t end = bytes.find_first_of("\r\n", i);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(i, end - i);
    while (!line.empty()) {
      const std::size_t t = line.find('\x1D');
      const std::size_t n = t == std::string_view::npos ? line.size() : t + 1;
      const std::string_view piece = line.substr(0, n);
      const bool blank =
          t == std::string_view::npos &&
          piece.find_first_not_of(std::string_view(" \t\x1A", 3)) == std::string_view::npos;
      if (piece != "\x1D" && !blank) out.push_back(piece);
      line.remove_prefix(n);
    }
    if (end == bytes.size()) break;
    i = (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ? end + 2
                                                                                 : end + 1;
  }
  return out;
}

std::string DelimitersAsDollar(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == '\x1F') c = '$';
  return out;
}

// UTF-8 when every byte from 0x80 up belongs to a well-formed sequence and there is one: each
// sequence decoded to its code point, which must need its length and be no surrogate and no
// more than U+10FFFF.
marc::TextEncoding EncodingModel(std::string_view bytes) {
  bool sawSequence = false;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    if (n == 0 || c >= 0xF8 || i + n > bytes.size()) return marc::TextEncoding::Gb18030;
    std::uint32_t cp = c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
      const auto d = static_cast<unsigned char>(bytes[i + k]);
      if ((d & 0xC0) != 0x80) return marc::TextEncoding::Gb18030;
      cp = (cp << 6) | (d & 0x3F);
    }
    const std::uint32_t least = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
    if (cp < least || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
      return marc::TextEncoding::Gb18030;
    sawSequence = true;
    i += n;
  }
  return sawSequence ? marc::TextEncoding::Utf8 : marc::TextEncoding::Gb18030;
}

int MemFile() {
  static const int fd = memfd_create("record-file", 0);
  if (fd < 0) Broken("memfd_create failed");
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = MemFile();
  if (ftruncate(fd, 0) != 0) Broken("ftruncate failed");
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) Broken("pwrite failed");
    done += static_cast<std::size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  marc::RecordReader reader;
  const Outcome first = ReadOnce(reader, path);

  if (reader.Encoding() != EncodingModel(bytes.substr(0, bytes.find('\0'))))
    Broken("encoding differs from the UTF-8 model");

  const std::vector<std::string_view> records = Records(bytes);
  if (first.rows.size() > records.size()) Broken("more rows than records");
  if (first.error.empty()) {
    if (first.rows.size() != records.size()) Broken("completed read lost records");
  } else if (first.position.record != static_cast<std::int64_t>(first.rows.size()) + 1) {
    Broken("failure not at the record after the last row");
  }
  for (std::size_t r = 0; r < first.rows.size(); ++r) {
    const std::string record = DelimitersAsDollar(records[r]);
    for (const marc::Text& cell : first.rows[r].cells) {
      if (cell.size() > records[r].size()) Broken("cell longer than its record");
      if (cell.find_first_of(std::string_view("\x1D\x1E\r\n\0", 5)) != std::string::npos)
        Broken("cell crosses a field, record or line end");
      // 0x1F is never a second byte, so every one is read as "$", whatever stands before it.
      if (cell.find('\x1F') != std::string::npos) Broken("a subfield delimiter left in a cell");
      if (record.find(DelimitersAsDollar(cell)) == std::string::npos)
        Broken("cell is not a run of its own record's bytes");
    }
  }

  marc::RecordReader::Tuning stretches;
  stretches.threads = 2;
  stretches.blockBytes = 509;
  reader.SetTuning(stretches);
  if (!(ReadOnce(reader, path) == first)) Broken("a second read gave another outcome");

  CollectSink all;
  const marc::ReadOutcome passed = reader.Read(path, all, marc::ReadMode::PassOver);
  if (!passed.Completed()) Broken("passing over bad records, a fault of no file ended the read");
  std::size_t row = 0;
  for (std::size_t r = 0, bad = 0; r < records.size(); ++r) {
    const auto& list = passed.bad->records;
    if (bad < list.size() && list[bad].error.record == static_cast<std::int64_t>(r) + 1) {
      if (list[bad].bytes != records[r]) Broken("a bad record's bytes are not its record's");
      ++bad;
    } else if (row < all.rows.size() && r < records.size()) {
      ++row;
    } else {
      Broken("a record neither a row nor a bad record");
    }
  }
  if (row != all.rows.size()) Broken("more rows than good records");
  return 0;
}
