#include "text.h"

#include <bit>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace marc {

namespace {

bool IsGbkLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

}  // namespace

EStringListError::EStringListError(std::int64_t index)
    : Exception("List index out of bounds (" + std::to_string(index) + ")") {}

// --- Cutting and searching -----------------------------------------------------------------

std::size_t CharLength(std::string_view s, std::size_t i, TextEncoding encoding) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char c = at(0);
  if (encoding == TextEncoding::Gb18030) {
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

void AppendTsvField(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
}

Text IntToText(std::int64_t n) { return std::to_string(n); }

std::int64_t RoundHalfEven(double x) { return static_cast<std::int64_t>(std::nearbyint(x)); }

}  // namespace marc
