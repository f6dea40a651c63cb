// PNG pictures in memory, through libpng: writing indexed pictures, and
// reading any PNG either as palette indices (indexed pictures) or as RGBA.
// Nothing here prints; libpng's own messages come back as the problem text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "gfx/palette.h"

namespace tilvex {

struct PngPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool indexed = false;              // pixels are palette indices, one byte each
  std::vector<std::uint8_t> pixels;  // indexed: width * height indices; else RGBA, 4 bytes each
  std::vector<Colour> palette;       // the PLTE chunk, when there is one
};

// An indexed PNG of the given bit depth (4 or 8) from one index byte per
// pixel, with colours palette entries in its PLTE chunk.
bool encode_indexed_png(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                        int bit_depth, const Colour* palette, std::uint32_t colours,
                        std::vector<std::uint8_t>* png, std::string* problem);

// The width and height in a PNG's header, without decoding anything else.
bool png_dimensions(const std::uint8_t* data, std::size_t size, std::uint32_t* width,
                    std::uint32_t* height);

// Decodes a whole PNG (palette_only: the header and palette only).
bool decode_png(const std::uint8_t* data, std::size_t size, bool palette_only, PngPicture* picture,
                std::string* problem);

inline bool is_png(const std::uint8_t* data, std::size_t size) {
  static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size < 8) return false;
  for (int i = 0; i < 8; ++i)
    if (data[i] != kSignature[i]) return false;
  return true;
}

}  // namespace tilvex
