// The codec entry points: the format number picks the codec, unknown formats
// and a missing image give 0 without touching anything, encoding in place
// equals encoding into a separate buffer, and decoding reads the stream at
// its file offset in the open image.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/codec.h"
#include "demo/demo_cartridge.h"
#include "rom/image.h"
#include "transfer/catalogue.h"
#include "transfer_support.h"

namespace tilvex {
namespace {

using testing::TempDir;

// Plain structures of both compressed kinds from the demo cartridge, with
// their format and second parameter.
struct Sample {
  std::uint32_t index;
  std::uint32_t format;
};
constexpr Sample kSamples[] = {{0x015, kFormat1},
                               {0x0C3, kFormat1},
                               {0x11E, kFormat15},
                               {0x190, kFormat15},
                               {0x194, kFormat15}};

std::uint32_t parameter_for(const Sample& sample) {
  return sample.format == kFormat15 ? structure_sizes[sample.index] >> 9 : 0;
}

TEST(CodecEntry, UnknownFormatsGiveZeroAndWriteNothing) {
  TempDir dir;
  testing::write_file(dir.file("image.bin"), std::vector<std::uint8_t>(0x1000, 0x22));
  ASSERT_TRUE(rom_open(dir.file("image.bin").c_str(), 0, 0));
  const std::vector<std::uint8_t> source(0x800, 0x41);
  for (std::uint32_t format : {0u, 2u, 14u, 16u, 0xFFFFFFFFu}) {
    std::vector<std::uint8_t> destination(0x10000, 0xA5);
    std::uint32_t end = 0x12345678;
    EXPECT_EQ(decompress_block(destination.data(), 0, 0x10000, format, 1, &end), 0u) << format;
    EXPECT_EQ(recompress_block(source.data(), destination.data(), 0x800, 0x10000, format, 4), 0u)
        << format;
    EXPECT_EQ(end, 0x12345678u);
    EXPECT_EQ(destination, std::vector<std::uint8_t>(0x10000, 0xA5)) << format;
  }
  rom_close();
}

TEST(CodecEntry, DecodingNeedsAnOpenImage) {
  rom_close();
  std::vector<std::uint8_t> destination(0x10000, 0xA5);
  EXPECT_EQ(decompress_block(destination.data(), 0x200, 0x10000, kFormat1, 0, nullptr), 0u);
  EXPECT_EQ(decompress_block(destination.data(), 0x200, 0x10000, kFormat15, 8, nullptr), 0u);
  EXPECT_EQ(destination, std::vector<std::uint8_t>(0x10000, 0xA5));
}

TEST(CodecEntry, InPlaceEncodingEqualsSeparateBuffers) {
  for (const Sample& sample : kSamples) {
    const std::vector<std::uint8_t> plain = demo_structure(sample.index, testing::kDemoSeed);
    const auto size = static_cast<std::uint32_t>(plain.size());
    std::vector<std::uint8_t> separate(0x10000, 0);
    const std::uint32_t length = recompress_block(plain.data(), separate.data(), size, 0x10000,
                                                  sample.format, parameter_for(sample));
    ASSERT_GT(length, 0u) << sample.index;
    std::vector<std::uint8_t> in_place(0x10000, 0);
    std::memcpy(in_place.data(), plain.data(), size);
    EXPECT_EQ(recompress_block(in_place.data(), in_place.data(), size, 0x10000, sample.format,
                               parameter_for(sample)),
              length);
    EXPECT_TRUE(std::equal(separate.begin(), separate.begin() + length, in_place.begin()))
        << sample.index;
  }
}

// Each stream is placed at an odd offset of an image of its own and decoded
// from there; a small max size clips only the copy.
TEST(CodecEntry, DecodesTheStreamAtItsFileOffset) {
  for (const Sample& sample : kSamples) {
    const std::vector<std::uint8_t> plain = demo_structure(sample.index, testing::kDemoSeed);
    const auto size = static_cast<std::uint32_t>(plain.size());
    std::vector<std::uint8_t> stream(0x10000);
    const std::uint32_t length = recompress_block(plain.data(), stream.data(), size, 0x10000,
                                                  sample.format, parameter_for(sample));
    ASSERT_GT(length, 0u);
    const std::uint32_t offset = 0x1235;
    std::vector<std::uint8_t> image(offset + length + 0x100, 0x5A);
    std::copy(stream.begin(), stream.begin() + length, image.begin() + offset);
    TempDir dir;
    testing::write_file(dir.file("image.bin"), image);
    ASSERT_TRUE(rom_open(dir.file("image.bin").c_str(), 0, 0));

    std::vector<std::uint8_t> decoded(0x10000, 0xEE);
    std::uint32_t end = 0;
    EXPECT_EQ(decompress_block(decoded.data(), offset, 0x10000, sample.format,
                               parameter_for(sample), &end),
              size);
    EXPECT_EQ(end, offset + length);
    EXPECT_EQ(rom_handle()->position, offset + length);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), decoded.begin())) << sample.index;

    std::vector<std::uint8_t> clipped(0x10000, 0xEE);
    EXPECT_EQ(decompress_block(clipped.data(), offset, 0x40, sample.format, parameter_for(sample),
                               nullptr),
              size);
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 0x40, clipped.begin()));
    EXPECT_EQ(clipped[0x40], 0xEE);
    rom_close();
  }
}

// The image's position ends where reading the stream byte by byte would have
// left it: just past the stream, at the end of the image when the stream runs
// past it, or at the start when that lies past the end already. A malformed
// stream still moves it and reports its end.
TEST(CodecEntry, LeavesTheImagePositionWhereTheStreamEnded) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> image;
    std::uint32_t format, offset, result, end, position;
  };
  // A format 1 stream that runs past the end produces zeros (two stream bytes
  // each) up to the output limit.
  auto zeros_from = [](std::uint32_t output) { return 2 * (0x10000 - output) + 1; };
  const Case cases[] = {
      {"format 1 inside", {0x22, 0x41, 0xFF, 0x00}, kFormat1, 0, 3, 3, 3},
      {"format 1 cut off", {0x02, 0x41, 0x42}, kFormat1, 0, 0x10000, 4 + zeros_from(3), 3},
      {"format 1 past the end", {1, 2, 3, 4}, kFormat1, 100, 0x10000, 100 + zeros_from(0), 100},
      {"format 15 half a header", {0x21, 0x43}, kFormat15, 0, 512, 517, 2},
      {"format 15 past the end", {0x21, 0x43}, kFormat15, 1000, 512, 1517, 1000},
      {"format 15 end wraps", {0x21, 0x43}, kFormat15, 0xFFFFFFFE, 512, 515, 0xFFFFFFFE},
      {"format 15 malformed", {0, 0, 0, 0xF0, 0xFF, 0xFF, 0xA5, 0xA5}, kFormat15, 0, 0, 6, 6},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::write_file(dir.file("image.bin"), c.image);
    ASSERT_TRUE(rom_open(dir.file("image.bin").c_str(), 0, 0));
    rom_handle()->position = 0x1234567;
    std::vector<std::uint8_t> destination(0x10000);
    std::uint32_t end = 0;
    EXPECT_EQ(decompress_block(destination.data(), c.offset, 0x10000, c.format, 1, &end), c.result);
    EXPECT_EQ(end, c.end);
    EXPECT_EQ(rom_handle()->position, c.position);
    rom_close();
  }
}

}  // namespace
}  // namespace tilvex
