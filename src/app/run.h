// The command line and the order of a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tilvex {

extern const char* const kBanner;

// Prints the banner, reads the command line into run_settings, identifies the
// cartridge and loads it into the image store. 1 when the operation can run;
// 0 when it cannot, the reason printed.
int parse_arguments(int argc, char** argv);

// Removes every double quote from a name of up to 260 characters in place.
// Returns the new length plus one, or 0 when nothing was done (no name, or a
// longer one).
std::size_t strip_quotes(std::string* name);

// The outcome of reading a hexadecimal number the way "%X" reads it: leading
// blanks, an optional sign, an optional "0x", then the digits; whatever
// follows the digits is ignored.
enum class HexScan {
  Number,    // the value is stored
  NoNumber,  // no digits found; the value is left alone
  TooWide,   // the digits spell a number wider than 32 bits; the value is left alone
};
HexScan scan_hex(const char* text, std::uint32_t* value);

// The ending report of a successful insertion: the ending address, and the
// free space left when the data ended inside the free region.
void print_ending_report(std::uint32_t ending_address);

// Runs the whole program; returns the process exit status (0 when the
// requested extraction or insertion succeeded, 1 otherwise).
int run_program(int argc, char** argv);

}  // namespace tilvex
