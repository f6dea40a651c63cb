// A structure's tiles as a picture of colour indices: 8 x 8 tiles laid left
// to right, a given number to a row, the rest of the last row colour 0.
#pragma once

#include <cstdint>
#include <string>

#include "gfx/palette.h"
#include "gfx/png_io.h"

namespace tilvex {

inline constexpr std::uint32_t kDefaultColumns = 16;  // 128 pixels, as tile editors show them
inline constexpr std::uint32_t kMostColumns = 256;

struct TileGrid {
  std::uint32_t tiles = 0;    // whole 32-byte tiles in the structure
  std::uint32_t columns = 0;  // tiles to a row
  std::uint32_t width = 0;    // in pixels
  std::uint32_t height = 0;
};

TileGrid tile_grid(std::uint32_t structure_bytes, std::uint32_t columns);

// One index byte per pixel, grid.width * grid.height of them.
void tiles_to_indices(const std::uint8_t* tiles, const TileGrid& grid, std::uint8_t* pixels);

// The structure_bytes bytes of tiles that a decoded picture shows. An indexed
// picture gives its indices; any other is matched colour by colour against
// the palette (fully transparent pixels are colour 0). The number of columns
// follows from the picture's width. Fails with a problem naming the pixel and
// the tile, or the size the picture should have.
bool picture_to_tiles(const PngPicture& picture, const Palette& palette,
                      std::uint32_t structure_bytes, std::uint8_t* tiles, std::string* problem);

}  // namespace tilvex
