// Pixel conversion mode 52.
//
// The bitmap side is rows of 256 bytes, each byte two 4-bit pixels: the low
// nibble from the tiles of quarters 0 (left 128 bytes) and 1 (right 128 bytes),
// the high nibble from quarters 2 (left) and 3 (right). Within a quarter, tiles
// go 16 to a tile row. So one 8-byte run of a bitmap row is exactly one pixel
// row of two tiles, a low-nibble tile and the high-nibble tile n tiles later
// in quarter order; both conversions work on such runs as 64-bit words, one
// byte per pixel, instead of pixel by pixel.
//
// The tile rows themselves are packed and unpacked by pixel/planar.h.
#include "pixel/mode52.h"

#include <cstddef>
#include <cstring>

#include "pixel/planar.h"

namespace tilvex {

namespace {

constexpr std::uint64_t kByteLowNibbles = 0x0F0F0F0F0F0F0F0Full;

// Byte offset in the bitmap of pixel row r of the k-th tile of a quarter in the
// left (half 0) or right (half 1) half.
inline std::size_t bitmap_offset(std::size_t k, std::size_t r, std::size_t half) {
  return (8 * (k >> 4) + r) * 256 + 8 * (k & 15) + 128 * half;
}

std::uint64_t tile_bytes(std::uint32_t count) { return std::uint64_t{count} * 32; }

std::uint64_t bitmap_bytes(std::uint32_t count) {
  const std::uint64_t n = count >> 2;
  return (n + 15) / 16 * 2048;
}

bool refused(const std::uint8_t* source, std::uint64_t source_length,
             const std::uint8_t* destination, std::uint64_t destination_length,
             std::uint32_t mode) {
  if (mode != kConversionMode52) return true;
  if (source == nullptr || destination == nullptr || source == destination) return true;
  const auto s = reinterpret_cast<std::uintptr_t>(source);
  const auto d = reinterpret_cast<std::uintptr_t>(destination);
  return s < d + destination_length && d < s + source_length;  // overlapping buffers
}

}  // namespace

bool tiles_to_cartridge(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t count,
                        std::uint32_t mode) {
  if (refused(source, tile_bytes(count), destination, bitmap_bytes(count), mode)) return false;
  const std::uint32_t n = count >> 2;
  for (std::uint32_t half = 0; half < 2; ++half) {
    const std::uint8_t* low_tiles = source + std::size_t{32} * half * n;
    const std::uint8_t* high_tiles = source + std::size_t{32} * (half + 2) * n;
    for (std::uint32_t k = 0; k < n; ++k) {
      const std::uint8_t* low = low_tiles + std::size_t{32} * k;
      const std::uint8_t* high = high_tiles + std::size_t{32} * k;
      for (std::uint32_t r = 0; r < 8; ++r) {
        store_pixel_row(destination + bitmap_offset(k, r, half),
                        unpack_tile_row(low, r) | unpack_tile_row(high, r) << 4);
      }
    }
  }
  return true;
}

bool tiles_from_cartridge(const std::uint8_t* source, std::uint8_t* destination,
                          std::uint32_t count, std::uint32_t mode) {
  if (refused(source, bitmap_bytes(count), destination, tile_bytes(count), mode)) return false;
  std::memset(destination, 0, static_cast<std::size_t>(tile_bytes(count)));
  const std::uint32_t n = count >> 2;
  for (std::uint32_t half = 0; half < 2; ++half) {
    std::uint8_t* low_tiles = destination + std::size_t{32} * half * n;
    std::uint8_t* high_tiles = destination + std::size_t{32} * (half + 2) * n;
    for (std::uint32_t k = 0; k < n; ++k) {
      std::uint8_t* low = low_tiles + std::size_t{32} * k;
      std::uint8_t* high = high_tiles + std::size_t{32} * k;
      for (std::uint32_t r = 0; r < 8; ++r) {
        const std::uint64_t pixels = load_pixel_row(source + bitmap_offset(k, r, half));
        pack_tile_row(low, r, pixels & kByteLowNibbles);
        pack_tile_row(high, r, (pixels >> 4) & kByteLowNibbles);
      }
    }
  }
  return true;
}

}  // namespace tilvex
