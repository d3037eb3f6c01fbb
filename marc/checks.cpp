#include "checks.h"

#include <algorithm>
#include <array>
#include <map>
#include <unordered_map>

#include "charset.h"

namespace marc {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The full-width hyphen and blank, and the Unicode hyphens, in enc's bytes: passed over in an
// ISBN as the ASCII ones are.
std::size_t SeparatorAt(std::string_view s, std::size_t i, TextEncoding enc) {
  static constexpr std::string_view kGbk[] = {"\xA3\xAD", "\xA1\xA1", "\xA9\xA4"};  // － 　 ‐
  static constexpr std::string_view kUtf8[] = {"\xEF\xBC\x8D", "\xE3\x80\x80", "\xE2\x80\x90",
                                               "\xE2\x80\x91", "\xE2\x80\x93"};
  const std::string_view rest = s.substr(i);
  if (enc == TextEncoding::Gb18030) {
    for (std::string_view sep : kGbk)
      if (rest.starts_with(sep)) return sep.size();
  } else {
    for (std::string_view sep : kUtf8)
      if (rest.starts_with(sep)) return sep.size();
  }
  return 0;
}

char Isbn13Check(const char* d) {
  int sum = 0;
  for (int i = 0; i < 12; ++i) sum += (d[i] - '0') * (i % 2 ? 3 : 1);
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

// Blanks and TABs only (a loop: find_first_not_of asks memchr once a byte).
bool IsBlank(std::string_view s) {
  for (const char c : s)
    if (c != ' ' && c != '\t') return false;
  return true;
}

}  // namespace

IsbnReading ReadIsbn(std::string_view s, TextEncoding enc) {
  IsbnReading out;
  // A label before the number ("ISBN 7-5037-2623-7", "ISBN:…") is no part of it.
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  if (i == s.size()) return out;
  if (s.size() - i >= 4 && (s[i] | 0x20) == 'i' && (s[i + 1] | 0x20) == 's' &&
      (s[i + 2] | 0x20) == 'b' && (s[i + 3] | 0x20) == 'n') {
    i += 4;
    while (i < s.size() && (s[i] == ' ' || s[i] == ':')) ++i;
  }
  // Digits first, as they come: the key (the first twelve) and both forms' sums on the way.
  std::size_t n = 0;
  std::uint64_t key = 0;
  int sum10 = 0, sum13 = 0;
  bool x = false;  // an X, which only the tenth character of an ISBN-10 may be
  out.kind = IsbnReading::NotIsbn;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    const unsigned v = c - '0';
    if (v < 10) {
      static constexpr int kWeight10[] = {10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0};
      static constexpr int kWeight13[] = {1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1};
      if (n == 13 || x) return out;
      key = key * 10 + v;
      sum10 += kWeight10[n] * static_cast<int>(v);
      sum13 += kWeight13[n] * static_cast<int>(v);
      ++n, ++i;
    } else if (c == '-' || c == ' ' || c == '\t') {
      ++i;
    } else if ((c | 0x20) == 'x') {
      if (n != 9 || x) return out;
      x = true;
      sum10 += 10;
      ++n, ++i;
    } else if (const std::size_t sep = SeparatorAt(s, i, enc)) {
      i += sep;
    } else {
      return out;
    }
  }
  if (n == 10) {
    out.kind = IsbnReading::Isbn10;
    // The key of an ISBN-10 is 978 and its first nine digits.
    out.key = 978000000000ULL + (x ? key : key / 10);  // the check digit off
    out.checkDigitWrong = sum10 % 11 != 0;
  } else if (n == 13 && !x) {
    key /= 10;  // the check digit off
    if (key / 1000000000 != 978 && key / 1000000000 != 979) return out;
    out.kind = IsbnReading::Isbn13;
    out.key = key;
    out.checkDigitWrong = sum13 % 10 != 0;
  }
  return out;
}

std::string Isbn13OfKey(std::uint64_t key) {
  std::string d(12, '0');
  for (std::size_t k = 12; k-- > 0; key /= 10) d[k] = static_cast<char>('0' + key % 10);
  return d + Isbn13Check(d.data());
}

char RightCheckDigit(const IsbnReading& isbn) {
  if (isbn.kind == IsbnReading::Isbn13) return Isbn13OfKey(isbn.key).back();
  if (isbn.kind != IsbnReading::Isbn10) return '?';
  std::uint64_t nine = isbn.key % 1000000000;
  int sum = 0;
  for (int weight = 2; weight <= 10; ++weight, nine /= 10)
    sum += weight * static_cast<int>(nine % 10);
  const int c = (11 - sum % 11) % 11;
  return c == 10 ? 'X' : static_cast<char>('0' + c);
}

