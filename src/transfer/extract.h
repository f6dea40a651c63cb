// Extraction: every structure out of the loaded cartridge image into its plain
// form, written to the combined graphics file or to per-structure files.
#pragma once

#include <cstdint>
#include <cstdio>

#include "transfer/problems.h"

namespace tilvex {

// What became of the output files, beyond the result.
struct ExtractReport {
  std::uint32_t skipped = 0;  // per-structure files that could not be created
  FileProblems problems;      // every file that could not be opened or written, and why
};

// Writes the combined graphics file graphics_name, or, when it is null, the
// per-structure files "GFX%03X.bin" in the current directory. No output is
// ever created over the cartridge file rom_name. The combined file replaces
// the old one only once every structure is in it, so a failed extraction
// leaves the old one as it was. Problems are written to messages, and the
// files behind them, with their reasons, to report when it is given. 1 when
// every structure went through (per-structure files skipped included, which
// report counts), 0 when the graphics output could not be written. The
// structures are decoded on up to `threads` threads at once; files, messages,
// report and result are the same for any number.
int extract_all(const char* graphics_name, const char* rom_name, std::FILE* messages,
                ExtractReport* report = nullptr, unsigned threads = 1);

}  // namespace tilvex
