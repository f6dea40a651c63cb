// Conversion between 24-bit SNES addresses and file offsets in the headered
// cartridge file. Only memory map 32 exists here; any other map type gives 0.
// header non-zero means the file starts with the 512-byte copier header.
#pragma once

#include <cstdint>

namespace tilvex {

inline constexpr std::uint32_t kMap32 = 32;
inline constexpr std::uint32_t kCopierHeaderSize = 0x200;

std::uint32_t snes_to_file(std::uint32_t address, std::uint32_t map_type, int header);
std::uint32_t file_to_snes(std::uint32_t offset, std::uint32_t map_type, int header);

}  // namespace tilvex
