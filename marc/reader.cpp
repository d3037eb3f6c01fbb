#include "reader.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace marc {

namespace {

// ISO 2709 separators.
constexpr char kRecordTerminator = '\x1D';
constexpr char kFieldTerminator = '\x1E';
constexpr char kSubfieldDelimiter = '\x1F';

// Leader: record length at 1-5, base address of data at 13-17; directory from 25, 12-byte
// entries whose first 3 bytes are the tag.
constexpr std::int64_t kDirectoryStart = 25;
constexpr std::int64_t kEntryLength = 12;

constexpr std::int64_t kMaxRecordBytes = std::numeric_limits<std::int32_t>::max();

enum class Tag {
  None,
  Title200,
  Number010,
  Publication210,
  Physical215,
  Class690,
  Subject606,
  Summary330
};

// The tags whose fields fill cells; any other tag, or one cut short, is passed over.
Tag KnownTag(std::string_view tag) {
  if (tag.size() != 3) return Tag::None;
  switch ((tag[0] << 16) | (tag[1] << 8) | tag[2]) {
    case ('2' << 16) | ('0' << 8) | '0':
      return Tag::Title200;
    case ('0' << 16) | ('1' << 8) | '0':
      return Tag::Number010;
    case ('2' << 16) | ('1' << 8) | '0':
      return Tag::Publication210;
    case ('2' << 16) | ('1' << 8) | '5':
      return Tag::Physical215;
    case ('6' << 16) | ('9' << 8) | '0':
      return Tag::Class690;
    case ('6' << 16) | ('0' << 8) | '6':
      return Tag::Subject606;
    case ('3' << 16) | ('3' << 8) | '0':
      return Tag::Summary330;
    default:
      return Tag::None;
  }
}

// The extractors of a tag, in their order; a result replaces the cell's earlier one. Beside the
// cells, the row keeps the fields present and the price as written.
void Extract(Tag tag, std::string_view field, TextEncoding enc,
             std::array<std::string_view, CellCount>& cells, RowExtra& extra) {
  static constexpr std::uint16_t kBits[] = {0,      Has200, Has010, Has210,
                                            Has215, Has690, Has606, Has330};
  extra.fields |= kBits[static_cast<int>(tag)];
  auto set = [&](Cell cell) { cells[cell] = ExtractView(cell, field, enc); };
  switch (tag) {
    case Tag::Title200:
      set(Title), set(Author);
      break;
    case Tag::Number010: {
      set(Isbn);
      // A 010 without a price keeps the price an earlier 010 of the record gave.
      const std::string_view price = ExtractView(Price, field, enc);
      if (!price.empty()) cells[Price] = price;
      const std::string_view written = PriceAsWritten(field, price);
      if (!written.empty()) extra.priceAsWritten = written;
      break;
    }
    case Tag::Publication210:
      set(PubPlace), set(Publisher), set(PubDate);
      break;
    case Tag::Physical215:
      set(Pages), set(Dimensions), set(Accompanying);
      break;
    case Tag::Class690:
      set(ClassNumber);
      break;
    case Tag::Subject606:
      set(SubjectHeading);
      break;
    case Tag::Summary330:
      set(Summary);
      break;
    case Tag::None:
      break;
  }
}

// The first CR, LF, record terminator or NUL at or after p, or end: the bytes where a record,
// a line or the text ends. Sixteen bytes at a time where the processor has SSE2.
const char* NextBreak(const char* p, const char* const end) {
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'),
                rt = _mm_set1_epi8(kRecordTerminator), nul = _mm_setzero_si128();
  for (; end - p >= 16; p += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, cr), _mm_cmpeq_epi8(x, lf)),
                                     _mm_or_si128(_mm_cmpeq_epi8(x, rt), _mm_cmpeq_epi8(x, nul)));
    if (const int mask = _mm_movemask_epi8(hit))
      return p + __builtin_ctz(static_cast<unsigned>(mask));
  }
#endif
  for (; p < end; ++p)
    if (*p == '\r' || *p == '\n' || *p == kRecordTerminator || *p == '\0') return p;
  return end;
}

// A piece of a line that holds only blanks, TABs and DOS end-of-file bytes (0x1A): what older
// tools leave after the last record or between records. It is no record.
bool BlankOnly(const char* p, const char* end) {
  for (; p < end; ++p)
    if (*p != ' ' && *p != '\t' && *p != '\x1A') return false;
  return true;
}

// Length of the well-formed UTF-8 sequence at p (lead byte >= 0x80), 0 when it is not one.
std::size_t Utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
  const unsigned char c = p[0];
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF)
    n = 2;
  else if (c == 0xE0)
    n = 3, lo = 0xA0;
  else if (c >= 0xE1 && c <= 0xEC)
    n = 3;
  else if (c == 0xED)
    n = 3, hi = 0x9F;  // no surrogates
  else if (c >= 0xEE && c <= 0xEF)
    n = 3;
  else if (c == 0xF0)
    n = 4, lo = 0x90;
  else if (c >= 0xF1 && c <= 0xF3)
    n = 4;
  else if (c == 0xF4)
    n = 4, hi = 0x8F;  // nothing past U+10FFFF
  else
    return 0;
  if (end - p < static_cast<std::ptrdiff_t>(n)) return 0;
  if (p[1] < lo || p[1] > hi) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if ((p[k] & 0xC0) != 0x80) return 0;
  return n;
}

}  // namespace

