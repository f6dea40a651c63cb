// The 16 colours a picture of 4-bit tiles is shown in: the built-in grey
// ramp, or 16 colours taken from a palette file of one of the common formats.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tilvex {

struct Colour {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Colour&, const Colour&) = default;
};

inline constexpr std::uint32_t kPaletteColours = 16;
using Palette = std::array<Colour, kPaletteColours>;

// Index 0 black, 15 white, evenly spaced between.
Palette grey_palette();

// The palette file formats, told apart by their content.
enum class PaletteFormat {
  Snes,     // 15-bit BGR, two bytes a colour, low byte first: 32 bytes (16) or 512 (256)
  JascPal,  // "JASC-PAL" text
  Gimp,     // "GIMP Palette" text
  Act,      // 256 RGB triplets and a 4-byte trailer (count, transparent index), 772 bytes
  RawRgb,   // RGB triplets, 1 to 256 of them; also the 768-byte form of the previous
  Png,      // the palette of an indexed PNG
};

// All colours of a palette file's content. Fails with a one-line problem
// (without the file name) when the content is no palette this reads.
bool parse_palette(const std::uint8_t* bytes, std::size_t size, std::vector<Colour>* colours,
                   PaletteFormat* format, std::string* problem);

// Colours 16 row to 16 row + 15 of the palette file at path. Fails with a
// one-line problem naming the file.
bool load_palette(const std::string& path, std::uint32_t row, Palette* palette,
                  std::string* problem);

// A colour of a SNES colour word (bits 0-4 red, 5-9 green, 10-14 blue).
inline Colour snes_colour(std::uint32_t word) {
  auto widen = [](std::uint32_t five) {
    return static_cast<std::uint8_t>((five << 3) | (five >> 2));
  };
  return {widen(word & 31), widen((word >> 5) & 31), widen((word >> 10) & 31)};
}

}  // namespace tilvex
