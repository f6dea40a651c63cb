// Hexadecimal numbers given on command lines.
#pragma once

#include <cstdint>
#include <string_view>

namespace tilvex {

// The outcome of reading a hexadecimal number the way "%X" reads it: leading
// blanks, an optional sign, an optional "0x", then the digits; whatever
// follows the digits is ignored, and a minus sign negates modulo 2^32.
enum class HexScan {
  Number,    // the value is stored
  NoNumber,  // no digits found; the value is left alone
  TooWide,   // the digits spell a number wider than 32 bits; the value is left alone
};
HexScan scan_hex(const char* text, std::uint32_t* value);

// The companions' numbers, strictly: an optional 0x or 0X, then one or more
// hexadecimal digits and nothing else, at most 32 bits (leading zeros are
// fine); no blanks, no sign. False, with the value left alone, otherwise.
bool parse_hex_argument(std::string_view text, std::uint32_t* value);

}  // namespace tilvex
