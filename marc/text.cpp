#include "text.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>

#include "filebytes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace marc {

namespace {

constexpr char kCr = '\x0D';
constexpr char kLf = '\x0A';
constexpr char kNul = '\x00';

bool IsGbkLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool IsGbkTrail(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Cuts bytes that hold no NUL into lines at CR, LF or CR LF.
void CutLinesBeforeNul(std::string_view bytes, std::vector<std::string_view>& out);

}  // namespace

EStringListError::EStringListError(std::int64_t index)
    : Exception("List index out of bounds (" + std::to_string(index) + ")") {}

// --- TStringList ---------------------------------------------------------------------------

void TStringList::Add(std::string_view s) {
  begins_.push_back(arena_.size());
  arena_.append(s);
  ends_.push_back(arena_.size());
}

void TStringList::Clear() {
  arena_.clear();
  begins_.clear();
  ends_.clear();
}

std::string_view TStringList::View(std::int64_t index) const {
  if (index < 0 || index >= Count()) throw EStringListError(index);
  const auto i = static_cast<std::size_t>(index);
  return std::string_view(arena_).substr(begins_[i], ends_[i] - begins_[i]);
}

void TStringList::AssignLines(std::string&& bytes) {
  Clear();
  arena_ = std::move(bytes);
  // The first NUL ends the text.
  if (const auto nul = arena_.find(kNul); nul != std::string::npos) arena_.resize(nul);
  std::vector<std::string_view> lines;
  CutLinesBeforeNul(arena_, lines);
  begins_.reserve(lines.size());
  ends_.reserve(lines.size());
  for (std::string_view line : lines) {
    const auto b = static_cast<std::uint64_t>(line.data() - arena_.data());
    begins_.push_back(b);
    ends_.push_back(b + line.size());
  }
}

// --- Cutting and searching -----------------------------------------------------------------

namespace {

// s.find(p, from) for the short patterns the extractors search ("$a", "$d"): memchr for the first
// byte and the rest compared in line, where find calls memcmp at every first-byte hit.
std::size_t FindShort(std::string_view s, std::string_view p, std::size_t from) {
  if (p.size() > s.size() || from > s.size() - p.size()) return std::string_view::npos;
  const char* const data = s.data();
  const char* at = data + from;
  const char* const last = data + (s.size() - p.size());  // the last place p can begin
  while (at <= last) {
    at = static_cast<const char*>(std::memchr(at, p[0], static_cast<std::size_t>(last - at) + 1));
    if (!at) break;
    std::size_t k = 1;
    while (k < p.size() && at[k] == p[k]) ++k;
    if (k == p.size()) return static_cast<std::size_t>(at - data);
    ++at;
  }
  return std::string_view::npos;
}

}  // namespace

std::int64_t PosText(std::string_view p, std::string_view s) {
  if (p.empty() || s.empty()) return 0;
  const auto i = FindShort(s, p, 0);
  return i == std::string_view::npos ? 0 : static_cast<std::int64_t>(i) + 1;
}

std::int64_t PosTextFrom(std::string_view p, std::string_view s, std::int64_t from) {
  if (from == 1) return PosText(p, s);
  if (p.empty() || from < 1) return 0;
  const auto len = static_cast<std::int64_t>(s.size());
  if (from > len) return 0;
  const auto i = FindShort(s, p, static_cast<std::size_t>(from - 1));
  return i == std::string_view::npos ? 0 : static_cast<std::int64_t>(i) + 1;
}

std::size_t CharLength(std::string_view s, std::size_t i, TextEncoding encoding) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char c = at(0);
  if (encoding == TextEncoding::Gbk) {
    if (!IsGbkLead(c) || i + 1 >= s.size()) return 1;
    const bool four = i + 3 < s.size() && at(1) >= 0x30 && at(1) <= 0x39 && IsGbkLead(at(2)) &&
                      at(3) >= 0x30 && at(3) <= 0x39;
    return four ? 4 : 2;
  }
  // A lead byte and the continuation bytes after it; stray bytes one at a time.
  const std::size_t want = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  std::size_t n = 1;
  while (n < want && i + n < s.size() && (at(n) & 0xC0) == 0x80) ++n;
  return n;
}

