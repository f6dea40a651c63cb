// The command line and the order of a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/run_settings.h"

namespace tilvex {

extern const char* const kBanner;

// Writes the banner to out, reads the command line into settings, identifies
// the cartridge and loads it into the image store. 1 when the operation can
// run; 0 when it cannot, the reason written to out.
int parse_arguments(int argc, char** argv, RunSettings* settings, std::FILE* out);

// Removes every double quote from a name of up to 260 characters in place.
// Returns the new length plus one, or 0 when nothing was done (no name, or a
// longer one).
std::size_t strip_quotes(std::string* name);

// The ending report of a successful insertion: the ending address, and the
// free space left when the data ended inside the free region.
void print_ending_report(std::uint32_t ending_address, std::FILE* out);

// Runs the whole program on standard output; returns the process exit status
// (0 when the requested extraction or insertion succeeded, 1 otherwise).
int run_program(int argc, char** argv);

}  // namespace tilvex
