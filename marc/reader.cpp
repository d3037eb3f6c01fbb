#include "reader.h"

#include <array>
#include <cstring>
#include <limits>

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

void Extract(Tag tag, std::string_view field, TextEncoding enc, BookRow& row) {
  switch (tag) {
    case Tag::Title200:
      row[Title] = ExtractTitle(field);
      row[Author] = ExtractAuthor(field);
      break;
    case Tag::Number010: {
      row[Isbn] = ExtractIsbn(field);
      Text price = ExtractPrice(field, enc);
      if (!price.empty()) row[Price] = std::move(price);
      break;
    }
    case Tag::Publication210:
      row[PubPlace] = ExtractPubPlace(field);
      row[Publisher] = ExtractPublisher(field);
      row[PubDate] = ExtractPubDate(field, enc);
      break;
    case Tag::Physical215:
      row[Pages] = ExtractPages(field, enc);
      row[Dimensions] = ExtractDimensions(field);
      row[Accompanying] = ExtractAccompanying(field);
      break;
    case Tag::Class690:
      row[ClassNumber] = ExtractClassNumber(field);
      break;
    case Tag::Subject606:
      row[SubjectHeading] = ExtractSubjectHeading(field);
      break;
    case Tag::Summary330:
      row[Summary] = ExtractSummary(field);
      break;
    case Tag::None:
      break;
  }
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

Text ProgressText(std::int64_t rowCount) {
  return "\xB6\xC1\xC8\xEB:" + IntToText(rowCount) + " \xCC\xF5";  // 读入:N 条
}

TextEncoding DetectEncoding(std::string_view bytes) {
  auto p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto end = p + bytes.size();
  bool sawSequence = false;
  while (p < end) {
    // Leaders, directories and tags are ASCII: skip it eight bytes at a time.
    std::uint64_t eight;
    if (end - p >= 8 && (std::memcpy(&eight, p, 8), (eight & 0x8080808080808080ULL) == 0)) {
      p += 8;
      continue;
    }
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const std::size_t n = Utf8SequenceLength(p, end);
    if (n == 0) return TextEncoding::Gbk;
    sawSequence = true;
    p += n;
  }
  return sawSequence ? TextEncoding::Utf8 : TextEncoding::Gbk;
}

void RecordReader::Read(const std::string& path, ReadSink& sink) {
  const double start = ClockNow();
  position_ = {};
  fourByteSequences_.reset();
  // A new list replaces the old one before loading, so a file that cannot be opened leaves an
  // empty list rather than the previous file's lines.
  lineList_ = std::make_unique<TStringList>();
  LoadTextLines(*lineList_, path);
  encoding_ = forcedEncoding_ ? *forcedEncoding_ : DetectEncoding(lineList_->Bytes());
  Decode(sink);
  sink.Elapsed(FormatElapsed(ClockNow() - start, timeFormat_));
}

bool RecordReader::FourByteSequences() const {
  if (!fourByteSequences_)
    fourByteSequences_ =
        encoding_ == TextEncoding::Gbk && lineList_ && HasFourByteSequence(lineList_->Bytes());
  return *fourByteSequences_;
}

void RecordReader::Decode(ReadSink& sink) {
  position_ = {};
  if (!lineList_) return;
  std::int64_t rows = 0;
  const std::int64_t lines = lineList_->Count();
  for (std::int64_t i = 0; i < lines; ++i) {
    position_.line = i + 1;
    std::string_view line = lineList_->View(i);
    // A line may hold several records back to back: each ends at its record terminator, and
    // what follows the last terminator is one more record.
    while (!line.empty()) {
      const std::size_t t = line.find(kRecordTerminator);
      const std::size_t n = t == std::string_view::npos ? line.size() : t + 1;
      const std::string_view record = line.substr(0, n);
      line.remove_prefix(n);
      if (record.size() == 1 && record[0] == kRecordTerminator) continue;
      ++position_.record;
      sink.AppendRow(DecodeRecord(record));
      sink.Progress(++rows);
    }
  }
}

BookRow RecordReader::DecodeRecord(std::string_view record) {
  if (static_cast<std::int64_t>(record.size()) > kMaxRecordBytes)
    throw ERecordError("Record of " + IntToText(static_cast<std::int64_t>(record.size())) +
                       " bytes is longer than the 2147483647 bytes a record may have");
  const bool terminated = !record.empty() && record.back() == kRecordTerminator;
  recordText_.assign(record);
  ReplaceByteInPlace(recordText_, kSubfieldDelimiter, '$', encoding_);
  const std::string_view rt = recordText_;
  const auto length = static_cast<std::int64_t>(rt.size());

  // Leader: the two numbers the decoder needs.
  RecordLength = StrToIntStrict(MidView(rt, 1, 5));
  BaseAddress = StrToIntStrict(MidView(rt, 13, 5));
  const std::int64_t base = BaseAddress;

  // Directory and data part; the record terminator, when present, is not data.
  const std::string_view directory = MidView(rt, kDirectoryStart, base - kDirectoryStart);
  const std::string_view fieldsText = MidView(rt, base, length - base + (terminated ? 0 : 1));
  SplitViews(fieldsText, kFieldTerminator, fields_);

  // Walk the directory: entry k names the field at element k + 1 (element 0 precedes the
  // directory terminator). The whole record is decoded before its row exists.
  BookRow row;
  const std::int64_t entries = RoundHalfEven(static_cast<double>(directory.size()) / kEntryLength);
  for (std::int64_t k = 0; k < entries; ++k) {
    const Tag tag = KnownTag(MidView(directory, kEntryLength * k + 1, 3));
    if (tag == Tag::None) continue;
    const auto index = static_cast<std::size_t>(k + 1);
    if (index >= fields_.size()) throw EStringListError(k + 1);
    Extract(tag, fields_[index], encoding_, row);
  }
  return row;
}

}  // namespace marc