namespace {

// DetectEncoding, up to the first NUL when stopAtNul (a file's text ends there).
TextEncoding Detect(std::string_view bytes, bool stopAtNul) {
  auto p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto end = p + bytes.size();
  bool sawSequence = false;
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
  while (p < end) {
    // Leaders, directories and tags are ASCII: skip it eight bytes at a time (up to a NUL).
    std::uint64_t eight;
    if (end - p >= 8 && (std::memcpy(&eight, p, 8), (eight & kHigh) == 0) &&
        (!stopAtNul || ((eight - kOnes) & ~eight & kHigh) == 0)) {
      p += 8;
      continue;
    }
    if (*p == 0 && stopAtNul) break;
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const std::size_t n = Utf8SequenceLength(p, end);
    if (n == 0) return TextEncoding::Gb18030;
    sawSequence = true;
    p += n;
  }
  return sawSequence ? TextEncoding::Utf8 : TextEncoding::Gb18030;
}

}  // namespace

TextEncoding DetectEncoding(std::string_view bytes) { return Detect(bytes, false); }

namespace {

// Detect over a file's text, up to its first NUL, a piece of about 1 MB at a time, copied out
// of the file where it offers that, else looked at in place and its pages given back: a UTF-8
// file is read to its end before the first record is decoded, and would otherwise be held whole.
TextEncoding DetectInFile(const FileBytes& file) {
  const std::string_view text = file.View();
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  PageBuffer copy;
  try {
    copy.Grow(2 * kPiece, 0);
  } catch (const std::bad_alloc&) {
    // Looked at in place.
  }
  bool sawSequence = false;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = std::min(text.size(), at + kPiece);
    // Cut at an ASCII byte, so that no sequence is split.
    while (end < text.size() && static_cast<unsigned char>(text[end]) >= 0x80) ++end;
    std::string_view piece = text.substr(at, end - at);
    if (piece.size() <= copy.Capacity() && file.CopyOut(at, piece.size(), copy.Data()))
      piece = std::string_view(copy.Data(), piece.size());
    const std::size_t nul = piece.find('\0');
    const std::string_view upToNul = piece.substr(0, nul);
    file.Release(end);
    if (Detect(upToNul, false) == TextEncoding::Gb18030) {
      // Either a byte that is no UTF-8, or no sequence in this piece.
      if (std::any_of(upToNul.begin(), upToNul.end(),
                      [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return TextEncoding::Gb18030;
    } else {
      sawSequence = true;
    }
    if (nul != std::string_view::npos) break;
    at = end;
  }
  return sawSequence ? TextEncoding::Utf8 : TextEncoding::Gb18030;
}

}  // namespace

int DefaultDecodeThreads() { return std::thread::hardware_concurrency() > 1 ? 2 : 1; }

BookRow RowBlock::Row(std::size_t row) const {
  BookRow out;
  for (std::size_t c = 0; c < CellCount; ++c) out[c] = Text(Cell(row, c));
  return out;
}

namespace {

// A row: its cells' lengths and the price's (a cell is cut from one record, which 32 bits count),
// the fields present, then its cells and the price, padded to keep the next row's lengths aligned.
constexpr std::size_t kCellLengths = CellCount * sizeof(std::uint32_t);
constexpr std::size_t kRowHead = kCellLengths + sizeof(std::uint32_t) + sizeof(std::uint32_t);

}  // namespace

std::string_view RowBlock::Cell(std::size_t row, std::size_t cell) const {
  const char* const head = pages_.Data() + starts_[row];
  const char* bytes = head + kRowHead;
  std::uint32_t length;
  for (std::size_t c = 0;; ++c) {
    std::memcpy(&length, head + c * sizeof length, sizeof length);
    if (c == cell) return {bytes, length};
    bytes += length;
  }
}

std::string_view RowBlock::CellBytes(std::size_t row,
                                     std::array<std::uint32_t, CellCount>& lengths) const {
  const char* const head = pages_.Data() + starts_[row];
  std::memcpy(lengths.data(), head, kCellLengths);
  std::size_t total = 0;
  for (const std::uint32_t length : lengths) total += length;
  return {head + kRowHead, total};
}

RowExtra RowBlock::Extra(std::size_t row) const {
  const char* const head = pages_.Data() + starts_[row];
  std::uint32_t cells = 0, length;
  for (std::size_t c = 0; c < CellCount; ++c) {
    std::memcpy(&length, head + c * sizeof length, sizeof length);
    cells += length;
  }
  RowExtra extra;
  std::memcpy(&length, head + kCellLengths, sizeof length);
  std::memcpy(&extra.fields, head + kCellLengths + sizeof length, sizeof extra.fields);
  extra.priceAsWritten = {head + kRowHead + cells, length};
  return extra;
}

void RowBlock::Reserve(std::size_t rows, std::size_t bytes, std::size_t expected) {
  starts_.reserve(starts_.size() + rows);
  pages_.Grow(size_ + rows * kRowHead + bytes, size_);
  if (expected) pages_.Populate(size_ + expected);
}

void RowBlock::Append(const std::array<std::string_view, CellCount>& cells, const RowExtra& extra) {
  std::size_t total = kRowHead + extra.priceAsWritten.size();
  for (const std::string_view cell : cells) total += cell.size();
  total = (total + 3) & ~std::size_t{3};
  if (size_ + total > pages_.Capacity())
    pages_.Grow(std::max(size_ + total, pages_.Capacity() + pages_.Capacity() / 2), size_);
  char* const head = pages_.Data() + size_;
  char* out = head + kRowHead;
  for (std::size_t c = 0; c < CellCount; ++c) {
    const auto length = static_cast<std::uint32_t>(cells[c].size());
    std::memcpy(head + c * sizeof length, &length, sizeof length);
    if (length) std::memcpy(out, cells[c].data(), length);
    out += length;
  }
  const auto price = static_cast<std::uint32_t>(extra.priceAsWritten.size());
  std::memcpy(head + kCellLengths, &price, sizeof price);
  std::memcpy(head + kCellLengths + sizeof price, &extra.fields, sizeof extra.fields);
  if (price) std::memcpy(out, extra.priceAsWritten.data(), price);
  starts_.push_back(size_);
  size_ += total;
}

void RowBlock::Append(const BookRow& row) {
  std::array<std::string_view, CellCount> cells;
  for (std::size_t c = 0; c < CellCount; ++c) {
    if (row[c].size() > std::numeric_limits<std::uint32_t>::max())
      throw std::length_error("cell too long for a row");
    cells[c] = row[c];
  }
  Append(cells);
}

bool ReadSink::AppendRows(std::shared_ptr<const RowBlock> rows, std::int64_t rowsBefore) {
  for (std::size_t r = 0; r < rows->Size(); ++r) {
    AppendRow(rows->Row(r));
    Progress(++rowsBefore);
  }
  return true;
}

std::size_t RecordReader::LastRead::Rows() const {
  std::size_t n = 0;
  for (const auto& block : blocks) n += block->Size();
  return n;
}

char* RecordDecoder::Reserve(std::size_t size) {
  // Sixteen bytes of slack: the scan stores whole blocks of sixteen.
  if (size + 16 > capacity_) {
    const std::size_t grown = std::max({size + 16, capacity_ * 2, std::size_t{4096}});
    auto bigger = std::make_unique_for_overwrite<char[]>(grown);
    if (size_) std::memcpy(bigger.get(), copy_.get(), size_);
    copy_ = std::move(bigger);
    capacity_ = grown;
  }
  return copy_.get();
}

void RecordDecoder::Mark(unsigned mask, std::size_t at) {
  for (; mask; mask &= mask - 1)
    marks_.push_back(
        static_cast<std::uint32_t>(at + static_cast<unsigned>(std::countr_zero(mask))));
}

namespace {

RecordFault TooLongFault(std::uint64_t size) {
  return {ReadFault::TooLong, "Record of " + IntToText(static_cast<std::int64_t>(size)) +
                                  " bytes is longer than the 2147483647 bytes a record may have"};
}

bool IsBreak(char c) { return c == '\r' || c == '\n' || c == kRecordTerminator || c == '\0'; }

}  // namespace

const char* RecordDecoder::Scan(const char* p, const char* const end) {
  size_ = 0;
  tooLong_ = 0;
  marks_.clear();
  for (;;) {
    // In runs of at most 64 KB, so that the copy grows with the record, not with the line.
    const std::size_t run = std::min<std::size_t>(static_cast<std::size_t>(end - p), 1 << 16);
    // A record past 64 MB is measured to its end before more of it is copied: one longer than
    // 32 bits can count is refused without copying gigabytes first.
    if (size_ == std::size_t{1} << 26 || size_ + run > static_cast<std::size_t>(kMaxRecordBytes)) {
      const char* q = NextBreak(p, end);
      const std::uint64_t total =
          size_ + static_cast<std::uint64_t>(q - p) + (q < end && *q == kRecordTerminator);
      if (total > static_cast<std::uint64_t>(kMaxRecordBytes)) {
        tooLong_ = total;
        return q;
      }
    }
    char* out = Reserve(size_ + run) + size_;
    const char* const runEnd = p + run;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'),
                  rt = _mm_set1_epi8(kRecordTerminator), nul = _mm_setzero_si128(),
                  ft = _mm_set1_epi8(kFieldTerminator), sd = _mm_set1_epi8(kSubfieldDelimiter),
                  dollar = _mm_set1_epi8('$');
    for (; runEnd - p >= 16; p += 16, out += 16, size_ += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i isSd = _mm_cmpeq_epi8(x, sd);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                       _mm_or_si128(_mm_and_si128(isSd, dollar), _mm_andnot_si128(isSd, x)));
      auto terminators = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, ft)));
      const auto breaks = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, cr), _mm_cmpeq_epi8(x, lf)),
                       _mm_or_si128(_mm_cmpeq_epi8(x, rt), _mm_cmpeq_epi8(x, nul)))));
      if (breaks) {
        const int n = std::countr_zero(breaks);
        Mark(terminators & ((1u << n) - 1), size_);
        size_ += static_cast<std::size_t>(n);
        return p + n;
      }
      Mark(terminators, size_);
    }
