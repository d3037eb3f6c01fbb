// StrToIntStrict against a model built on strtoll/strtoull: blanks (0x20 only) may lead; one
// sign; then either "$", "x", "X", "0x" or "0X" and 1 to 8 significant hex digits read as a
// 32-bit two's-complement pattern (a "-" negating it), or decimal digits whose value fits in
// 32 bits. Nothing may follow. A failure carries "'<the whole text>' is not a valid integer
// value".
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "text.h"

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

bool AllOf(std::string_view s, bool (*pred)(char)) {
  for (char c : s)
    if (!pred(c)) return false;
  return !s.empty();
}
bool IsDec(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDec(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::optional<std::int32_t> Model(std::string_view s) {
  std::size_t i = s.find_first_not_of(' ');
  if (i == std::string_view::npos) return std::nullopt;
  s.remove_prefix(i);
  const bool negative = s[0] == '-';
  if (s[0] == '-' || s[0] == '+') s.remove_prefix(1);
  std::string_view digits;
  bool hex = false;
  if (!s.empty() && (s[0] == '$' || s[0] == 'x' || s[0] == 'X')) {
    hex = true, digits = s.substr(1);
  } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    hex = true, digits = s.substr(2);
  } else {
    digits = s;
  }
  if (hex) {
    if (!AllOf(digits, IsHex)) return std::nullopt;
    const std::size_t z = digits.find_first_not_of('0');
    const std::string significant(z == std::string_view::npos ? "0" : digits.substr(z));
    if (significant.size() > 8) return std::nullopt;
    auto pattern = static_cast<std::uint32_t>(std::strtoull(significant.c_str(), nullptr, 16));
    if (negative) pattern = ~pattern + 1u;
    return static_cast<std::int32_t>(pattern);
  }
  if (!AllOf(digits, IsDec)) return std::nullopt;
  const std::string text = (negative ? "-" : "") + std::string(digits);
  errno = 0;
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view s(reinterpret_cast<const char*>(data), size);
  const std::optional<std::int32_t> want = Model(s);
  try {
    const std::int32_t got = marc::StrToIntStrict(s);
    if (!want) Broken("accepted a text the model refuses");
    if (got != *want) Broken("value differs from the model");
    // What IntToText writes reads back as the same value.
    if (marc::StrToIntStrict(marc::IntToText(got)) != got) Broken("IntToText does not read back");
  } catch (const marc::EConvertError& e) {
    if (want) Broken("refused a text the model accepts");
    // what() ends at a NUL; record texts hold none, so only the part before one is compared.
    const std::string message = "'" + std::string(s) + "' is not a valid integer value";
    if (std::string_view(e.what()) != std::string_view(message).substr(0, message.find('\0')))
      Broken("wrong failure message");
  }
  return 0;
}
