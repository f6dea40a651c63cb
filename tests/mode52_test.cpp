// Pixel conversion mode 52 between tiles and the packed bitmap layout.
#include "pixel/mode52.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace tilvex {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes random_bytes(std::size_t length, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(length);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

// How many bytes of bitmap a count of tiles takes: the tiles fill four
// quarters of count / 4 tiles (a leftover tile is not converted), and each
// 16 tiles of a quarter take a band of 8 rows of 256 bytes, started bands
// counted whole.
struct Extent {
  std::uint32_t count;
  std::size_t bitmap;
};
constexpr Extent kExtents[] = {{1, 0},      {3, 0},      {4, 2048},   {5, 2048},    {7, 2048},
                               {64, 2048},  {65, 2048},  {67, 2048},  {68, 4096},   {99, 4096},
                               {100, 4096}, {128, 4096}, {256, 8192}, {768, 24576}, {1024, 32768}};

std::size_t bitmap_length(std::uint32_t count) {
  for (const Extent& e : kExtents) {
    if (e.count == count) return e.bitmap;
  }
  ADD_FAILURE() << "no bitmap extent listed for " << count << " tiles";
  return 0;
}

// Pixel by pixel from the placement rule, to check the word-wise conversion.
Bytes reference_to_cartridge(const Bytes& tiles, std::uint32_t count, Bytes bitmap) {
  const std::uint32_t n = count >> 2;
  for (std::uint32_t q = 0; q < 4; ++q) {
    for (std::uint32_t k = 0; k < n; ++k) {
      const std::uint8_t* tile = &tiles[32 * (q * n + k)];
      for (std::uint32_t r = 0; r < 8; ++r) {
        for (std::uint32_t x = 0; x < 8; ++x) {
          const int bit = 7 - static_cast<int>(x);
          const std::uint8_t pixel = static_cast<std::uint8_t>(
              ((tile[2 * r] >> bit) & 1) | ((tile[2 * r + 1] >> bit) & 1) << 1 |
              ((tile[16 + 2 * r] >> bit) & 1) << 2 | ((tile[17 + 2 * r] >> bit) & 1) << 3);
          std::uint8_t& out = bitmap[(8 * (k >> 4) + r) * 256 + 8 * (k & 15) + x + (q & 1) * 128];
          out = q < 2 ? pixel : static_cast<std::uint8_t>(out | pixel << 4);
        }
      }
    }
  }
  return bitmap;
}

TEST(Mode52, MatchesThePlacementRule) {
  for (std::uint32_t count : {4u, 5u, 7u, 64u, 68u, 100u, 256u, 1024u}) {
    SCOPED_TRACE(count);
    const Bytes tiles = random_bytes(32 * count, count);
    const Bytes background = random_bytes(bitmap_length(count), count + 1);
    Bytes bitmap = background;  // bytes no tile covers must stay as they were
    ASSERT_TRUE(tiles_to_cartridge(tiles.data(), bitmap.data(), count, kConversionMode52));
    EXPECT_EQ(bitmap, reference_to_cartridge(tiles, count, background));
  }
}

TEST(Mode52, ConversionsAreInversesForWholeTileRows) {
  for (std::uint32_t count : {64u, 128u, 256u, 512u, 768u, 1024u}) {
    SCOPED_TRACE(count);
    const std::size_t length = 32 * count;
    const Bytes tiles = random_bytes(length, count);
    Bytes bitmap(length), back(length);
    ASSERT_TRUE(tiles_to_cartridge(tiles.data(), bitmap.data(), count, kConversionMode52));
    ASSERT_TRUE(tiles_from_cartridge(bitmap.data(), back.data(), count, kConversionMode52));
    EXPECT_EQ(back, tiles);

    const Bytes packed = random_bytes(length, count + 7);
    ASSERT_TRUE(tiles_from_cartridge(packed.data(), back.data(), count, kConversionMode52));
    ASSERT_TRUE(tiles_to_cartridge(back.data(), bitmap.data(), count, kConversionMode52));
    EXPECT_EQ(bitmap, packed);
  }
}

TEST(Mode52, LeftoverTilesComeBackAsZero) {
  for (std::uint32_t count : {1u, 3u, 65u, 67u, 99u}) {
    SCOPED_TRACE(count);
    const std::uint32_t converted = (count >> 2) * 4;
    const Bytes tiles = random_bytes(32 * count, count);
    Bytes bitmap(bitmap_length(count) + 1);
    Bytes back(32 * count, 0xEE);
    ASSERT_TRUE(tiles_to_cartridge(tiles.data(), bitmap.data(), count, kConversionMode52));
    ASSERT_TRUE(tiles_from_cartridge(bitmap.data(), back.data(), count, kConversionMode52));
    EXPECT_TRUE(std::equal(tiles.begin(), tiles.begin() + 32 * converted, back.begin()));
    EXPECT_TRUE(
        std::all_of(back.begin() + 32 * converted, back.end(), [](auto b) { return b == 0; }));
  }
  // Count 0 converts nothing and touches nothing.
  std::uint8_t a = 0x11, b = 0x22;
  EXPECT_TRUE(tiles_to_cartridge(&a, &b, 0, kConversionMode52));
  EXPECT_TRUE(tiles_from_cartridge(&a, &b, 0, kConversionMode52));
  EXPECT_EQ(a, 0x11);
  EXPECT_EQ(b, 0x22);
}

