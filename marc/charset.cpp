#include "charset.h"

#include <array>
#include <memory>

namespace marc {

namespace {

struct Gb18030Range {
  std::uint32_t pointer;  // first four-byte pointer of the range
  std::uint16_t codePoint;
};

// kGb18030TwoByte (by two-byte pointer, 0 for none) and kGb18030Ranges, made at build time.
#include "gb18030_tables.inc"

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::uint32_t kLastBmpPointer = 39419;
constexpr std::uint32_t kFirstSupplementaryPointer = 189000;
constexpr std::uint32_t kLastPointer = 1237575;

bool InRange(unsigned char b, unsigned char lo, unsigned char hi) { return b >= lo && b <= hi; }

// The code point of a four-byte pointer, or 0 when it names none.
char32_t FourByteCodePoint(std::uint32_t pointer) {
  if (pointer > kLastPointer || (pointer > kLastBmpPointer && pointer < kFirstSupplementaryPointer))
    return 0;
  if (pointer >= kFirstSupplementaryPointer) return 0x10000 + pointer - kFirstSupplementaryPointer;
  // The last range that begins at or before the pointer.
  std::size_t lo = 0, hi = std::size(kGb18030Ranges);
  while (hi - lo > 1) {
    const std::size_t mid = (lo + hi) / 2;
    (kGb18030Ranges[mid].pointer <= pointer ? lo : hi) = mid;
  }
  return kGb18030Ranges[lo].codePoint + (pointer - kGb18030Ranges[lo].pointer);
}

struct Utf8Out {
  std::string text;
  void Ascii(const char* p, std::size_t n) { text.append(p, n); }
  void Put(char32_t c) {
    char b[4];
    std::size_t n;
    if (c < 0x80) {
      b[0] = static_cast<char>(c), n = 1;
    } else if (c < 0x800) {
      b[0] = static_cast<char>(0xC0 | (c >> 6)), n = 2;
    } else if (c < 0x10000) {
      b[0] = static_cast<char>(0xE0 | (c >> 12)), n = 3;
    } else {
      b[0] = static_cast<char>(0xF0 | (c >> 18)), n = 4;
    }
    for (std::size_t k = 1; k < n; ++k)
      b[k] = static_cast<char>(0x80 | ((c >> (6 * (n - 1 - k))) & 0x3F));
    text.append(b, n);
  }
};

struct Utf16Out {
  std::u16string text;
  void Ascii(const char* p, std::size_t n) { text.append(p, p + n); }
  void Put(char32_t c) {
    if (c < 0x10000) {
      text += static_cast<char16_t>(c);
    } else {
      text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
};

// Counts one malformed sequence and writes its U+FFFD.
template <class Out>
void Malformed(Out& out, Replacements* replaced, std::size_t at) {
  out.Put(kReplacement);
  if (!replaced) return;
  if (replaced->count++ == 0) replaced->firstOffset = static_cast<std::int64_t>(at);
}

// The run of ASCII bytes from i, copied in one piece: most of a record is ASCII.
template <class Out>
std::size_t CopyAscii(const unsigned char* s, std::size_t i, std::size_t n, Out& out) {
  std::size_t j = i;
  while (j < n && s[j] < 0x80) ++j;
  if (j > i) out.Ascii(reinterpret_cast<const char*>(s + i), j - i);
  return j;
}

// The WHATWG gb18030 decoder, written over the whole text instead of byte by byte: where the
// standard puts bytes back into the stream, the walk resumes at the first of them.
template <class Out>
void DecodeGb18030(std::string_view bytes, Out& out, Replacements* replaced) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while ((i = CopyAscii(s, i, n, out)) < n) {
    const unsigned char b1 = s[i];
    if (b1 == 0x80) {
      out.Put(0x20AC);
      ++i;
      continue;
    }
    if (b1 == 0xFF || i + 1 == n) {  // no lead byte, or a lead byte at the very end
      Malformed(out, replaced, i);
      ++i;
      continue;
    }
    const unsigned char b2 = s[i + 1];
    if (InRange(b2, 0x30, 0x39)) {
      // A four-byte sequence. The end of the text inside it swallows what came of it.
      if (i + 2 == n || (InRange(s[i + 2], 0x81, 0xFE) && i + 3 == n)) {
        Malformed(out, replaced, i);
        break;
      }
      const unsigned char b3 = s[i + 2];
      if (!InRange(b3, 0x81, 0xFE) || !InRange(s[i + 3], 0x30, 0x39)) {
        Malformed(out, replaced, i);
        ++i;
        continue;
      }
      const std::uint32_t pointer =
          ((b1 - 0x81) * 10u + (b2 - 0x30)) * 1260u + (b3 - 0x81) * 10u + (s[i + 3] - 0x30);
      const char32_t c = FourByteCodePoint(pointer);
      if (c == 0)
        Malformed(out, replaced, i);
      else
        out.Put(c);
      i += 4;
      continue;
    }
    if (InRange(b2, 0x40, 0x7E) || InRange(b2, 0x80, 0xFE)) {
      const std::size_t pointer = (b1 - 0x81) * 190u + (b2 - (b2 < 0x7F ? 0x40 : 0x41));
      if (const char16_t c = kGb18030TwoByte[pointer]) {
        out.Put(c);
        i += 2;
        continue;
      }
    }
    // A lead byte without a valid second byte: an ASCII byte after it is not part of the error.
    Malformed(out, replaced, i);
    i += b2 < 0x80 ? 1 : 2;
  }
}

// The WHATWG UTF-8 decoder: a sequence ends as malformed at the first byte that cannot continue
// it, and that byte starts the next.
template <class Out>
void DecodeUtf8(std::string_view bytes, Out& out, Replacements* replaced) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while ((i = CopyAscii(s, i, n, out)) < n) {
    const unsigned char b = s[i];
    std::size_t need;
    char32_t c;
    unsigned char lower = 0x80, upper = 0xBF;
    if (InRange(b, 0xC2, 0xDF)) {
      need = 1, c = b & 0x1F;
    } else if (InRange(b, 0xE0, 0xEF)) {
      need = 2, c = b & 0x0F;
      if (b == 0xE0) lower = 0xA0;
      if (b == 0xED) upper = 0x9F;
    } else if (InRange(b, 0xF0, 0xF4)) {
      need = 3, c = b & 0x07;
      if (b == 0xF0) lower = 0x90;
      if (b == 0xF4) upper = 0x8F;
    } else {
      Malformed(out, replaced, i);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    for (; need > 0 && j < n && InRange(s[j], lower, upper); ++j, --need) {
      c = (c << 6) | (s[j] & 0x3F);
      lower = 0x80, upper = 0xBF;
    }
    if (need == 0)
      out.Put(c);
    else
      Malformed(out, replaced, i);
    i = j;
  }
}

template <class Out>
void Decode(std::string_view bytes, TextEncoding encoding, Out& out, Replacements* replaced) {
  out.text.reserve(bytes.size());
  if (encoding == TextEncoding::Utf8)
    DecodeUtf8(bytes, out, replaced);
  else
    DecodeGb18030(bytes, out, replaced);
}

// GB18030 bytes by BMP code point: a two-byte pointer + 1, a four-byte pointer with the top bit
// set, or 0 for the surrogates. Built once from the decoding tables, so encoding is their exact
// inverse.
class Gb18030Encoder {
 public:
  Gb18030Encoder() {
    constexpr std::size_t kRanges = std::size(kGb18030Ranges);
    for (std::size_t r = 0; r < kRanges; ++r) {
      const std::uint32_t end =
          r + 1 < kRanges ? kGb18030Ranges[r + 1].pointer : kLastBmpPointer + 1;
      for (std::uint32_t p = kGb18030Ranges[r].pointer; p < end; ++p)
        bytes_[kGb18030Ranges[r].codePoint + (p - kGb18030Ranges[r].pointer)] = kFourByte | p;
    }
    // A character with both forms is written in two bytes.
    for (std::uint32_t p = 0; p < std::size(kGb18030TwoByte); ++p)
      if (kGb18030TwoByte[p]) bytes_[kGb18030TwoByte[p]] = p + 1;
  }