#endif
    for (; p < runEnd; ++p, ++out, ++size_) {
      const char c = *p;
      if (IsBreak(c)) return p;
      if (c == kFieldTerminator) marks_.push_back(static_cast<std::uint32_t>(size_));
      *out = c == kSubfieldDelimiter ? '$' : c;
    }
    if (p == end) return end;
  }
}

bool RecordDecoder::ScannedBlankOnly() const { return BlankOnly(copy_.get(), copy_.get() + size_); }

bool RecordDecoder::Decode(std::string_view record, TextEncoding encoding,
                           std::array<std::string_view, CellCount>& cells) {
  LeaderNumbers = 0;
  if (static_cast<std::int64_t>(record.size()) > kMaxRecordBytes)
    return fault_ = TooLongFault(record.size()), false;
  const bool terminated = !record.empty() && record.back() == kRecordTerminator;
  if (terminated) record.remove_suffix(1);
  size_ = 0;
  tooLong_ = 0;
  marks_.clear();
  char* out = Reserve(record.size());
  for (std::size_t i = 0; i < record.size(); ++i) {
    const char c = record[i];
    if (c == kFieldTerminator) marks_.push_back(static_cast<std::uint32_t>(i));
    out[i] = c == kSubfieldDelimiter ? '$' : c;
  }
  size_ = record.size();
  return DecodeScanned(terminated, encoding, cells);
}