// --- Price -----------------------------------------------------------------------------------

namespace {

// Code points of a short text, full-width digits, point and brackets made ASCII, blanks dropped,
// and "赠" taken out (it makes a gift); false when it is longer than a price is.
struct Chars {
  std::array<char32_t, 48> c;  // the first n set
  std::size_t n = 0;
  bool gift = false;
};

bool PriceChars(std::string_view utf8, Chars& out) {
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    char32_t cp = b;
    if (b < 0x80) {
      ++i;
      if (b == ' ' || b == '\t') continue;
    } else {
      const std::size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
      if (i + len > utf8.size()) return false;
      cp = b & (0x3F >> (len - 1));
      for (std::size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
      i += len;
      if (cp >= 0xFF10 && cp <= 0xFF19) {
        cp = U'0' + (cp - 0xFF10);
      } else if (cp == 0xFF0E) {
        cp = U'.';
      } else if (cp == 0xFF08) {
        cp = U'(';
      } else if (cp == 0xFF09) {
        cp = U')';
      } else if (cp == 0xFFE5) {
        cp = 0xA5;  // ￥ as ¥
      } else if (cp == 0x3000 || cp == 0xA0) {
        continue;
      } else if (cp == 0x8D60) {  // 赠
        out.gift = true;
        continue;
      }
    }
    if (out.n == out.c.size()) return false;
    out.c[out.n++] = cp;
  }
  return true;
}

char32_t Upper(char32_t c) { return c >= U'a' && c <= U'z' ? c - 32 : c; }

}  // namespace