namespace {

bool Digit(unsigned char c) { return c >= 0x30 && c <= 0x39; }

// Whether the high byte, digit, high byte, digit at a candidate start a four-byte character:
// whether the candidate is on a character boundary. A byte below 0x30 is a character of its own
// (no second byte of two, nor second or fourth byte of four, is that low), so the walk over the
// characters starts after the last one. Candidates come in increasing order and the walk goes on
// from where the one before left it: a long run of high bytes is walked once, not once a
// candidate.
class Boundaries {
 public:
  explicit Boundaries(const unsigned char* begin) : seen_(begin), q_(begin) {}

  bool FourByteAt(const unsigned char* p) {
    const unsigned char* from = p;
    while (from > seen_ && from[-1] >= 0x30) --from;
    if (from > seen_) q_ = from;  // a low byte since the last candidate: the walk starts anew
    seen_ = p;
    while (q_ < p) {
      if (!IsGbkLead(*q_)) {
        ++q_;
      } else if (Digit(q_[1]) && IsGbkLead(q_[2]) && Digit(q_[3])) {
        q_ += 4;  // within [begin, p + 4): p + 1 and p + 3 are digits
      } else {
        q_ += 2;
      }
    }
    return q_ == p && IsGbkLead(p[0]) && IsGbkLead(p[2]);
  }

 private:
  const unsigned char* seen_;  // bytes before it are looked at for low bytes
  const unsigned char* q_;     // the walk: a character's first byte
};

}  // namespace

bool HasFourByteSequence(std::string_view bytes) {
  // Candidates first (a high byte, a digit, a high byte and a digit in a row), sixteen bytes at a
  // time where the processor has SSE2; each then checked for a character boundary. In GBK text
  // little but a four-byte character makes a candidate.
  const auto begin = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto end = begin + bytes.size();
  const unsigned char* p = begin;
  Boundaries boundaries(begin);
#if defined(__SSE2__)
  const __m128i belowDigits = _mm_set1_epi8(0x2F), aboveDigits = _mm_set1_epi8(0x3A);
  // Candidates that start in the first 13 bytes end inside the 16 loaded.
  for (; end - p >= 16; p += 13) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(x));
    if (!high) continue;
    // Signed compares: high bytes are negative, so no digits.
    const auto digit = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpgt_epi8(x, belowDigits), _mm_cmplt_epi8(x, aboveDigits))));
    for (unsigned c = high & (digit >> 1) & (high >> 2) & (digit >> 3) & 0x1FFF; c; c &= c - 1)
      if (boundaries.FourByteAt(p + std::countr_zero(c))) return true;
  }
#endif
  for (; end - p >= 4; ++p)
    if (p[0] >= 0x80 && Digit(p[1]) && p[2] >= 0x80 && Digit(p[3]) && boundaries.FourByteAt(p))
      return true;
  return false;
}

std::int64_t PosOnBoundary(std::string_view p, std::string_view s, TextEncoding encoding) {
  if (p.empty() || s.size() < p.size()) return 0;
  std::size_t i = 0;
  while (i + p.size() <= s.size()) {
    // The first byte alone rules out almost every position without a compare call.
    if (s[i] == p[0] && s.compare(i, p.size(), p) == 0) return static_cast<std::int64_t>(i) + 1;
    i += CharLength(s, i, encoding);
  }
  return 0;
}