bool RecordDecoder::DecodeScanned(bool terminated, TextEncoding encoding,
                                  std::array<std::string_view, CellCount>& cells) {
  LeaderNumbers = 0;
  if (tooLong_) return fault_ = TooLongFault(tooLong_), false;
  // Every subfield delimiter reads as "$" (0x1F is never a second byte, so each one is read so
  // under either encoding); the copy keeps the record's offsets.
  if (terminated) copy_[size_] = kRecordTerminator;
  const std::string_view rt(copy_.get(), size_ + (terminated ? 1 : 0));
  const auto length = static_cast<std::int64_t>(rt.size());

  // Leader: the two numbers the decoder needs.
  const std::string_view lengthDigits = MidView(rt, 1, 5);
  const std::optional<std::int32_t> recordLength = ParseIntStrict(lengthDigits);
  if (!recordLength) return fault_ = {ReadFault::Number, NotAnIntegerReason(lengthDigits)}, false;
  RecordLength = *recordLength;
  LeaderNumbers = 1;
  const std::string_view baseDigits = MidView(rt, 13, 5);
  const std::optional<std::int32_t> baseAddress = ParseIntStrict(baseDigits);
  if (!baseAddress) return fault_ = {ReadFault::Number, NotAnIntegerReason(baseDigits)}, false;
  BaseAddress = *baseAddress;
  LeaderNumbers = 2;
  const std::int64_t base = BaseAddress;

  // Directory and data part; the record terminator, when present, is not data.
  const std::string_view directory = MidView(rt, kDirectoryStart, base - kDirectoryStart);
  const std::string_view fieldsText = MidView(rt, base, length - base + (terminated ? 0 : 1));
  // The data part's pieces between field terminators: element 0 precedes the directory
  // terminator, element k + 1 is the field of entry k; no elements when it is empty.
  const auto from = static_cast<std::uint32_t>(fieldsText.data() - rt.data());
  const auto to = static_cast<std::uint32_t>(from + fieldsText.size());
  const auto first = std::lower_bound(marks_.begin(), marks_.end(), from);
  const auto last = std::lower_bound(first, marks_.end(), to);
  const std::size_t pieces = fieldsText.empty() ? 0 : static_cast<std::size_t>(last - first) + 1;
  auto piece = [&](std::size_t i) {
    const std::uint32_t b = i == 0 ? from : first[static_cast<std::ptrdiff_t>(i) - 1] + 1;
    const std::uint32_t e = i + 1 == pieces ? to : first[static_cast<std::ptrdiff_t>(i)];
    return rt.substr(b, e - b);
  };

  // Walk the directory: entry k names the field at element k + 1. The whole record is decoded
  // before its row exists.
  cells = {};
  extra_ = {};
  const std::int64_t entries = RoundHalfEven(static_cast<double>(directory.size()) / kEntryLength);
  for (std::int64_t k = 0; k < entries; ++k) {
    const Tag tag = KnownTag(MidView(directory, kEntryLength * k + 1, 3));
    if (tag == Tag::None) continue;
    const auto index = static_cast<std::size_t>(k + 1);
    if (index >= pieces) {
      fault_ = {ReadFault::Directory, "List index out of bounds (" + IntToText(k + 1) + ")"};
      return false;
    }
    Extract(tag, piece(index), encoding, cells, extra_);
  }
  return true;
}

namespace {

// One piece of the text between record and line ends that held a record, as far as pairing it
// with its neighbours needs: a record cut in two by a line break is two such pieces.
struct Piece {
  std::int64_t record = 0, line = 0;     // counted from its stretch's start
  std::uint64_t offset = 0, length = 0;  // length counts a 0x1D ending the piece
  std::int64_t declared = -1;            // the leader's record length, -1 when no number
  bool terminated = false;               // ended by 0x1D, so complete
  std::ptrdiff_t bad = -1;               // index in its block's bad records, -1 when good
};

// Bytes of the file at hand: [offset, offset + bytes.size()) of it (the whole text, or a stretch
// copied out of it), and whether the text ends where they do.
struct Span {
  std::string_view bytes;
  std::uint64_t offset = 0;
  bool endsText = true;

  std::uint64_t OffsetOf(const char* at) const {
    return offset + static_cast<std::uint64_t>(at - bytes.data());
  }
  const char* At(std::uint64_t at) const { return bytes.data() + (at - offset); }
};

// Whether b holds exactly the rest of a: a ended early at one line end (LF, CR or CR LF), and
// the two together make the length a's leader declares. text holds both.
bool CutInTwo(const Span& text, const Piece& a, const Piece& b) {
  if (a.terminated || a.declared <= static_cast<std::int64_t>(a.length) ||
      static_cast<std::uint64_t>(a.declared) != a.length + b.length)
    return false;
  const std::uint64_t end = a.offset + a.length;
  const std::string_view gap(text.At(end), b.offset - end);
  return gap == "\n" || gap == "\r" || gap == "\r\n";
}

// One stretch of the text, cut at a record or line end, and what decoding it gave. Records and
// lines are counted from the stretch's start.
struct Block {
  std::uint64_t begin = 0, end = 0;
  bool done = false;
  std::shared_ptr<RowBlock> rows;
  bool fourByte = false;      // a GB18030 four-byte sequence stands in the stretch
  std::int64_t lineEnds = 0;  // line ends passed (up to the failing record when failed)
  std::int64_t records = 0;   // records met, the failing one included
  bool nul = false;           // the text ends at a NUL inside this block
  std::optional<ReadError> error;
  std::vector<BadRecord> bad;  // passed over (ReadMode::PassOver)
  // Bytes of bad records the decode threads may still copy: about as many as will be held.
  std::atomic<std::uint64_t>* copyBudget = nullptr;
  std::optional<Piece> first, last;
  // Leader numbers as the last record decoded here left them, when it got that far.
  bool lengthSet = false, baseSet = false;
  std::int32_t recordLength = 0, baseAddress = 0;

