// Types and constants shared by every subsystem of tilvex.
#pragma once

#include <cstdint>

namespace tilvex {

// The mode word given as the first argument. Every value is accepted; only the
// bits below mean anything.
using RunMode = std::uint32_t;
inline constexpr RunMode kModeInsert = 0x1;  // clear: extraction, set: insertion
inline constexpr RunMode kModeKeepFreeRegion =
    0x10;                                      // insertion leaves the rest of the free region alone
inline constexpr RunMode kModeNoWait = 0x100;  // no wait for a key after a successful run

// How a structure is stored in the cartridge.
enum StructureKind : std::uint8_t {
  KindPlain = 0,     // the plain bytes
  KindBitmap = 1,    // plain, but in the packed bitmap layout (pixel conversion mode 52)
  KindFormat1 = 2,   // compressed in format 1
  KindFormat15 = 3,  // compressed in format 15
};

inline constexpr std::uint32_t kStructureCount = 473;  // structures 0x000 to 0x1D8

// Working buffer of extraction and insertion; its upper half is the output area
// of the pixel conversion.
inline constexpr std::uint32_t kStructureBufferSize = 0x10000;
inline constexpr std::uint32_t kConversionArea = 0x8000;

// No codec call produces more than this many bytes.
inline constexpr std::uint32_t kOutputLimit = 0x10000;

}  // namespace tilvex