Text ReplaceAllText(std::string_view s, std::string_view old, std::string_view replacement,
                    TextEncoding encoding) {
  Text result;
  if (s.empty()) return result;
  if (old.empty()) return Text(s);
  Text oldUpper(old);
  std::transform(oldUpper.begin(), oldUpper.end(), oldUpper.begin(), UpperAscii);
  result.reserve(s.size());
  // leadRun counts the lead-range bytes directly before i, back to the start of what is still
  // searched (a replacement restarts the search, and with it the count).
  std::size_t copied = 0, i = 0, leadRun = 0;
  const bool twoByte = encoding == TextEncoding::Gbk;
  while (i + old.size() <= s.size()) {
    bool match = true;
    for (std::size_t k = 0; k < old.size(); ++k) {
      if (UpperAscii(s[i + k]) != oldUpper[k]) {
        match = false;
        break;
      }
    }
    // Only a byte that can be a second byte (0x40-0xFE but 0x7F) is skipped after an odd lead
    // run: a delimiter after a stray lead byte still ends its subfield.
    const bool secondByte =
        twoByte && leadRun % 2 == 1 && IsGbkTrail(static_cast<unsigned char>(s[i]));
    if (match && !secondByte) {
      result.append(s.substr(copied, i - copied));
      result.append(replacement);
      i += old.size();
      copied = i;
      leadRun = 0;
      continue;
    }
    leadRun = IsGbkLead(static_cast<unsigned char>(s[i])) ? leadRun + 1 : 0;
    ++i;
  }
  result.append(s.substr(copied));
  return result;
}

void ReplaceByteInPlace(std::string& s, char old, char replacement, TextEncoding encoding) {
  // A byte that cannot be a second byte (the delimiter 0x1F among them) always matches.
  const bool twoByte = encoding == TextEncoding::Gbk && IsGbkTrail(static_cast<unsigned char>(old));
  if (!twoByte) {
    // Every occurrence matches. Delimiters come every few bytes, so a memchr call per occurrence
    // costs more than a pass over the bytes; eight at a time, as -O2 does not vectorise a loop.
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    const std::uint64_t olds = kOnes * static_cast<unsigned char>(old);
    const std::uint64_t replacements = kOnes * static_cast<unsigned char>(replacement);
    char* p = s.data();
    char* const end = p + s.size();
    for (; end - p >= 8; p += 8) {
      std::uint64_t x;
      std::memcpy(&x, p, 8);
      const std::uint64_t y = x ^ olds;  // zero bytes where x holds old
      // 0x80 in exactly the zero bytes of y: no carry crosses a byte.
      const std::uint64_t zero = ~(((y & kLow7) + kLow7) | y | kLow7);
      const std::uint64_t mask = (zero >> 7) * 0xFF;
      x = (x & ~mask) | (replacements & mask);
      std::memcpy(p, &x, 8);
    }
    for (; p < end; ++p)
      if (*p == old) *p = replacement;
    return;
  }
  char* const begin = s.data();
  char* const end = begin + s.size();
  // The search restarts after each replacement, so the run of lead bytes before a candidate
  // is counted back to the last replacement at most.
  char* searchStart = begin;
  for (char* p = begin; (p = static_cast<char*>(std::memchr(p, old, end - p))) != nullptr;) {
    std::size_t leadRun = 0;
    if (twoByte) {
      for (char* q = p; q > searchStart && IsGbkLead(static_cast<unsigned char>(q[-1])); --q)
        ++leadRun;
    }
    if (leadRun % 2 == 1) {
      ++p;
      continue;
    }
    *p++ = replacement;
    searchStart = p;
  }
}

// --- Numbers -------------------------------------------------------------------------------

std::string NotAnIntegerReason(std::string_view s) {
  std::string reason(1, '\'');
  reason += s;
  reason += "' is not a valid integer value";
  return reason;
}

std::int32_t StrToIntStrict(std::string_view s) {
  const std::optional<std::int32_t> value = ParseIntStrict(s);
  if (!value) throw EConvertError(NotAnIntegerReason(s));
  return *value;
}

