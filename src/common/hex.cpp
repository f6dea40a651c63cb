#include "common/hex.h"

#include <cctype>
#include <limits>

namespace tilvex {

namespace {

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

HexScan scan_hex(const char* text, std::uint32_t* value) {
  if (text == nullptr) return HexScan::NoNumber;
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // "0x" introduces the digits only when a digit follows; otherwise the "0"
  // itself is the number.
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_digit_value(p[2]) >= 0) p += 2;
  if (hex_digit_value(*p) < 0) return HexScan::NoNumber;
  std::uint64_t number = 0;
  bool too_wide = false;
  for (int digit; (digit = hex_digit_value(*p)) >= 0; ++p) {
    number = number * 16 + static_cast<std::uint64_t>(digit);
    if (number > std::numeric_limits<std::uint32_t>::max()) {
      too_wide = true;
      number = 0;  // keep scanning to the end of the digits, no overflow
    }
  }
  if (too_wide) return HexScan::TooWide;
  const auto result = static_cast<std::uint32_t>(number);
  *value = negative ? 0u - result : result;
  return HexScan::Number;
}

bool parse_hex_argument(std::string_view text, std::uint32_t* value) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  std::uint64_t number = 0;
  for (const char c : text) {
    const int digit = hex_digit_value(c);
    if (digit < 0) return false;
    number = number * 16 + static_cast<std::uint64_t>(digit);
    if (number > std::numeric_limits<std::uint32_t>::max()) return false;
  }
  *value = static_cast<std::uint32_t>(number);
  return true;
}

}  // namespace tilvex
