// The command line and the order of a run.
#pragma once

#include <cstddef>
#include <string>

namespace tilvex {

extern const char* const kBanner;

int parse_arguments(int argc, char** argv);
std::size_t strip_quotes(std::string* name);

// Runs the whole program; returns the process exit status (0 when the
// requested extraction or insertion succeeded, 1 otherwise).
int run_program(int argc, char** argv);

}  // namespace tilvex
