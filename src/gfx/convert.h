// The two directions of tilvex-gfx: every structure of a graphics set out to
// an indexed PNG (and one sheet of them all), and edited PNGs back into the
// graphics set, all of them or none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gfx/palette.h"
#include "gfx/picture.h"

namespace tilvex {

inline constexpr char kSheetName[] = "sheet.png";

struct ExportResult {
  std::uint32_t pictures = 0;
};

// Writes DIR/GFX%03X.png for every structure of graphics and DIR/sheet.png,
// creating DIR when needed. Stops at the first problem.
bool export_pictures(const std::string& graphics, const std::string& dir, const Palette& palette,
                     std::uint32_t columns, ExportResult* result, std::string* problem);

struct ImportResult {
  std::uint32_t pictures = 0;  // PNGs found and read
  std::uint32_t changed = 0;   // structures whose bytes differ from before
};

// Reads every DIR/GFX%03X.png present and writes the changed structures into
// graphics. When any picture is refused, problems lists each refused file
// (one line each, naming it) and nothing is written.
bool import_pictures(const std::string& dir, const std::string& graphics, const Palette& palette,
                     ImportResult* result, std::vector<std::string>* problems);

}  // namespace tilvex
