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

}  // namespace
}  // namespace tilvex
