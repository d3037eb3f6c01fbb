#include "cnmarc_gen.h"

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaly::bench {

namespace {

#include "cnmarc_vocab.inc"

constexpr char kRecordTerminator = '\x1D';
constexpr char kFieldTerminator = '\x1E';
constexpr char kSubfieldDelimiter = '\x1F';

// Summaries stop growing past this, so that a record stays within what real ones reach.
constexpr std::size_t kSummaryCap = 2000;

void AddSubfield(std::string& field, char code, std::string_view value) {
  field += kSubfieldDelimiter;
  field += code;
  field += value;
}

std::string Format(const char* fmt, auto... args) {
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, fmt, args...);
  return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

bool Has(std::string_view body, char code) {
  const char pattern[] = {kSubfieldDelimiter, code};
  return body.find(std::string_view(pattern, 2)) != std::string_view::npos;
}

struct Field {
  std::string_view tag;
  std::string body;
};

}  // namespace

CnmarcGenerator::CnmarcGenerator(std::uint64_t seed) : state_(seed) {
  // Records with holdings fields (AVA, from one system's search export) are drawn a third as
  // often as the others: a library's own file seldom carries them.
  std::uint64_t total = 0;
  for (const SampleRecord& r : kSampleRecords) {
    bool holdings = false;
    for (std::size_t i = r.first; i < r.first + r.count; ++i)
      holdings = holdings || kSampleFields[i].tag == "AVA";
    total += holdings ? 1 : 3;
    sampleWeights_.push_back(total);
  }
}

std::size_t CnmarcGenerator::PickSample() {
  const std::uint64_t w = Below(sampleWeights_.back());
  std::size_t i = 0;
  while (sampleWeights_[i] <= w) ++i;
  return i;
}

// splitmix64: tiny, and unlike the standard distributions the same everywhere.
std::uint64_t CnmarcGenerator::Next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::uint64_t CnmarcGenerator::Below(std::uint64_t n) { return Next() % n; }

std::int64_t CnmarcGenerator::Between(std::int64_t lo, std::int64_t hi) {
  return lo + static_cast<std::int64_t>(Below(static_cast<std::uint64_t>(hi - lo + 1)));
}

bool CnmarcGenerator::Chance(int percent) { return Below(100) < static_cast<unsigned>(percent); }

// ISBN-13 (978-7-...) mostly, ISBN-10 (7-...) for older books, both with valid check digits.
std::string CnmarcGenerator::Isbn() {
  const int publisherDigits = static_cast<int>(Between(3, 5));
  std::string digits = "7";
  for (int i = 0; i < 8; ++i) digits += static_cast<char>('0' + Below(10));
  const std::string publisher = digits.substr(1, publisherDigits);
  const std::string title = digits.substr(1 + publisherDigits);
  if (Chance(70)) {
    const std::string all = "978" + digits;
    int sum = 0;
    for (std::size_t i = 0; i < all.size(); ++i) sum += (all[i] - '0') * (i % 2 ? 3 : 1);
    const char check = static_cast<char>('0' + (10 - sum % 10) % 10);
    return "978-7-" + publisher + "-" + title + "-" + check;
  }
  int sum = 0;
  for (std::size_t i = 0; i < digits.size(); ++i) sum += (digits[i] - '0') * (10 - int(i));
  const int c = (11 - sum % 11) % 11;
  const char check = c == 10 ? 'X' : static_cast<char>('0' + c);
  return "7-" + publisher + "-" + title + "-" + check;
}

std::string CnmarcGenerator::Price() {
  if (Chance(8)) return std::string(Pick(kOddPrices));
  const auto yuan = Between(5, Chance(90) ? 120 : 980);
  static constexpr int kCents[] = {0, 0, 0, 0, 50, 80, 90, 20};
  const int cents = kCents[Below(std::size(kCents))];
  if (Chance(3))
    return Format("%lld.%02d", static_cast<long long>(yuan), cents) + std::string(kYuan);
  return Format("CNY%lld.%02d", static_cast<long long>(yuan), cents);
}

std::string CnmarcGenerator::Field010() {
  std::string f = "  ";
  if (Chance(94)) AddSubfield(f, 'a', Isbn());
  if (Chance(20)) AddSubfield(f, 'b', Pick(kBindings));
  if (Chance(95)) AddSubfield(f, 'd', Price());
  return f;
}

// Title from the samples or composed from subject words, pinyin where the sample record had it
// ($9 after $a, or an uppercase $A before it), a statement of responsibility, a translator.
std::string CnmarcGenerator::Field200(std::string_view sample) {
  std::string title;
  if (Chance(35)) {
    title = Pick(kTitles);
  } else {
    title = Pick(kSubjects);
    if (Chance(50)) {
      title += Pick(kTitleLinks);
      title += Chance(50) ? Pick(kSubjects) : Pick(kSubjectTopics);
    }
    title += Pick(kTitleWords);
  }
  if (Chance(15)) {
    title += kTitleColon;
    title += Pick(kSubtitles);
  } else if (Chance(8)) {
    title += kEditionOpen;
    title += Format("%d", static_cast<int>(Between(2, 9)));
    title += kEditionClose;
  }
  std::string f = "1 ";
  if (Has(sample, 'A')) AddSubfield(f, 'A', Pick(kTitlePinyin));
  AddSubfield(f, 'a', title);
  if (Has(sample, '9') || Chance(30)) AddSubfield(f, '9', Pick(kTitlePinyin));
  if (Chance(50)) {
    AddSubfield(f, 'f', Pick(kAuthors));
  } else {
    std::string author(Pick(kNames));
    if (Chance(30)) author += "\xA3\xAC" + std::string(Pick(kNames));  // "，": a second author
    author += Pick(kAuthorRoles);
    AddSubfield(f, 'f', author);
  }
  if (Chance(20)) AddSubfield(f, 'g', Pick(kTranslators));
  return f;
}

std::string CnmarcGenerator::Field210() {
  std::string f = "  ";
  if (Chance(92)) AddSubfield(f, 'a', Pick(kPlaces));
  if (Chance(96)) AddSubfield(f, 'c', Pick(kPublishers));
  if (Chance(95)) {
    const auto year = Between(1980, 2024);
    switch (Below(4)) {
      case 0:
        AddSubfield(f, 'd', Format("%lld.%02d", static_cast<long long>(year), int(Between(1, 12))));
        break;
      case 1:
        AddSubfield(f, 'd', Format("%lld.%d", static_cast<long long>(year), int(Between(1, 12))));
        break;
      default:
        AddSubfield(f, 'd', Format("%lld", static_cast<long long>(year)));
    }
  }
  return f;
}

std::string CnmarcGenerator::Field215() {
  std::string f = "  ";
  if (Chance(10)) {
    AddSubfield(f, 'a', Pick(kOddPages));
  } else {
    AddSubfield(f, 'a', Format("%d", static_cast<int>(Between(32, 960))) + std::string(kPageWord));
  }
  if (Chance(50)) AddSubfield(f, 'c', Pick(kIllustrations));
  if (Chance(90)) {
    AddSubfield(
        f, 'd',
        Chance(60) ? Format("%dcm", static_cast<int>(Between(18, 30))) : std::string(Pick(kSizes)));
  }
  if (Chance(6)) AddSubfield(f, 'e', Pick(kAccompanying));
  return f;
}

// Sentences of real summaries up to a length drawn from short notes to long abstracts.
std::string CnmarcGenerator::Field330() {
  std::size_t target;
  const auto kind = Below(100);
  if (kind < 55)
    target = static_cast<std::size_t>(Between(40, 200));
  else if (kind < 87)
    target = static_cast<std::size_t>(Between(200, 600));
  else
    target = static_cast<std::size_t>(Between(600, 1900));
  std::string text;
  while (text.size() < target) {
    const std::string_view s = Pick(kSummarySentences);
    if (!text.empty() && text.size() + s.size() > kSummaryCap) break;
    text += s;
  }
  std::string f = "  ";
  AddSubfield(f, 'a', text);
  return f;
}

std::string CnmarcGenerator::Field606() {
  std::string f = "0 ";
  AddSubfield(f, 'a', Pick(kSubjects));
  if (Chance(40)) AddSubfield(f, 'x', Pick(kSubjectTopics));
  if (Chance(30)) AddSubfield(f, 'y', Pick(kSubjectPlaces));
  if (Chance(30)) AddSubfield(f, 'z', Format("%d", static_cast<int>(Between(1949, 2024))));
  return f;
}

std::string CnmarcGenerator::Field690() {
  std::string f = "  ";
  AddSubfield(f, 'a', Pick(kClassNumbers));
  AddSubfield(f, 'v', Chance(50) ? "4" : "5");
  return f;
}

std::string CnmarcGenerator::Field70x() {
  std::string f = " 0";
  AddSubfield(f, 'a', Pick(kNames));
  if (Chance(50)) AddSubfield(f, '9', Pick(kNamePinyin));
  AddSubfield(f, '4', Pick(kRoles));
  return f;
}

void CnmarcGenerator::AppendRecord(std::string& out) {
  const auto& sample = kSampleRecords[PickSample()];
  ++serial_;
  std::vector<Field> fields;
  fields.reserve(sample.count + 4);
  bool sampleHas330 = false;
  for (std::size_t i = sample.first; i < sample.first + sample.count; ++i)
    sampleHas330 = sampleHas330 || kSampleFields[i].tag == "330";
  // About half the records carry a summary, most where the sample did.
  const bool keep330 = Chance(sampleHas330 ? 75 : 10);
  bool has330 = sampleHas330;
  for (std::size_t i = sample.first; i < sample.first + sample.count; ++i) {
    const SampleField& s = kSampleFields[i];
    std::string body;
    if (s.tag == "001") {
      body = Format("01%010lld", static_cast<long long>(serial_));
    } else if (s.tag == "005") {
      body = Format("%d%02d%02d%02d%02d%02d.0", static_cast<int>(Between(2000, 2024)),
                    static_cast<int>(Between(1, 12)), static_cast<int>(Between(1, 28)),
                    static_cast<int>(Between(0, 23)), static_cast<int>(Between(0, 59)),
                    static_cast<int>(Between(0, 59)));
    } else if (s.tag == "010") {
      body = Field010();
    } else if (s.tag == "200") {
      body = Field200(s.body);
    } else if (s.tag == "210") {
      body = Field210();
    } else if (s.tag == "215") {
      body = Field215();
    } else if (s.tag == "330") {
      if (!keep330) continue;
      body = Field330();
    } else if (s.tag == "606") {
      body = Field606();
    } else if (s.tag == "690") {
      body = Field690();
    } else if (s.tag == "701" || s.tag == "702") {
      body = Field70x();
    } else {
      body = s.body;
    }
    // A summary where the sample had none, before the first tag after 330.
    if (!has330 && keep330 && s.tag > "330" && s.tag < "A") {
      fields.push_back({"330", Field330()});
      has330 = true;
    }
    fields.push_back({s.tag, std::move(body)});
    // Subject headings are often repeated.
    if (s.tag == "606" && Chance(40)) {
      for (auto n = Between(1, 2); n > 0; --n) fields.push_back({"606", Field606()});
    }
  }

  // Leader (24 bytes), directory of 12-byte entries and its terminator, then the fields.
  std::size_t dataLength = 0;
  for (const Field& f : fields) dataLength += f.body.size() + 1;
  const std::size_t base = 24 + 12 * fields.size() + 1;
  const std::size_t total = base + dataLength + 1;
  if (total > 99999) throw std::runtime_error("generated record longer than 99999 bytes");
  const std::size_t start = out.size();
  out += Format("%05zu", total);
  out += sample.leader.substr(5, 7);
  out += Format("%05zu", base);
  out += sample.leader.substr(17, 7);
  std::size_t position = 0;
  for (const Field& f : fields) {
    const std::size_t length = f.body.size() + 1;
    if (length > 9999) throw std::runtime_error("generated field longer than 9999 bytes");
    out += f.tag;
    out += Format("%04zu%05zu", length, position);
    position += length;
  }
  out += kFieldTerminator;
  for (const Field& f : fields) {
    out += f.body;
    out += kFieldTerminator;
  }
  out += kRecordTerminator;
  if (out.size() - start != total) throw std::logic_error("record length miscounted");
}

namespace {

// The tags whose fields fill cells: a directory entry naming one finds no field when the data
// part is missing.
bool KnownTag(std::string_view tag) {
  for (const char* known : {"200", "010", "210", "215", "690", "606", "330"})
    if (tag == known) return true;
  return false;
}

std::size_t Number(std::string_view digits) {
  std::size_t n = 0;
  for (const char c : digits) n = n * 10 + static_cast<std::size_t>(c - '0');
  return n;
}

// Where a line break cuts record into two bad pieces: just after the 0x1F that begins the 200
// field's first subfield, when an entry of a known tag follows 200 in the directory (the first
// piece then lacks that field, and the second begins with the subfield's code, no number). 0
// when the record has no such place.
std::size_t CutPlace(std::string_view record) {
  const std::size_t base = Number(record.substr(12, 5));
  std::size_t field200 = 0;
  bool after200 = false;
  for (std::size_t e = 24; e + 12 <= base - 1; e += 12) {
    const std::string_view tag = record.substr(e, 3);
    if (after200 && KnownTag(tag)) return field200;
    if (tag == "200" && !after200) {
      field200 = base + Number(record.substr(e + 7, 5)) + 3;
      after200 = record[field200 - 1] == kSubfieldDelimiter;
    }
  }
  return 0;
}

// splitmix64 of its own, so that the damage draws leave the records' draws as they are.
std::uint64_t Draw(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

std::uint64_t WriteCnmarcFile(const std::string& path, std::int64_t records, Layout layout,
                              std::uint64_t seed, const Damage& damage,
                              std::vector<BadTruth>* truth) {
  const std::string part = path + ".part";
  std::FILE* f = std::fopen(part.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + part);
  CnmarcGenerator gen(seed);
  std::uint64_t draws = damage.seed ^ 0xDA3A9EULL;
  const auto threshold =
      static_cast<std::uint64_t>(damage.percent / 100.0 * 18446744073709551615.0);
  const std::string lineEnd = layout == Layout::Lines ? "\r\n" : "";
  // An editor adds the file's own line end; in a file of no line ends, a mail program's LF.
  const std::string added = layout == Layout::Lines ? "\r\n" : "\n";
  std::string chunk;
  std::uint64_t size = 0;
  std::int64_t piece = 0, line = 1;
  bool ok = true;
  for (std::int64_t i = 0; i < records && ok; ++i) {
    const std::size_t start = chunk.size();
    gen.AppendRecord(chunk);
    const std::size_t length = chunk.size() - start;
    const std::uint64_t offset = size + start;
    ++piece;
    if (damage.percent > 0 && Draw(draws) < threshold) {
      int kind = static_cast<int>(Draw(draws) % 3);
      const std::size_t cut = kind == 0 ? CutPlace(std::string_view(chunk).substr(start)) : 0;
      if (kind == 0 && cut == 0) kind = 1;
      if (kind == 0) {
        chunk.insert(start + cut, added);
        if (truth) {
          truth->push_back({piece, line, offset, cut, "Directory", "CutBeforeNext"});
          truth->push_back({piece + 1, line + 1, offset + cut + added.size(), length - cut,
                            "Number", "RestOfPrevious"});
        }
        ++piece, ++line;
      } else if (kind == 1) {
        chunk[start + 2] = 'x';
        if (truth) truth->push_back({piece, line, offset, length, "Number", ""});
      } else {
        chunk.replace(start + 12, 5, "99999");
        if (truth) truth->push_back({piece, line, offset, length, "Directory", ""});
      }
    }
    chunk += lineEnd;
    if (layout == Layout::Lines) ++line;
    if (chunk.size() >= (1u << 20) || i + 1 == records) {
      ok = std::fwrite(chunk.data(), 1, chunk.size(), f) == chunk.size();
      size += chunk.size();
      chunk.clear();
    }
  }
  ok = std::fclose(f) == 0 && ok;
  std::error_code ec;
  if (ok) std::filesystem::rename(part, path, ec);
  if (!ok || ec) {
    std::filesystem::remove(part, ec);
    throw std::runtime_error("cannot write " + path);
  }
  return size;
}

const char* LayoutName(Layout layout) { return layout == Layout::Lines ? "lines" : "concat"; }

std::string EnsureCnmarcFile(const std::string& dir, std::int64_t records, Layout layout) {
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/cnmarc-v" + std::to_string(kGeneratorVersion) + "-" +
                           std::to_string(records) + "-" + LayoutName(layout) + ".mrc";
  if (!std::filesystem::exists(path)) WriteCnmarcFile(path, records, layout);
  return path;
}

}  // namespace tessaly::bench