  void Leader(const RecordDecoder& decoder) {
    if (decoder.LeaderNumbers >= 1) lengthSet = true, recordLength = decoder.RecordLength;
    if (decoder.LeaderNumbers >= 2) baseSet = true, baseAddress = decoder.BaseAddress;
  }
};

RecordFault RestOfCutRecordFault() {
  return {ReadFault::RestOfCutRecord, "Not a record of its own"};
}

// Hints that two neighbouring pieces give each other.
void Pair(const Span& text, const Piece& a, const Piece& b, BadRecord* badA, BadRecord* badB) {
  if (!CutInTwo(text, a, b)) return;
  if (badA) badA->hint = BadRecord::Hint::CutBeforeNext;
  if (badB) badB->hint = BadRecord::Hint::RestOfPrevious;
}

// Bad records up to this size are copied by the thread that decodes their stretch.
constexpr std::uint64_t kCopiedBadBytes = std::uint64_t{1} << 20;

// Passing over bad records: the row of a record decoded, or the bad record of one that could
// not be (fault) or that holds the rest of a bad record cut in two; the piece paired with the
// one before it for the hints.
void PassOver(const Span& text, const RecordFault* fault,
              const std::array<std::string_view, CellCount>& cells, const RowExtra& extra,
              const char* p, const char* q, bool terminated, std::int64_t declared, Block& block) {
  Piece piece{block.records,
              block.lineEnds + 1,
              text.OffsetOf(p),
              static_cast<std::uint64_t>(q - p) + (terminated ? 1 : 0),
              declared,
              terminated,
              -1};
  std::optional<RecordFault> rest;
  if (!fault && block.last && block.last->bad >= 0 && CutInTwo(text, *block.last, piece))
    fault = &rest.emplace(RestOfCutRecordFault());
  if (!fault) {
    block.rows->Append(cells, extra);
  } else {
    ReadError error{fault->fault, block.records, block.lineEnds + 1, piece.offset, fault->reason};
    BadRecord& bad = block.bad.emplace_back();
    bad.error = std::move(error);
    bad.length = piece.length;
    bad.declared = piece.declared;
    // Copied while the stretch is at hand on this thread (whether they are kept is decided in
    // file order); a longer one, or one past what will be held, is read from the file then.
    if (piece.length <= kCopiedBadBytes && block.copyBudget &&
        block.copyBudget->load(std::memory_order_relaxed) >= piece.length) {
      block.copyBudget->fetch_sub(piece.length, std::memory_order_relaxed);
      bad.bytes.assign(text.At(piece.offset), piece.length);
    }
    // The file's text ends inside this record.
    // (Bytes that end short of the text's end are a stretch, which ends after a break.)
    const bool textEnds = q == text.bytes.data() + text.bytes.size() ? text.endsText : *q == '\0';
    if (!terminated && textEnds && piece.declared > static_cast<std::int64_t>(piece.length))
      bad.hint = BadRecord::Hint::FileEndsInside;
    piece.bad = static_cast<std::ptrdiff_t>(block.bad.size()) - 1;
  }
  if (block.last) {
    Pair(text, *block.last, piece,
         block.last->bad >= 0 ? &block.bad[static_cast<std::size_t>(block.last->bad)] : nullptr,
         piece.bad >= 0 ? &block.bad[static_cast<std::size_t>(piece.bad)] : nullptr);
  }
  if (!block.first) block.first = piece;
  block.last = piece;
}

// Decodes the records of [block.begin, block.end) of the file, which text holds. expected: the
// rows' bytes the stretch is likely to give.
void DecodeBlock(const Span& text, TextEncoding encoding, ReadMode mode, RecordDecoder& decoder,
                 Block& block, std::size_t expected) {
  const char* p = text.At(block.begin);
  const char* end = text.At(block.end);
  std::array<std::string_view, CellCount> cells;
  // Cells make up about half of a generated record: room for three quarters (unwritten pages
  // cost nothing), grown when short.
  block.rows->Reserve((block.end - block.begin) / 512, (block.end - block.begin) / 4 * 3, expected);
  const auto offsetOf = [&](const char* at) { return text.OffsetOf(at); };
  bool scanning = false;
  try {
    for (;;) {
      scanning = true;
      const char* const q = decoder.Scan(p, end);
      scanning = false;
      const bool terminated = q < end && *q == kRecordTerminator;
      // A terminator alone is no record, nor is an empty or blank piece ending a line.
      if (terminated ? q > p : q > p && (decoder.TooLong() || !decoder.ScannedBlankOnly())) {
        ++block.records;
        const bool decoded = decoder.DecodeScanned(terminated, encoding, cells);
        // A number converted before a failure still counts.
        block.Leader(decoder);
        if (mode == ReadMode::Stop) {
          if (!decoded) {
            block.error = ReadError{decoder.Fault().fault, block.records, block.lineEnds + 1,
                                    offsetOf(p), decoder.Fault().reason};
            return;
          }
          block.rows->Append(cells, decoder.Extra());
        } else {
          PassOver(text, decoded ? nullptr : &decoder.Fault(), cells, decoder.Extra(), p, q,
                   terminated, decoder.LeaderNumbers >= 1 ? decoder.RecordLength : -1, block);
        }
      }
      if (terminated) {
        p = q + 1;
        continue;
      }
      if (q == end) break;
      if (*q == '\0') {
        block.nul = true;
        block.end = offsetOf(q);
        break;
      }
      ++block.lineEnds;
      p = (*q == '\r' && q + 1 < end && q[1] == '\n') ? q + 2 : q + 1;
    }
  } catch (const std::exception&) {
    // No more memory for the rows or the copy (bad_alloc, or a size no allocation can have):
    // nothing else here throws, and a helper thread must not let it escape.
    block.error = ReadError{ReadFault::OutOfMemory,
                            block.records + (scanning ? 1 : 0),
                            block.lineEnds + 1,
                            offsetOf(p),
                            {}};
  }
}

// Where the stretch that starts at from and wants to end near from + size ends: after the next
// record terminator or line end (a CR LF pair kept together), or at the text's end.
// Looked for in small copies where the file offers them: touching the mapping would page it in
// only to give it back, each time at the cost of a flush of every processor's page cache.
std::uint64_t BlockEnd(const FileBytes& file, std::string_view text, std::uint64_t from,
                       std::size_t size) {
  char probe[4096];
  // Records end every few KB; a longer stretch without a break is looked through in place.
  for (std::uint64_t at = from + size, probes = 0; at < text.size(); ++probes) {
    std::size_t n = std::min<std::uint64_t>(sizeof probe, text.size() - at);
    const char* bytes = probe;
    if (probes == 16 || !file.CopyOut(at, n, probe)) {
      bytes = text.data() + at;
      n = text.size() - at;
    }
    // One byte more than is searched, for the LF of a CR LF pair.
    const std::size_t searched = at + n < text.size() ? n - 1 : n;
    const char* q = NextBreak(bytes, bytes + searched);
    if (q < bytes + searched) {
      const bool pair = *q == '\r' && q + 1 < bytes + n && q[1] == '\n';
      return at + static_cast<std::uint64_t>(q - bytes) + (pair ? 2 : 1);
    }
    at += searched;
  }
  return text.size();
}

// The stretches of one read: claimed in file order by the decode threads, handed to the sink
// in file order by the calling thread.
class BlockRun {
 public:
  BlockRun(const FileBytes& file, TextEncoding encoding, ReadMode mode, std::size_t blockBytes,
           bool fourBytes, std::uint64_t heldBadBytes)
      : file_(file),
        text_(file.View()),
        encoding_(encoding),
        mode_(mode),
        blockBytes_(std::max<std::size_t>(blockBytes, 1)),
        ahead_(std::clamp<std::size_t>(kAheadBytes / blockBytes_, 2, 16)),
        fourBytes_(fourBytes && encoding == TextEncoding::Gb18030),
        copyBudget_(heldBadBytes) {}

