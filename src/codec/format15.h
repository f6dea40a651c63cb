// Format 15: a bit stream coding the 128-pixel-wide picture that the tiles
// form, row by row, against a seven-colour table.
#pragma once

#include <cstdint>

#include "codec/result.h"

namespace tilvex {

inline constexpr std::uint32_t kFormat15MaxDecodeRows = 42;
inline constexpr std::uint32_t kFormat15MaxEncodeRows = 32;

// Decodes tile_rows bands of tiles (512 bytes each) from the stream that
// starts at input[start]; bytes at or past input_size read as 0.
// invalid_argument above 42 tile rows; destination may be null.
DecodeResult format15_decode(const std::uint8_t* input, std::uint32_t input_size,
                             std::uint32_t start, std::uint8_t* destination, std::uint32_t capacity,
                             std::uint32_t tile_rows);

// Encodes the 512 * tile_rows bytes of tiles at source (size must be at least
// that; at most 32 tile rows). destination may be the source buffer, or null.
EncodeResult format15_encode(const std::uint8_t* source, std::uint32_t size,
                             std::uint8_t* destination, std::uint32_t capacity,
                             std::uint32_t tile_rows);

}  // namespace tilvex
