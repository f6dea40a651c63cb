// Pixel conversion mode 52: between the 4-bit planar tile layout of the
// graphics files and the packed bitmap layout of the kind 1 structures.
#pragma once

#include <cstdint>

namespace tilvex {

inline constexpr std::uint32_t kConversionMode52 = 52;

// count is the number of 32-byte units.
bool tiles_to_cartridge(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t count,
                        std::uint32_t mode);
bool tiles_from_cartridge(const std::uint8_t* source, std::uint8_t* destination,
                          std::uint32_t count, std::uint32_t mode);

}  // namespace tilvex
