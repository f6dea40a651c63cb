// The 473 plain structures in memory, always in the combined graphics file's
// layout, whether they came from a combined file or from a folder of
// per-structure files; and the one place where this program writes files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/types.h"

namespace tilvex {

struct Graphics {
  bool folder = false;              // per-structure files rather than one combined file
  std::vector<std::uint8_t> bytes;  // the combined layout, zeros where a structure is absent
  std::array<bool, kStructureCount> present{};           // read from its file at its expected size
  std::array<std::uint32_t, kStructureCount> offsets{};  // each structure's place in bytes
};

// Every structure's offset in the combined graphics file.
std::array<std::uint32_t, kStructureCount> combined_offsets();

// "GFX%03X" and the extension, e.g. GFX015.bin.
std::string structure_file_name(std::uint32_t index, const char* extension);

// Reads path: a folder of per-structure files, a combined graphics file, or
// "-" for a combined file on standard input. A combined file must have
// exactly the combined size. In a folder, a missing file or one of another
// size leaves its structure absent; with require_all that is a failure.
bool load_graphics(const std::string& path, bool require_all, Graphics* graphics,
                   std::string* problem);

// Writes the structures marked in which back where they came from: the
// combined file replaced as a whole, or each marked per-structure file.
bool store_graphics(const std::string& path, const Graphics& graphics,
                    const std::array<bool, kStructureCount>& which, std::string* problem);

// The whole file at path (or standard input for "-"), at most limit bytes.
bool read_whole_file(const std::string& path, std::size_t limit, std::vector<std::uint8_t>* bytes,
                     std::string* problem);

// Replaces the file at path with the bytes through the platform's atomic
// replacement: the old content stays whole until the new one is complete.
bool replace_file(const std::string& path, const std::uint8_t* data, std::size_t size,
                  std::string* problem);

}  // namespace tilvex