  // The helper thread: decodes stretches until none is left or the run stops.
  void Work() {
    Decoder decoder;
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock,
                    [&] { return stop_ || Exhausted() || blocks_.size() - delivered_ < ahead_; });
      if (stop_ || Exhausted()) return;
      Decode(ClaimLocked(), decoder, lock);
    }
  }

  // The calling thread: decodes stretches too, and between them hands every finished stretch
  // that is next in file order to deliver(block). Returns once the last one is handed over.
  template <class Deliver>
  void Run(Deliver&& deliver) {
    std::unique_lock lock(mutex_);
    for (;;) {
      while (delivered_ < blocks_.size() && blocks_[delivered_].done) {
        Block& block = blocks_[delivered_];
        lock.unlock();
        const bool more = deliver(block);
        // Every stretch up to this one's end is decoded: its pages are no longer needed (the
        // page the next stretch starts in stays).
        file_.Release(block.end);
        lock.lock();
        // A block nobody else holds any more takes a later stretch's rows.
        if (block.rows && block.rows.use_count() == 1) {
          block.rows->Clear();
          spare_.push_back(std::move(block.rows));
        }
        block.rows.reset();
        ++delivered_;
        changed_.notify_all();
        if (!more) {
          stop_ = true;
          return;
        }
      }
      if (delivered_ == blocks_.size() && (stop_ || Exhausted())) return;
      if (!stop_ && !Exhausted()) {
        Decode(ClaimLocked(), decoder_, lock);
      } else {
        changed_.wait(lock);  // the helper is still at the next stretch in file order
      }
    }
  }

  void Stop() {
    std::lock_guard lock(mutex_);
    stop_ = true;
    changed_.notify_all();
  }

 private:
  // Stretches decoded ahead of the sink at most, about 16 MB of the file: bounds the rows and
  // pages held back.
  static constexpr std::size_t kAheadBytes = std::size_t{16} << 20;
  // A stretch is copied out of the file up to this size (one without line or record ends for
  // megabytes is read in place rather than held twice).
  static constexpr std::size_t kCopyBytes = std::size_t{64} << 20;

  // What one thread decodes with: the decoder, and the buffer it copies stretches into (pages of
  // its own, given back whole when the read ends rather than kept by the heap into the next).
  struct Decoder {
    RecordDecoder record;
    PageBuffer buffer;
  };

  // The bytes of block: copied out where the file offers it, else in place.
  Span Bytes(const Block& block, Decoder& decoder) const {
    const std::size_t size = block.end - block.begin;
    if (size > 0 && size <= kCopyBytes) {
      bool room = size <= decoder.buffer.Capacity();
      if (!room) {
        try {
          decoder.buffer.Grow(std::clamp(blockBytes_ + blockBytes_ / 4, size, kCopyBytes), 0);
          room = true;
        } catch (const std::bad_alloc&) {
          // No room for a copy is no failure: the stretch is read in place.
        }
      }
      if (room && file_.CopyOut(block.begin, size, decoder.buffer.Data()))
        return {std::string_view(decoder.buffer.Data(), size), block.begin,
                block.end == text_.size()};
    }
    file_.Prefault(block.begin, size);
    return {text_, 0, true};
  }

  bool Exhausted() const { return cursor_ >= text_.size(); }

  Block& ClaimLocked() {
    Block& block = blocks_.emplace_back();
    block.begin = cursor_;
    block.end = cursor_ = BlockEnd(file_, text_, cursor_, blockBytes_);
    return block;
  }

  void Decode(Block& block, Decoder& decoder, std::unique_lock<std::mutex>& lock) {
    const bool findFourBytes = fourBytes_ && !foundFourBytes_;
    // As many bytes a byte of the file as the stretch decoded last gave, and a little more.
    const auto expected = static_cast<std::size_t>(
        rowBytesPerByte_ * static_cast<double>(block.end - block.begin) * 1.03);
    if (!spare_.empty()) {
      block.rows = std::move(spare_.back());
      spare_.pop_back();
    } else {
      block.rows = std::make_shared<RowBlock>();
    }
    lock.unlock();
    const Span bytes = Bytes(block, decoder);
    block.copyBudget = &copyBudget_;
    DecodeBlock(bytes, encoding_, mode_, decoder.record, block, expected);
    // While the stretch is in the cache; a stretch starts on a character boundary (after a line
    // or record end), and one the text ends in ends at its NUL.
    if (findFourBytes)
      block.fourByte =
          HasFourByteSequence(std::string_view(bytes.At(block.begin), block.end - block.begin));
    lock.lock();
    block.done = true;
    if (block.end > block.begin)
      rowBytesPerByte_ = static_cast<double>(block.rows->WrittenBytes()) /
                         static_cast<double>(block.end - block.begin);
    foundFourBytes_ = foundFourBytes_ || block.fourByte;
    // Nothing after a failure or the text's end is wanted.
    if (block.error || block.nul) stop_ = true;
    changed_.notify_all();
  }

  const FileBytes& file_;
  const std::string_view text_;
  const TextEncoding encoding_;
  const ReadMode mode_;
  const std::size_t blockBytes_;
  const std::size_t ahead_;  // stretches
  const bool fourBytes_;
  // The decode threads copy bad records' bytes while they have them at hand, no more than the
  // read will hold (roughly: the stretches end in any order).
  std::atomic<std::uint64_t> copyBudget_;
  bool foundFourBytes_ = false;
  double rowBytesPerByte_ = 0;  // none known before the first stretch: its pages come as written
  Decoder decoder_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block> blocks_;  // a deque: blocks stay in place while more are added
  std::vector<std::shared_ptr<RowBlock>> spare_;
  std::uint64_t cursor_ = 0;
  std::size_t delivered_ = 0;
  bool stop_ = false;
};

}  // namespace

