// Extraction: every structure out of the loaded cartridge image into its plain
// form, written to the combined graphics file or to per-structure files.
#pragma once

#include <cstdio>

namespace tilvex {

// Writes the combined graphics file graphics_name, or, when it is null, the
// per-structure files "GFX%03X.bin" in the current directory. No output is
// ever created over the cartridge file rom_name. Problems are written to
// messages. 1 when every structure went through, 0 when the graphics output
// could not be written.
int extract_all(const char* graphics_name, const char* rom_name, std::FILE* messages);

}  // namespace tilvex
