// The picture side of tilvex-gfx as a library: palette files of every format,
// PNGs of every colour type read back, and pictures turned into tiles or
// refused with the place of the fault.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gfx/palette.h"
#include "gfx/picture.h"
#include "gfx/png_io.h"
#include "test_support.h"

namespace tilvex {
namespace {

using testing::TempDir;

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

// A PNG written by libpng's own simplified writer, as other programs write them.
std::vector<std::uint8_t> foreign_png(std::uint32_t format, std::uint32_t width,
                                      std::uint32_t height, const std::vector<std::uint8_t>& data) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.format = format;
  image.width = width;
  image.height = height;
  png_alloc_size_t size = 0;
  EXPECT_NE(png_image_write_to_memory(&image, nullptr, &size, 0, data.data(), 0, nullptr), 0);
  std::vector<std::uint8_t> png(size);
  EXPECT_NE(png_image_write_to_memory(&image, png.data(), &size, 0, data.data(), 0, nullptr), 0);
  png.resize(size);
  return png;
}

Palette distinct_palette() {
  Palette palette;
  for (std::uint32_t i = 0; i < 16; ++i)
    palette[i] = {static_cast<std::uint8_t>(i * 16 + 1), static_cast<std::uint8_t>(255 - i * 9),
                  static_cast<std::uint8_t>(i * i)};
  return palette;
}

TEST(GfxPalette, ReadsEveryFormatAndRefusesWhatItCannot) {
  // SNES words: 0x001F red, 0x03E0 green, 0x7C00 blue, 0xFFFF white (bit 15 ignored).
  std::vector<std::uint8_t> snes16(32, 0);
  snes16[0] = 0x1F;
  snes16[2] = 0xE0, snes16[3] = 0x03;
  snes16[30] = 0xFF, snes16[31] = 0xFF;
  std::vector<std::uint8_t> snes256(512, 0);
  snes256[3 * 32] = 0x00, snes256[3 * 32 + 1] = 0x7C;  // colour 48, row 3's first
  std::vector<std::uint8_t> raw(48);
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> act(772, 0);
  act[15 * 48 + 45] = 9, act[15 * 48 + 46] = 8, act[15 * 48 + 47] = 7;  // colour 255
  std::vector<std::uint8_t> act_counted = act;
  act_counted[769] = 16;  // only 16 colours used
  std::vector<std::uint8_t> png;
  std::string problem;
  const Palette custom = distinct_palette();
  const std::vector<std::uint8_t> index_pixels(64, 3);
  ASSERT_TRUE(encode_indexed_png(index_pixels.data(), 8, 8, 4, custom.data(), 16, &png, &problem));
  const Colour black{0, 0, 0};
  std::string jasc = "JASC-PAL\r\n0100\r\n16\r\n";
  std::string gimp = "GIMP Palette\nName: test\nColumns: 4\n# comment\n";
  for (int i = 0; i < 16; ++i) {
    jasc += std::to_string(i) + " " + std::to_string(2 * i) + " " + std::to_string(3 * i) + "\r\n";
    gimp += std::to_string(i) + "\t" + std::to_string(200 - i) + " 7 Colour " + std::to_string(i) +
            "\n";
  }

  struct Case {
    const char* name;
    std::vector<std::uint8_t> content;
    std::uint32_t row;
    Colour first, last;   // colours 0 and 15 of the row
    const char* refusal;  // a part of the problem, or null
  } cases[] = {
      {"snes16", snes16, 0, {255, 0, 0}, {255, 255, 255}, nullptr},
      {"snes256", snes256, 3, {0, 0, 255}, black, nullptr},
      {"jasc", bytes_of(jasc), 0, {0, 0, 0}, {15, 30, 45}, nullptr},
      {"gimp", bytes_of(gimp), 0, {0, 200, 7}, {15, 185, 7}, nullptr},
      {"raw", raw, 0, {0, 1, 2}, {45, 46, 47}, nullptr},
      {"act", act, 15, black, {9, 8, 7}, nullptr},
      {"act row past its count", act_counted, 1, {}, {}, "has 16 colours; row 1 needs"},
      {"png", png, 0, custom[0], custom[15], nullptr},
      {"snes16 row 1", snes16, 1, {}, {}, "has 16 colours; row 1 needs colours 16 to 31"},
      {"unknown", std::vector<std::uint8_t>(100, 1), 0, {}, {}, "not a palette"},
      {"jasc short",
       bytes_of("JASC-PAL\n0100\n16\n1 2 3\n"),
       0,
       {},
       {},
       "JASC-PAL palette without"},
      {"gimp bad", bytes_of("GIMP Palette\nName: x\n1 2\n"), 0, {}, {}, "GIMP palette line 3"},
      {"png without palette",
       foreign_png(PNG_FORMAT_RGB, 1, 1, {1, 2, 3}),
       0,
       {},
       {},
       "PNG without a palette"},
  };

  TempDir dir;
  const auto check = [&](const Case& c) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(c.name);
    testing::write_file(path, c.content);
    Palette palette;
    std::string why;
    const bool loaded = load_palette(path, c.row, &palette, &why);
    if (c.refusal != nullptr) {
      EXPECT_FALSE(loaded);
      EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
      EXPECT_NE(why.find(path), std::string::npos) << why;
      return;
    }
    ASSERT_TRUE(loaded) << why;
    EXPECT_EQ(palette[0], c.first);
    EXPECT_EQ(palette[15], c.last);
  };
  for (const Case& c : cases) check(c);
  Palette palette;
  EXPECT_FALSE(load_palette(dir.file("missing"), 0, &palette, &problem));
  EXPECT_NE(problem.find("cannot read palette"), std::string::npos);
}