  void Put(std::string& out, char32_t c) const {
    if (c < 0x80) {
      out += static_cast<char>(c);
      return;
    }
    std::uint32_t code =
        c >= 0x10000 ? kFourByte | (kFirstSupplementaryPointer + c - 0x10000) : bytes_[c];
    if (code == 0) code = bytes_[kReplacement];
    if (code & kFourByte) {
      std::uint32_t p = code & ~kFourByte;
      char four[4];
      four[3] = static_cast<char>(0x30 + p % 10);
      p /= 10;
      four[2] = static_cast<char>(0x81 + p % 126);
      p /= 126;
      four[1] = static_cast<char>(0x30 + p % 10);
      four[0] = static_cast<char>(0x81 + p / 10);
      out.append(four, 4);
    } else {
      const std::uint32_t p = code - 1, trail = p % 190;
      out += static_cast<char>(0x81 + p / 190);
      out += static_cast<char>(trail + (trail < 0x3F ? 0x40 : 0x41));
    }
  }

 private:
  static constexpr std::uint32_t kFourByte = 0x80000000u;
  std::array<std::uint32_t, 0x10000> bytes_{};
};

const Gb18030Encoder& Encoder() {
  static const auto encoder = std::make_unique<Gb18030Encoder>();
  return *encoder;
}

}  // namespace

std::string DecodeToUtf8(std::string_view bytes, TextEncoding encoding, Replacements* replaced) {
  Utf8Out out;
  Decode(bytes, encoding, out, replaced);
  return std::move(out.text);
}

std::u16string DecodeToUtf16(std::string_view bytes, TextEncoding encoding,
                             Replacements* replaced) {
  Utf16Out out;
  Decode(bytes, encoding, out, replaced);
  return std::move(out.text);
}

std::string EncodeUtf16(std::u16string_view text, TextEncoding encoding) {
  std::string out;
  out.reserve(text.size() * 2);
  const Gb18030Encoder* gb = encoding == TextEncoding::Gb18030 ? &Encoder() : nullptr;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDFFF) {
      const bool pair =
          c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
      c = pair ? 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00) : kReplacement;
    }
    if (gb) {
      gb->Put(out, c);
    } else {
      Utf8Out utf8;
      utf8.Put(c);
      out += utf8.text;
    }
  }
  return out;
}

}  // namespace marc