TEST(Mode52, WherePixelsLand) {
  // With count 64: (tile, row, column) -> bitmap byte and nibble.
  struct Case {
    std::uint32_t tile, row, column, byte;
    bool high;
  };
  const Case cases[] = {{0, 0, 0, 0, false},   {16, 0, 0, 128, false}, {32, 0, 0, 0, true},
                        {48, 0, 0, 128, true}, {1, 1, 7, 271, false},  {15, 7, 7, 1919, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tile);
    Bytes tiles(32 * 64, 0), bitmap(32 * 64, 0);
    tiles[32 * c.tile + 2 * c.row] = static_cast<std::uint8_t>(0x80 >> c.column);       // plane 0
    tiles[32 * c.tile + 17 + 2 * c.row] = static_cast<std::uint8_t>(0x80 >> c.column);  // plane 3
    ASSERT_TRUE(tiles_to_cartridge(tiles.data(), bitmap.data(), 64, kConversionMode52));
    for (std::size_t i = 0; i < bitmap.size(); ++i) {
      ASSERT_EQ(bitmap[i], i == c.byte ? (c.high ? 0x90 : 0x09) : 0) << i;
    }
  }
  Bytes tiles(32 * 64, 0), bitmap(32 * 64, 0xFF);
  tiles[0] = 0x80;   // plane 0, row 0
  tiles[16] = 0x80;  // plane 2, row 0
  ASSERT_TRUE(tiles_to_cartridge(tiles.data(), bitmap.data(), 64, kConversionMode52));
  EXPECT_EQ(bitmap[0], 0x05);
}

// Tiles and bitmap in one buffer, side by side: touching is fine, one byte
// of overlap is refused, in both directions and in both orders.
TEST(Mode52, BuffersMayTouchButNotOverlap) {
  for (const Extent& e : kExtents) {
    SCOPED_TRACE(e.count);
    const std::size_t tiles = std::size_t{32} * e.count;
    Bytes buffer = random_bytes(tiles + e.bitmap, e.count);
    std::uint8_t* base = buffer.data();
    // Tiles first, then the bitmap.
    EXPECT_TRUE(tiles_to_cartridge(base, base + tiles, e.count, kConversionMode52));
    EXPECT_TRUE(tiles_from_cartridge(base + tiles, base, e.count, kConversionMode52));
    EXPECT_FALSE(tiles_to_cartridge(base, base + tiles - 1, e.count, kConversionMode52));
    EXPECT_FALSE(tiles_from_cartridge(base + tiles - 1, base, e.count, kConversionMode52));
    if (e.bitmap == 0) continue;
    // The bitmap first, then the tiles.
    EXPECT_TRUE(tiles_to_cartridge(base + e.bitmap, base, e.count, kConversionMode52));
    EXPECT_TRUE(tiles_from_cartridge(base, base + e.bitmap, e.count, kConversionMode52));
    EXPECT_FALSE(tiles_to_cartridge(base + e.bitmap - 1, base, e.count, kConversionMode52));
    EXPECT_FALSE(tiles_from_cartridge(base, base + e.bitmap - 1, e.count, kConversionMode52));
  }
}

TEST(Mode52, Refusals) {
  Bytes buffer(0x10000, 0x5A);
  const Bytes before = buffer;
  std::uint8_t* low = buffer.data();
  std::uint8_t* high = buffer.data() + 0x8000;
  for (auto convert : {&tiles_to_cartridge, &tiles_from_cartridge}) {
    EXPECT_FALSE(convert(nullptr, high, 64, kConversionMode52));
    EXPECT_FALSE(convert(low, nullptr, 64, kConversionMode52));
    EXPECT_FALSE(convert(low, low, 64, kConversionMode52));
    EXPECT_FALSE(convert(low, high, 64, 51));
    EXPECT_FALSE(convert(low, low + 0x100, 64, kConversionMode52));  // overlapping
    EXPECT_FALSE(convert(low, low, 0, kConversionMode52));
  }
  EXPECT_EQ(buffer, before);
  EXPECT_TRUE(tiles_to_cartridge(low, high, 1024, kConversionMode52));  // the callers' halves
}

}  // namespace
}  // namespace tilvex
