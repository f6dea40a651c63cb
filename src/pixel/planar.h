// The SNES 4-bits-per-pixel planar tile, packed and unpacked in one place.
//
// A tile is 8 x 8 pixels in 32 bytes: byte 2r holds bit plane 0 of pixel row
// r, byte 2r + 1 plane 1, byte 16 + 2r plane 2 and byte 17 + 2r plane 3. In a
// plane byte bit 7 is the leftmost pixel. Every conversion in the program
// (the bitmap layout, both format 15 directions, the demo art, the PNG
// companion) goes through these functions.
//
// One pixel row travels as a 64-bit word, byte x holding the colour of column
// x: unpacking spreads each plane byte over the eight bytes with a table,
// packing gathers bit k of each byte with one multiplication, so a row costs a
// handful of operations instead of 32 bit tests. A whole picture is packed
// with SSE2 where the target has it, two tiles' rows per 16-byte load.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tilvex {

inline constexpr std::uint32_t kTileBytes = 32;
inline constexpr std::uint32_t kTileSide = 8;

namespace planar_detail {

constexpr std::array<std::uint64_t, 256> make_spread() {
  std::array<std::uint64_t, 256> table{};
  for (std::uint32_t value = 0; value < 256; ++value) {
    for (std::uint32_t x = 0; x < 8; ++x) {
      table[value] |= std::uint64_t{(value >> (7 - x)) & 1} << (8 * x);
    }
  }
  return table;
}
// Byte x of kSpread[b] is bit 7 - x of b.
inline constexpr std::array<std::uint64_t, 256> kSpread = make_spread();

// Bit k of each byte x of word, as bit 7 - x of one byte. The multiplier moves
// bit 8x to bit 63 - x; no two partial products share a bit, so nothing
// carries into the top byte.
inline std::uint8_t gather_plane(std::uint64_t word, unsigned k) {
  return static_cast<std::uint8_t>(
      (((word >> k) & 0x0101010101010101ull) * 0x8040201008040201ull) >> 56);
}

}  // namespace planar_detail

// The colours of pixel row r (0 to 7) of a tile, column x in byte x.
inline std::uint64_t unpack_tile_row(const std::uint8_t* tile, std::uint32_t r) {
  using planar_detail::kSpread;
  return kSpread[tile[2 * r]] | kSpread[tile[2 * r + 1]] << 1 | kSpread[tile[16 + 2 * r]] << 2 |
         kSpread[tile[17 + 2 * r]] << 3;
}

// Stores pixel row r of a tile from a word as unpack_tile_row gives it. Only
// the low four bits of each byte count.
inline void pack_tile_row(std::uint8_t* tile, std::uint32_t r, std::uint64_t pixels) {
  using planar_detail::gather_plane;
  tile[2 * r] = gather_plane(pixels, 0);
  tile[2 * r + 1] = gather_plane(pixels, 1);
  tile[16 + 2 * r] = gather_plane(pixels, 2);
  tile[17 + 2 * r] = gather_plane(pixels, 3);
}

// Eight pixels, one byte each, as a row word (leftmost in the low byte), and back.
inline std::uint64_t load_pixel_row(const std::uint8_t* pixels) {
  std::uint64_t word = 0;
  for (unsigned x = 0; x < 8; ++x) word |= std::uint64_t{pixels[x]} << (8 * x);
  return word;
}
inline void store_pixel_row(std::uint8_t* pixels, std::uint64_t word) {
  for (unsigned x = 0; x < 8; ++x) pixels[x] = static_cast<std::uint8_t>(word >> (8 * x));
}

// A whole tile from or into a picture of one byte per pixel whose rows lie
// stride bytes apart; pixels points at the tile's top left pixel.
inline void unpack_tile(const std::uint8_t* tile, std::uint8_t* pixels, std::size_t stride) {
  for (std::uint32_t r = 0; r < kTileSide; ++r)
    store_pixel_row(pixels + r * stride, unpack_tile_row(tile, r));
}
inline void pack_tile(const std::uint8_t* pixels, std::size_t stride, std::uint8_t* tile) {
  for (std::uint32_t r = 0; r < kTileSide; ++r)
    pack_tile_row(tile, r, load_pixel_row(pixels + r * stride));
}

// The tiles laid out 16 to a band of 8 pixel rows, as the graphics files and
// the format 15 pictures hold them, to and from a picture 128 pixels wide.
inline constexpr std::uint32_t kBandTiles = 16;
inline constexpr std::uint32_t kBandWidth = kBandTiles * kTileSide;  // 128 pixels

inline void tiles_to_picture(const std::uint8_t* tiles, std::uint32_t pixel_rows,
                             std::uint8_t* picture) {
  for (std::uint32_t y = 0; y < pixel_rows; ++y) {
    const std::uint8_t* band = tiles + std::size_t{y >> 3} * kBandTiles * kTileBytes;
    for (std::uint32_t column = 0; column < kBandTiles; ++column) {
      store_pixel_row(picture + std::size_t{y} * kBandWidth + column * kTileSide,
                      unpack_tile_row(band + column * kTileBytes, y & 7));
    }
  }
}
inline void picture_to_tiles(const std::uint8_t* picture, std::uint32_t pixel_rows,
                             std::uint8_t* tiles) {
  for (std::uint32_t y = 0; y < pixel_rows; ++y) {
    std::uint8_t* band = tiles + std::size_t{y >> 3} * kBandTiles * kTileBytes;
    const std::uint8_t* pixels = picture + std::size_t{y} * kBandWidth;
    const std::uint32_t r = y & 7;
#if defined(__SSE2__)
    // Two tiles at a time. With the 16 pixels in reverse order, byte j
    // holding pixel 15 - j, the top bits of the bytes after a shift left by
    // 7 - k are bit k of the pixels in plane byte order: the high byte of the
    // mask belongs to the left tile, the low byte to the right one. (The
    // shift works on 16-bit lanes; what the high byte of a lane takes in from
    // the low byte stays below its top bit.)
    for (std::uint32_t column = 0; column < kBandTiles; column += 2) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + column * kTileSide));
      v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
      v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
      v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
      v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
      const auto p0 = static_cast<unsigned>(_mm_movemask_epi8(_mm_slli_epi16(v, 7)));
      const auto p1 = static_cast<unsigned>(_mm_movemask_epi8(_mm_slli_epi16(v, 6)));
      const auto p2 = static_cast<unsigned>(_mm_movemask_epi8(_mm_slli_epi16(v, 5)));
      const auto p3 = static_cast<unsigned>(_mm_movemask_epi8(_mm_slli_epi16(v, 4)));
      std::uint8_t* left = band + column * kTileBytes;
      std::uint8_t* right = left + kTileBytes;
      left[2 * r] = static_cast<std::uint8_t>(p0 >> 8);
      left[2 * r + 1] = static_cast<std::uint8_t>(p1 >> 8);
      left[16 + 2 * r] = static_cast<std::uint8_t>(p2 >> 8);
      left[17 + 2 * r] = static_cast<std::uint8_t>(p3 >> 8);
      right[2 * r] = static_cast<std::uint8_t>(p0);
      right[2 * r + 1] = static_cast<std::uint8_t>(p1);
      right[16 + 2 * r] = static_cast<std::uint8_t>(p2);
      right[17 + 2 * r] = static_cast<std::uint8_t>(p3);
    }
#else
    for (std::uint32_t column = 0; column < kBandTiles; ++column) {
      pack_tile_row(band + column * kTileBytes, r, load_pixel_row(pixels + column * kTileSide));
    }
#endif
  }
}

}  // namespace tilvex