TEST(GfxPicture, ReadsPngsOfEveryColourTypeAsTheirColours) {
  // 2 x 1 pixels: grey 0x11 / 0xEE; RGB and RGBA with a transparent pixel.
  struct Case {
    std::uint32_t format;
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> rgba;
  } cases[] = {
      {PNG_FORMAT_GRAY, {0x11, 0xEE}, {0x11, 0x11, 0x11, 255, 0xEE, 0xEE, 0xEE, 255}},
      {PNG_FORMAT_GA, {0x22, 255, 0x33, 0}, {0x22, 0x22, 0x22, 255, 0x33, 0x33, 0x33, 0}},
      {PNG_FORMAT_RGB, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 255, 4, 5, 6, 255}},
      {PNG_FORMAT_RGBA, {1, 2, 3, 255, 4, 5, 6, 0}, {1, 2, 3, 255, 4, 5, 6, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const std::vector<std::uint8_t> png = foreign_png(c.format, 2, 1, c.data);
    PngPicture picture;
    std::string problem;
    ASSERT_TRUE(decode_png(png.data(), png.size(), false, &picture, &problem)) << problem;
    EXPECT_FALSE(picture.indexed);
    EXPECT_EQ(picture.pixels, c.rgba);
  }
  PngPicture picture;
  std::string problem;
  std::vector<std::uint8_t> truncated = foreign_png(PNG_FORMAT_RGB, 2, 1, cases[2].data);
  truncated.resize(truncated.size() - 20);
  EXPECT_FALSE(decode_png(truncated.data(), truncated.size(), false, &picture, &problem));
  EXPECT_FALSE(decode_png(truncated.data(), 10, false, &picture, &problem));
}

TEST(GfxPicture, TurnsPicturesIntoTilesOrSaysWhereTheyAreWrong) {
  const Palette palette = distinct_palette();
  // A structure of 24 tiles: at 16 columns the second tile row ends in 8
  // tiles of padding.
  constexpr std::uint32_t kBytes = 24 * 32;
  std::vector<std::uint8_t> tiles(kBytes);
  for (std::uint32_t i = 0; i < kBytes; ++i) tiles[i] = static_cast<std::uint8_t>(i * 37 + 5);

  auto indexed = [&](std::uint32_t columns) {
    const TileGrid grid = tile_grid(kBytes, columns);
    PngPicture picture;
    picture.width = grid.width;
    picture.height = grid.height;
    picture.indexed = true;
    picture.pixels.resize(std::size_t{grid.width} * grid.height);
    tiles_to_indices(tiles.data(), grid, picture.pixels.data());
    return picture;
  };
  auto rgba = [&](const PngPicture& from) {
    PngPicture picture = from;
    picture.indexed = false;
    picture.pixels.clear();
    for (std::uint8_t index : from.pixels) {
      const Colour c = palette[index];
      picture.pixels.insert(picture.pixels.end(), {c.r, c.g, c.b, 255});
    }
    return picture;
  };
  for (std::uint32_t columns : {1u, 5u, 16u, 24u, 256u}) {
    SCOPED_TRACE(columns);
    for (const PngPicture& picture : {indexed(columns), rgba(indexed(columns))}) {
      std::vector<std::uint8_t> back(kBytes);
      std::string problem;
      ASSERT_TRUE(picture_to_tiles(picture, palette, kBytes, back.data(), &problem)) << problem;
      EXPECT_EQ(back, tiles);
    }
  }

  // Pixel (9, 3) lies in tile 1; (130 - 128 = 2, 9) in tile 16; (8 * 9, 8) is
  // padding, past tile 23.
  auto set_index = [](PngPicture p, std::uint32_t x, std::uint32_t y, std::uint8_t v) {
    p.pixels[std::size_t{y} * p.width + x] = v;
    return p;
  };
  auto set_rgba = [](PngPicture p, std::uint32_t x, std::uint32_t y, Colour c, std::uint8_t a) {
    std::uint8_t* at = p.pixels.data() + (std::size_t{y} * p.width + x) * 4;
    at[0] = c.r, at[1] = c.g, at[2] = c.b, at[3] = a;
    return p;
  };
  Palette twice = palette;
  twice[7] = twice[2];
  const PngPicture plain = indexed(16);
  PngPicture blank = plain;
  std::fill(blank.pixels.begin(), blank.pixels.end(), 0);
  PngPicture short_one = plain;
  short_one.height = 8;
  PngPicture odd_width = plain;
  odd_width.width = 130;
  struct Refusal {
    PngPicture picture;
    const Palette* palette;
    const char* message;
  } refusals[] = {
      {set_index(plain, 9, 3, 16), &palette,
       "pixel (9, 3), tile 1 (byte 0x20): colour index 16 is over 15"},
      {set_index(plain, 72, 8, 1), &palette,
       "pixel (72, 8), past the last tile 23: colour index 1"},
      {set_rgba(rgba(plain), 2, 9, {1, 2, 3}, 255), &palette,
       "pixel (2, 9), tile 16 (byte 0x200): colour #010203 is not in the palette"},
      {rgba(set_index(blank, 2, 9, 2)), &twice,
       "pixel (2, 9), tile 16 (byte 0x200): colour #21ED04 stands for both index 2 and index 7"},
      {short_one, &palette, "size 128x8 is not the structure's: its 24 tiles make 128x16"},
      {odd_width, &palette, "size 130x16 is not"},
  };
  for (const Refusal& r : refusals) {
    std::vector<std::uint8_t> back(kBytes);
    std::string problem;
    EXPECT_FALSE(picture_to_tiles(r.picture, *r.palette, kBytes, back.data(), &problem));
    EXPECT_NE(problem.find(r.message), std::string::npos) << problem;
  }
  // A fully transparent pixel is colour 0 whatever its colour values.
  std::vector<std::uint8_t> back(kBytes);
  std::string problem;
  PngPicture clear = set_rgba(rgba(set_index(plain, 0, 0, 0)), 0, 0, {9, 9, 9}, 0);
  ASSERT_TRUE(picture_to_tiles(clear, palette, kBytes, back.data(), &problem)) << problem;
  std::vector<std::uint8_t> expected(kBytes);
  ASSERT_TRUE(
      picture_to_tiles(set_index(plain, 0, 0, 0), palette, kBytes, expected.data(), &problem));
  EXPECT_EQ(back, expected);
}

}  // namespace
}  // namespace tilvex
