// Format 15: a bit stream coding the 128-pixel-wide picture that the tiles
// form, row by row, against a seven-colour table.
#pragma once

#include <cstdint>

#include "rom/image.h"

namespace tilvex {

inline constexpr std::uint32_t kFormat15MaxDecodeRows = 42;
inline constexpr std::uint32_t kFormat15MaxEncodeRows = 32;

std::uint32_t format15_decode(RomHandle image, std::uint8_t* destination, std::uint32_t file_offset,
                              std::uint32_t max_size, std::uint32_t tile_rows,
                              std::uint32_t* end_position);

std::uint32_t format15_encode(const std::uint8_t* source, std::uint8_t* destination,
                              std::uint32_t size, std::uint32_t max_size, std::uint32_t tile_rows);

}  // namespace tilvex
