#include "gfx/picture.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "pixel/planar.h"

namespace tilvex {

namespace {

std::string where(std::uint32_t x, std::uint32_t y, const TileGrid& grid) {
  const std::uint32_t tile = (y / kTileSide) * grid.columns + x / kTileSide;
  char text[96];
  if (tile < grid.tiles) {
    std::snprintf(text, sizeof text, "pixel (%u, %u), tile %u (byte 0x%X): ", x, y, tile,
                  tile * kTileBytes);
  } else {
    std::snprintf(text, sizeof text, "pixel (%u, %u), past the last tile %u: ", x, y,
                  grid.tiles - 1);
  }
  return text;
}

std::string colour_text(const Colour& c) {
  char text[16];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", c.r, c.g, c.b);
  return text;
}

// The index of each pixel of an RGBA picture, or a problem.
bool match_colours(const PngPicture& picture, const Palette& palette, const TileGrid& grid,
                   std::uint8_t* indices, std::string* problem) {
  const std::uint8_t* rgba = picture.pixels.data();
  std::uint32_t last_key = 0xFFFFFFFFu;
  std::uint8_t last_index = 0;
  for (std::uint32_t y = 0; y < grid.height; ++y) {
    for (std::uint32_t x = 0; x < grid.width; ++x, rgba += 4) {
      const std::size_t at = std::size_t{y} * grid.width + x;
      if (rgba[3] == 0) {
        indices[at] = 0;
        continue;
      }
      const std::uint32_t key = rgba[0] | rgba[1] << 8 | rgba[2] << 16;
      if (key != last_key) {
        const Colour colour{rgba[0], rgba[1], rgba[2]};
        int found = -1;
        for (std::uint32_t i = 0; i < kPaletteColours; ++i) {
          if (!(palette[i] == colour)) continue;
          if (found >= 0) {
            *problem = where(x, y, grid) + "colour " + colour_text(colour) +
                       " stands for both index " + std::to_string(found) + " and index " +
                       std::to_string(i) + " of the palette";
            return false;
          }
          found = static_cast<int>(i);
        }
        if (found < 0) {
          *problem = where(x, y, grid) + "colour " + colour_text(colour) + " is not in the palette";
          return false;
        }
        last_key = key;
        last_index = static_cast<std::uint8_t>(found);
      }
      indices[at] = last_index;
    }
  }
  return true;
}

}  // namespace

TileGrid tile_grid(std::uint32_t structure_bytes, std::uint32_t columns) {
  TileGrid grid;
  grid.tiles = structure_bytes / kTileBytes;
  grid.columns = columns == 0 ? 1 : columns;
  grid.width = grid.columns * kTileSide;
  grid.height = (grid.tiles + grid.columns - 1) / grid.columns * kTileSide;
  return grid;
}

void tiles_to_indices(const std::uint8_t* tiles, const TileGrid& grid, std::uint8_t* pixels) {
  std::memset(pixels, 0, std::size_t{grid.width} * grid.height);
  for (std::uint32_t t = 0; t < grid.tiles; ++t) {
    const std::uint32_t x = t % grid.columns * kTileSide;
    const std::uint32_t y = t / grid.columns * kTileSide;
    unpack_tile(tiles + std::size_t{t} * kTileBytes, pixels + std::size_t{y} * grid.width + x,
                grid.width);
  }
}

bool picture_to_tiles(const PngPicture& picture, const Palette& palette,
                      std::uint32_t structure_bytes, std::uint8_t* tiles, std::string* problem) {
  TileGrid grid = tile_grid(structure_bytes, picture.width / kTileSide);
  if (picture.width % kTileSide != 0 || picture.width == 0 || picture.height != grid.height) {
    const TileGrid usual = tile_grid(structure_bytes, kDefaultColumns);
    char text[160];
    std::snprintf(text, sizeof text,
                  "size %ux%u is not the structure's: its %u tiles make %ux%u pixels at %u tiles "
                  "a row (any width of whole tiles with the height to match will do)",
                  picture.width, picture.height, usual.tiles, usual.width, usual.height,
                  usual.columns);
    *problem = text;
    return false;
  }
  std::vector<std::uint8_t> matched;
  const std::uint8_t* indices = picture.pixels.data();
  if (!picture.indexed) {
    matched.resize(std::size_t{grid.width} * grid.height);
    if (!match_colours(picture, palette, grid, matched.data(), problem)) return false;
    indices = matched.data();
  }
  for (std::uint32_t y = 0; y < grid.height; ++y) {
    const std::uint8_t* row = indices + std::size_t{y} * grid.width;
    const std::uint32_t row_tiles = y / kTileSide * grid.columns;
    for (std::uint32_t x = 0; x < grid.width; ++x) {
      const bool padding = row_tiles + x / kTileSide >= grid.tiles;
      if (row[x] > 15 || (padding && row[x] != 0)) {
        *problem =
            where(x, y, grid) +
            (padding ? "colour index " + std::to_string(row[x]) + " where only colour 0 may be"
                     : "colour index " + std::to_string(row[x]) + " is over 15");
        return false;
      }
    }
  }
  for (std::uint32_t t = 0; t < grid.tiles; ++t) {
    const std::uint32_t x = t % grid.columns * kTileSide;
    const std::uint32_t y = t / grid.columns * kTileSide;
    pack_tile(indices + std::size_t{y} * grid.width + x, grid.width,
              tiles + std::size_t{t} * kTileBytes);
  }
  return true;
}

}  // namespace tilvex