std::optional<std::int32_t> ParseIntStrict(std::string_view s) {
  auto fail = []() -> std::optional<std::int32_t> { return std::nullopt; };
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i >= s.size()) return fail();
  bool hex = false;
  if (s[i] == '$' || s[i] == 'x' || s[i] == 'X') {
    hex = true;
    ++i;
  } else if (s[i] == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= s.size()) return fail();
  if (hex) {
    std::uint32_t value = 0;
    int significant = 0;
    for (; i < s.size(); ++i) {
      const char c = s[i];
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        return fail();
      if (significant > 0 || d != 0) ++significant;
      if (significant > 8) return fail();
      value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    // Two's-complement pattern; negating INT32_MIN wraps back to itself, done in unsigned.
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
  }
  std::int64_t value = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c < '0' || c > '9') return fail();
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) return fail();
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return fail();
  return static_cast<std::int32_t>(value);
}

Text IntToText(std::int64_t n) { return std::to_string(n); }

std::int64_t RoundHalfEven(double x) { return static_cast<std::int64_t>(std::nearbyint(x)); }

// --- Lists ---------------------------------------------------------------------------------

void SplitViews(std::string_view s, char d, std::vector<std::string_view>& out) {
  out.clear();
  if (s.empty()) return;
  std::size_t start = 0;
  while (true) {
    const std::size_t p = s.find(d, start);
    if (p == std::string_view::npos) break;
    out.push_back(s.substr(start, p - start));
    start = p + 1;
  }
  out.push_back(s.substr(start));
}

TStringList SplitOnDelimiter(std::string_view s, char d) {
  std::vector<std::string_view> pieces;
  SplitViews(s, d, pieces);
  TStringList list;
  for (std::string_view piece : pieces) list.Add(piece);
  return list;
}

namespace {

void CutLinesBeforeNul(std::string_view bytes, std::vector<std::string_view>& out) {
  out.clear();
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  // The next CR and the next LF, each found with memchr and kept until passed.
  auto next = [end](const char* from, char c) {
    const void* hit = std::memchr(from, c, static_cast<std::size_t>(end - from));
    return hit ? static_cast<const char*>(hit) : end;
  };
  const char* cr = next(p, kCr);
  const char* lf = next(p, kLf);
  while (p < end) {
    if (cr < p) cr = next(p, kCr);
    if (lf < p) lf = next(p, kLf);
    const char* q = std::min(cr, lf);
    out.emplace_back(p, static_cast<std::size_t>(q - p));
    if (q == end) break;
    // CR LF is one line end; LF CR is two.
    p = (*q == kCr && q + 1 < end && q[1] == kLf) ? q + 2 : q + 1;
  }
}

}  // namespace

void LoadTextLines(TStringList& list, const std::string& path) {
  // Opened, refused or read as the read command does (FileBytes), then copied into the list.
  const std::shared_ptr<const FileBytes> bytes = FileBytes::Load(path);
  list.AssignLines(std::string(bytes->View()));
}

// --- Clock ---------------------------------------------------------------------------------

double ClockNow() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
  std::tm utc{};
  gmtime_s(&utc, &t);
  const long offset = static_cast<long>(std::difftime(std::mktime(&local), std::mktime(&utc)));
#else
  localtime_r(&t, &local);
  const long offset = local.tm_gmtoff;
#endif
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() + offset * 1000LL;
  // 25569 days lie between 30 December 1899 and 1 January 1970.
  return 25569.0 + static_cast<double>(ms) / 86400000.0;
}

Text FormatElapsed(double days, const LongTimeFormat& fmt) {
  const double msTotal = std::fabs(days) * 86400000.0;
  const std::int64_t t =
      msTotal >= 9.0e18 ? std::numeric_limits<std::int64_t>::max() : RoundHalfEven(msTotal);
  const std::int64_t hours = t / 3600000;
  const std::int64_t minutes = (t / 60000) % 60;
  const std::int64_t seconds = (t / 1000) % 60;
  auto two = [](std::int64_t v) {
    return Text(1, static_cast<char>('0' + v / 10)) + static_cast<char>('0' + v % 10);
  };
  Text out = (fmt.leadingZeroHours && hours < 10) ? two(hours) : IntToText(hours);
  out += fmt.separator;
  out += two(minutes);
  out += fmt.secondsSeparator.value_or(fmt.separator);
  out += two(seconds);
  out += fmt.suffix;
  return out;
}

}  // namespace marc
