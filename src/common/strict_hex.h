// Whole hexadecimal numbers as the companions' command lines take them: an
// optional 0x or 0X, then one or more hexadecimal digits and nothing else, at
// most 32 bits (leading zeros are fine). No sign, no blanks, no suffix.
#pragma once

#include <cstdint>
#include <string_view>

namespace tilvex {

inline bool parse_hex_argument(std::string_view text, std::uint32_t* value) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  std::uint64_t v = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * 16 + static_cast<std::uint64_t>(digit);
    if (v > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace tilvex
