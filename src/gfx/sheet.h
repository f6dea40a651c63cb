// One picture of every structure, one below the other in number order, each
// with its number written in a gutter on its left, for looking the whole set
// over. Its palette is the 16 colours of the structures and two more of its
// own for the gutter and the numbers, so the labels stay readable whatever
// the palette.
#pragma once

#include <cstdint>
#include <vector>

#include "gfx/palette.h"

namespace tilvex {

inline constexpr std::uint32_t kSheetGutter = 16;  // pixels left of the tiles
inline constexpr std::uint32_t kSheetGap = 2;      // pixel rows between structures
inline constexpr std::uint8_t kSheetBackground = 16;
inline constexpr std::uint8_t kSheetInk = 17;
inline constexpr std::uint32_t kSheetColours = 18;

struct Sheet {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;  // one index byte per pixel
  std::vector<Colour> palette;       // kSheetColours entries
};

// structures[i] points at the tiles of structure i, sizes[i] bytes of them.
Sheet render_sheet(const std::uint8_t* const* structures, const std::uint32_t* sizes,
                   std::uint32_t count, std::uint32_t columns, const Palette& palette);

// Writes the number in three hexadecimal digits with the built-in 3 x 5
// pixel font, its top left corner at (x, y).
void draw_number(std::uint8_t* pixels, std::uint32_t stride, std::uint32_t x, std::uint32_t y,
                 std::uint32_t number, std::uint8_t ink);

}  // namespace tilvex
