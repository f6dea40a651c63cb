#include "gfx/sheet.h"

#include <cstring>

#include "gfx/picture.h"

namespace tilvex {

namespace {

// The hexadecimal digits, 3 pixels wide and 5 high: one row a byte, bit 2
// the leftmost pixel.
constexpr std::uint8_t kDigits[16][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7},
    {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 2, 2, 2},
    {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}, {2, 5, 7, 5, 5}, {6, 5, 6, 5, 6},
    {3, 4, 4, 4, 3}, {6, 5, 5, 5, 6}, {7, 4, 6, 4, 7}, {7, 4, 6, 4, 4},
};
constexpr std::uint32_t kLabelX = 2;
constexpr std::uint32_t kLabelY = 1;

}  // namespace

void draw_number(std::uint8_t* pixels, std::uint32_t stride, std::uint32_t x, std::uint32_t y,
                 std::uint32_t number, std::uint8_t ink) {
  for (std::uint32_t d = 0; d < 3; ++d) {
    const std::uint8_t* glyph = kDigits[(number >> (4 * (2 - d))) & 15];
    for (std::uint32_t row = 0; row < 5; ++row) {
      for (std::uint32_t column = 0; column < 3; ++column) {
        if ((glyph[row] >> (2 - column)) & 1)
          pixels[std::size_t{y + row} * stride + x + 4 * d + column] = ink;
      }
    }
  }
}

Sheet render_sheet(const std::uint8_t* const* structures, const std::uint32_t* sizes,
                   std::uint32_t count, std::uint32_t columns, const Palette& palette) {
  Sheet sheet;
  sheet.width = kSheetGutter + columns * 8;
  for (std::uint32_t i = 0; i < count; ++i)
    sheet.height += tile_grid(sizes[i], columns).height + (i + 1 < count ? kSheetGap : 0);
  sheet.pixels.assign(std::size_t{sheet.width} * sheet.height, kSheetBackground);
  sheet.palette.assign(palette.begin(), palette.end());
  sheet.palette.push_back({0x30, 0x30, 0x48});  // the gutter and the gaps
  sheet.palette.push_back({0xFF, 0xFF, 0x80});  // the numbers

  std::vector<std::uint8_t> picture;
  std::uint32_t top = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const TileGrid grid = tile_grid(sizes[i], columns);
    picture.resize(std::size_t{grid.width} * grid.height);
    tiles_to_indices(structures[i], grid, picture.data());
    for (std::uint32_t y = 0; y < grid.height; ++y) {
      std::memcpy(sheet.pixels.data() + std::size_t{top + y} * sheet.width + kSheetGutter,
                  picture.data() + std::size_t{y} * grid.width, grid.width);
    }
    if (grid.height >= kLabelY + 5)
      draw_number(sheet.pixels.data(), sheet.width, kLabelX, top + kLabelY, i, kSheetInk);
    top += grid.height + kSheetGap;
  }
  return sheet;
}

}  // namespace tilvex