ReadOutcome RecordReader::Read(const std::filesystem::path& path, ReadSink& sink, ReadMode mode) {
  const std::chrono::steady_clock::time_point start = clock_();
  std::error_code ec;
  if (last_ && std::filesystem::status(path, ec).type() == std::filesystem::file_type::not_found)
    return Replay(*last_, sink, start);
  position_ = {};
  fourByteSequences_ = false;
  // A file that cannot be opened leaves no rows to give again, as a new, empty list; the rows
  // of the read before go here, before the new file's bytes come in.
  auto last = std::make_shared<LastRead>();
  last_ = last;
  // So that the next rows take the place of the last ones instead of adding to what is held.
  ReturnFreeHeap();
  ReadOutcome& outcome = last->outcome;
  try {
    std::shared_ptr<const FileBytes> file;
    try {
      file = FileBytes::Load(path, tuning_.file);
    } catch (const EFOpenError& e) {
      outcome.error = ReadError{ReadFault::Open, 0, 0, 0, e.what()};
      return outcome;
    }
    outcome.rereadable = file->Regular();
    encoding_ = forcedEncoding_ ? *forcedEncoding_ : DetectInFile(*file);
    Decode(*file, sink, mode, *last);
  } catch (const std::bad_alloc&) {
    // The rows before stay; the position is the decoder's when it got that far.
    outcome.error = ReadError{ReadFault::OutOfMemory, position_.record, position_.line, 0, {}};
  }
  last->position = position_;
  if (!outcome.Completed()) return outcome;
  // The file (mapping and handle) is let go before the time is taken.
  sink.Elapsed(clock_() - start);
  return outcome;
}

ReadOutcome RecordReader::Replay(const LastRead& last, ReadSink& sink,
                                 std::chrono::steady_clock::time_point start) {
  position_ = {};
  ReadOutcome outcome = last.outcome;
  // The name given holds no file: nothing is there to read again.
  outcome.rereadable = false;
  std::int64_t rows = 0;
  std::size_t bad = 0;
  const std::vector<BadRecord>& list = outcome.bad->records;
  for (const auto& block : last.blocks) {
    // The records passed over among this block's rows come before them, as in the read.
    const auto upTo = rows + static_cast<std::int64_t>(block->Size());
    for (; bad < list.size() && list[bad].error.record - 1 - static_cast<std::int64_t>(bad) < upTo;
         ++bad)
      sink.PassedOver(list[bad]);
    if (!sink.AppendRows(block, rows)) {
      outcome.stopped = true;
      return outcome;
    }
    rows += static_cast<std::int64_t>(block->Size());
  }
  for (; bad < list.size(); ++bad) sink.PassedOver(list[bad]);
  RecordLength = last.recordLength;
  BaseAddress = last.baseAddress;
  position_ = last.position;
  if (outcome.Completed()) sink.Elapsed(clock_() - start);
  return outcome;
}