PriceReading ReadPrice(std::string_view written, TextEncoding enc) {
  PriceReading out;
  if (IsBlank(written)) return out;
  out.kind = PriceReading::Unreadable;
  // Most prices are "CNY" and a number with two decimals: read at once.
  if (written.size() >= 4 && written.size() <= 16 && written.starts_with("CNY")) {
    std::int64_t fen = 0;
    std::size_t k = 3, digits = 0, decimals = 0;
    for (; k < written.size() && IsDigit(written[k]); ++k, ++digits)
      fen = fen * 10 + (written[k] - '0');
    if (digits > 0 && k + 1 < written.size() && written[k] == '.') {
      for (++k; k < written.size() && IsDigit(written[k]) && decimals < 2; ++k, ++decimals)
        fen = fen * 10 + (written[k] - '0');
    }
    if (digits > 0 && digits <= 12 && k == written.size() &&
        (decimals == 2 || written.find('.') == std::string_view::npos)) {
      out.kind = PriceReading::Counted;
      out.fen = decimals == 2 ? fen : fen * 100;
      return out;
    }
  }
  const bool ascii = std::all_of(written.begin(), written.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  Chars t;
  // ASCII is the same in every encoding the rows come in; only GB18030 text needs decoding.
  const bool read = ascii || enc == TextEncoding::Utf8 ? PriceChars(written, t)
                                                       : PriceChars(DecodeToUtf8(written, enc), t);
  if (!read) return out;
  const bool gift = t.gift;
  std::size_t i = 0;
  auto at = [&](std::size_t k) { return k < t.n ? t.c[k] : char32_t{0}; };
  // A currency first: CNY, RMB, ¥.
  if ((Upper(at(0)) == U'C' && Upper(at(1)) == U'N' && Upper(at(2)) == U'Y') ||
      (Upper(at(0)) == U'R' && Upper(at(1)) == U'M' && Upper(at(2)) == U'B'))
    i = 3;
  else if (at(0) == 0xA5)
    i = 1;
  // Yuan, then at most two decimals (zeros beyond them pass).
  std::int64_t yuan = 0;
  std::size_t digits = 0;
  for (; at(i) >= U'0' && at(i) <= U'9'; ++i, ++digits) {
    if (digits == 12) return out;
    yuan = yuan * 10 + (at(i) - U'0');
  }
  if (digits == 0) return out;
  std::int64_t cents = 0;
  if (at(i) == U'.') {
    ++i;
    for (std::size_t k = 0; at(i) >= U'0' && at(i) <= U'9'; ++i, ++k) {
      if (k < 2) {
        cents += (at(i) - U'0') * (k == 0 ? 10 : 1);
      } else if (at(i) != U'0') {
        return out;
      }
    }
  }
  if (at(i) == 0x5143) ++i;  // 元
  // A note in brackets at the end; one naming volumes or a set marks a set price.
  if (at(i) == U'(' && t.n > i + 1 && t.c[t.n - 1] == U')') {
    for (std::size_t k = i + 1; k + 1 < t.n; ++k)
      if (t.c[k] == 0x518C || t.c[k] == 0x5957 || t.c[k] == 0x5168) out.set = true;  // 册 套 全
    i = t.n;
  }
  if (i != t.n) return out;
  out.kind = gift ? PriceReading::Gift : PriceReading::Counted;
  out.fen = yuan * 100 + cents;
  return out;
}

// --- Class numbers ---------------------------------------------------------------------------

std::vector<std::string> ClassLevels(std::string_view number) {
  // Blanks around it, the ideographic one included.
  auto blankAt = [&](std::size_t i) {
    return number[i] == ' ' || number[i] == '\t' || number.substr(i).starts_with("\xE3\x80\x80");
  };
  while (!number.empty() && blankAt(0))
    number.remove_prefix(number[0] == ' ' || number[0] == '\t' ? 1 : 3);
  while (!number.empty()) {
    if (number.back() == ' ' || number.back() == '\t') {
      number.remove_suffix(1);
    } else if (number.ends_with("\xE3\x80\x80")) {
      number.remove_suffix(3);
    } else {
      break;
    }
  }
  std::string s(number);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  std::vector<std::string> levels;
  const auto letter = [](char c) { return c >= 'A' && c <= 'Z'; };
  std::size_t i = 0;
  if (!s.empty() && letter(s[0])) {
    levels.push_back(s.substr(0, 1));
    i = 1;
    if (s[0] == 'T' && s.size() > 1 && letter(s[1])) levels.push_back(s.substr(0, i = 2));
  }
  while (i < s.size()) {
    bool digit = false;
    std::size_t j = i;
    while (j < s.size()) {
      const char c = s[j];
      if (IsDigit(c)) {
        digit = true;
      } else if (digit && c != ')' && c != ']') {
        break;
      }
      ++j;
    }
    levels.push_back(s.substr(0, j));
    i = j;
  }
  return levels;
}

// --- The checks over the rows ----------------------------------------------------------------

std::int64_t CheckFindings::DuplicateRows() const {
  std::int64_t n = 0;
  for (const Duplicates& group : duplicates) n += static_cast<std::int64_t>(group.rows.size());
  return n;
}

namespace {

struct Hash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct ClassNode {
  std::int64_t rows = 0, stop = 0;
  std::map<std::string, ClassNode> children;
};

ClassCount ToCount(std::string label, const ClassNode& node) {
  ClassCount out{std::move(label), node.rows, node.stop, {}};
  out.children.reserve(node.children.size());
  for (const auto& [child, sub] : node.children) out.children.push_back(ToCount(child, sub));
  return out;
}

}  // namespace

struct Checker::State {
  std::int64_t rows = 0;
  // Every ISBN read, its text as written kept in one arena: only the duplicates' are shown, and
  // which those are is known at the end.
  // Sorted by key, then index: index counts the ISBNs read, so it keeps the rows' order.
  struct Keyed {
    std::uint64_t key;
    std::uint64_t index;
  };
  std::vector<Keyed> keyed;
  std::vector<std::int64_t> keyedRows;     // by index
  std::vector<std::uint64_t> writtenEnds;  // by index: where its text ends in written
  std::string written;
  std::unordered_map<std::string, std::int64_t, Hash, std::equal_to<>> classNumbers;
  CheckFindings findings;
};

Checker::Checker(TextEncoding encoding) : encoding_(encoding), state_(std::make_unique<State>()) {}
Checker::~Checker() = default;

void Checker::Add(const RowBlock& rows) {
  for (std::size_t r = 0; r < rows.Size(); ++r) Row(rows, r);
}

void Checker::Row(const RowBlock& rows, std::size_t r) {
  State& st = *state_;
  CheckFindings& f = st.findings;
  const std::int64_t row = ++st.rows;
  const RowExtra extra = rows.Extra(r);
  // The three cells wanted, from one read of the row's lengths.
  std::array<std::uint32_t, CellCount> lengths;
  const std::string_view bytes = rows.CellBytes(r, lengths);
  std::array<std::size_t, CellCount + 1> at;
  at[0] = 0;
  for (std::size_t c = 0; c < CellCount; ++c) at[c + 1] = at[c] + lengths[c];
  auto cell = [&](Cell c) { return bytes.substr(at[c], lengths[c]); };

  const std::string_view isbnCell = cell(Isbn);
  const IsbnReading isbn = ReadIsbn(isbnCell, encoding_);
  switch (isbn.kind) {
    case IsbnReading::Empty:
      f.noIsbn.push_back({row, !(extra.fields & Has010)});
      break;
    case IsbnReading::NotIsbn:
      f.notIsbns.push_back({row, DecodeToUtf8(isbnCell, encoding_)});
      break;
    case IsbnReading::Isbn10:
    case IsbnReading::Isbn13:
      // Kept as written, decoded only if it turns out to be shown.
      st.keyed.push_back({isbn.key, st.keyedRows.size()});
      st.keyedRows.push_back(row);
      st.written += isbnCell;
      st.writtenEnds.push_back(st.written.size());
      if (isbn.checkDigitWrong)
        f.wrongCheckDigits.push_back({row, DecodeToUtf8(isbnCell, encoding_)});
      break;
  }

  const PriceReading price = ReadPrice(extra.priceAsWritten, encoding_);
  auto entry = [&] {
    return PriceEntry{row, DecodeToUtf8(extra.priceAsWritten, encoding_), price.fen};
  };
  switch (price.kind) {
    case PriceReading::Absent:
      f.noPrice.push_back({row, !(extra.fields & Has010)});
      break;
    case PriceReading::Counted:
      f.totalFen += price.fen;
      ++f.countedRows;
      if (price.set) f.sets.push_back(entry());
      break;
    case PriceReading::Gift:
      f.giftFen += price.fen;
      f.gifts.push_back(entry());
      break;
    case PriceReading::Unreadable:
      f.unreadablePrices.push_back(entry());
      break;
  }

  const std::string_view classNumber = cell(ClassNumber);
  if (IsBlank(classNumber)) {
    f.noClassNumber.push_back({row, !(extra.fields & Has690)});
  } else if (const auto it = st.classNumbers.find(classNumber); it != st.classNumbers.end()) {
    ++it->second;
  } else {
    st.classNumbers.emplace(classNumber, 1);
  }

  if (IsBlank(cell(Title))) f.noTitle.push_back({row, !(extra.fields & Has200)});
}

CheckFindings Checker::Finish() {
  State& st = *state_;
  CheckFindings f = std::move(st.findings);
  f.rows = st.rows;
  auto text = [&](const State::Keyed& k) {
    const std::uint64_t begin = k.index ? st.writtenEnds[k.index - 1] : 0;
    return RowText{
        st.keyedRows[k.index],
        DecodeToUtf8(std::string_view(st.written).substr(begin, st.writtenEnds[k.index] - begin),
                     encoding_)};
  };

  // Rows of one key next to each other, in row order; groups in the order of their first rows.
  std::sort(st.keyed.begin(), st.keyed.end(), [](const State::Keyed& a, const State::Keyed& b) {
    return a.key != b.key ? a.key < b.key : a.index < b.index;
  });
  for (std::size_t i = 0; i < st.keyed.size();) {
    std::size_t j = i + 1;
    while (j < st.keyed.size() && st.keyed[j].key == st.keyed[i].key) ++j;
    if (j - i > 1) {
      CheckFindings::Duplicates group{st.keyed[i].key, {}};
      for (std::size_t k = i; k < j; ++k) group.rows.push_back(text(st.keyed[k]));
      f.duplicates.push_back(std::move(group));
    }
    i = j;
  }
  std::sort(f.duplicates.begin(), f.duplicates.end(),
            [](const auto& a, const auto& b) { return a.rows.front().row < b.rows.front().row; });

  // Each distinct number once: its levels take all its rows.
  ClassNode root;
  for (const auto& [number, rows] : st.classNumbers) {
    const std::vector<std::string> levels = ClassLevels(DecodeToUtf8(number, encoding_));
    root.rows += rows;
    ClassNode* node = &root;
    for (const std::string& level : levels) {
      node = &node->children[level];
      node->rows += rows;
    }
    node->stop += rows;
  }
  f.classes = ToCount({}, root);

  *state_ = State{};
  return f;
}

CheckFindings CheckRows(const std::vector<std::shared_ptr<const RowBlock>>& blocks,
                        TextEncoding encoding) {
  Checker checker(encoding);
  for (const auto& block : blocks) checker.Add(*block);
  return checker.Finish();
}

}  // namespace marc