void RecordReader::Decode(const FileBytes& file, ReadSink& sink, ReadMode mode, LastRead& last) {
  position_ = {};
  const std::string_view text = file.View();
  const std::size_t blockBytes =
      tuning_.blockBytes ? tuning_.blockBytes : std::size_t{tuning_.keepRows ? 4u : 1u} << 20;
  BlockRun run(file, encoding_, mode, blockBytes, tuning_.findFourByteSequences,
               tuning_.heldBadBytes);
  const Span whole{text, 0, true};
  ReadOutcome& outcome = last.outcome;
  auto bad = std::make_shared<BadList>();
  outcome.bad = bad;
  std::int64_t rows = 0, records = 0, lineEnds = 0;
  std::uint64_t textEnd = text.size();
  // The last piece handed over, its index in the bad list when bad.
  std::optional<Piece> previous;
  // Bad records the sink has been told of; the last one waits while the next piece may still
  // give it a hint.
  std::size_t told = 0;
  bool full = false;  // the bad records' bytes reached the cap
  auto tell = [&](std::size_t upTo) {
    for (; told < upTo; ++told) sink.PassedOver(bad->records[told]);
  };
  auto deliver = [&](Block& block) {
    // Rows cut from a file that shrank under the read may hold its lost bytes as zeros.
    if (file.Shrank()) {
      position_ = {};
      outcome.error = ReadError{
          ReadFault::CutShort, 0, 0, 0,
          "The file \"" + file.Path() + "\" was cut short by another program while it was read"};
      return false;
    }
    if (block.lengthSet) last.recordLength = RecordLength = block.recordLength;
    if (block.baseSet) last.baseAddress = BaseAddress = block.baseAddress;
    if (block.fourByte) fourByteSequences_ = true;
    // A first piece that holds the rest of the bad record the stretch before ended in is no
    // record of its own: its row goes, and it is listed with the other.
    if (mode == ReadMode::PassOver && previous && previous->bad >= 0 && block.first &&
        block.first->bad < 0 && CutInTwo(whole, *previous, *block.first)) {
      const Piece& first = *block.first;
      block.rows->EraseFirst();
      BadRecord rest;
      RecordFault fault = RestOfCutRecordFault();
      rest.error = {fault.fault, first.record, first.line, first.offset, std::move(fault.reason)};
      rest.length = first.length;
      rest.declared = first.declared;
      block.bad.insert(block.bad.begin(), std::move(rest));
      if (block.last->bad >= 0) ++block.last->bad;
      if (block.last->offset == first.offset) block.last->bad = 0;
      block.first->bad = 0;
    }
    // The records passed over, numbered across the stretches before; the first piece pairs
    // with the last of the stretch before.
    const std::size_t before = bad->records.size();
    for (BadRecord& b : block.bad) {
      b.error.record += records;
      b.error.line += lineEnds;
      // The first bad records' bytes, up to the cap: none after the first that passes it.
      full =
          full || b.length > BadList::kHeldCap || bad->heldBytes + b.length > tuning_.heldBadBytes;
      if (!full) {
        // The bytes as the file held them.
        b.held = true;
        if (b.bytes.size() != b.length) b.bytes.assign(text.substr(b.error.offset, b.length));
        bad->heldBytes += b.length;
      } else {
        std::string().swap(b.bytes);
      }
      bad->records.push_back(std::move(b));
    }
    if (previous && block.first) {
      Pair(whole, *previous, *block.first,
           previous->bad >= 0 ? &bad->records[static_cast<std::size_t>(previous->bad)] : nullptr,
           block.first->bad >= 0
               ? &bad->records[before + static_cast<std::size_t>(block.first->bad)]
               : nullptr);
    }
    if (block.last) {
      previous = block.last;
      if (previous->bad >= 0) previous->bad += static_cast<std::ptrdiff_t>(before);
    }
    // Every hint is final but that of a last piece the next stretch may still pair with.
    tell(bad->records.size() -
         (previous && previous->bad >= 0 && !block.error && !block.nul ? 1 : 0));
    if (block.error) {
      // The failing record and its line, counted across the stretches before it.
      block.error->record += records;
      block.error->line += lineEnds;
      position_.record = block.error->record;
      position_.line = block.error->line;
    }
    const auto n = static_cast<std::int64_t>(block.rows->Size());
    if (n > 0) {
      if (tuning_.keepRows) {
        block.rows->Trim();  // kept for good: no room to spare
        last.blocks.push_back(block.rows);
      }
      if (!sink.AppendRows(block.rows, rows)) {
        outcome.stopped = true;
        return false;
      }
    }
    rows += n;
    records += block.records;
    lineEnds += block.lineEnds;
    if (block.error) {
      outcome.error = std::move(block.error);
      return false;
    }
    if (block.nul) {
      textEnd = block.end;
      return false;
    }
    return true;
  };

  std::thread helper;
  if (tuning_.threads > 1 && text.size() > blockBytes) helper = std::thread([&run] { run.Work(); });
  try {
    run.Run(deliver);
  } catch (...) {
    run.Stop();
    if (helper.joinable()) helper.join();
    throw;
  }
  run.Stop();
  if (helper.joinable()) helper.join();
  if (outcome.stopped) return;
  tell(bad->records.size());
  if (outcome.error) return;
  // Completed: the last line (a line end at the very end adds none) and the last record.
  const bool openLine = textEnd > 0 && text[textEnd - 1] != '\r' && text[textEnd - 1] != '\n';
  position_.line = lineEnds + (openLine ? 1 : 0);
  position_.record = records;
}

RecordReader::Decoded RecordReader::DecodeRecord(std::string_view record) {
  std::array<std::string_view, CellCount> cells;
  Decoded out;
  if (!decoder_.Decode(record, encoding_, cells)) out.fault = decoder_.Fault();
  if (decoder_.LeaderNumbers >= 1) RecordLength = decoder_.RecordLength;
  if (decoder_.LeaderNumbers >= 2) BaseAddress = decoder_.BaseAddress;
  if (!out.fault)
    for (std::size_t c = 0; c < CellCount; ++c) out.row[c] = Text(cells[c]);
  return out;
}

}  // namespace marc
