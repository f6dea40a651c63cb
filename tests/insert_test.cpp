// Insertion into the demo cartridge image, through the functions: the
// structures go back in, the pointer table follows them, the rest of the free
// region is erased, the room checks hold at their exact limits, and short or
// unreadable inputs bring out their messages.
#include "transfer/insert.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "demo/demo_cartridge.h"
#include "rom/address.h"
#include "rom/image.h"
#include "transfer/catalogue.h"
#include "transfer/extract.h"
#include "transfer_support.h"

namespace tilvex {
namespace {

namespace fs = std::filesystem;
using testing::captured;
using testing::hex;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kStart = free_region_start;
constexpr std::uint32_t kEnd = free_region_end;

Bytes random_bytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(count);
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

class Insertion : public ::testing::Test {
 protected:
  void SetUp() override {
    cartridge_ = dir_.file("demo.smc");
    graphics_ = dir_.file("AllGFX.bin");
    write_file(cartridge_, testing::demo_cartridge(cartridge_size_));
    write_file(graphics_, testing::demo_combined_file());
  }
  void TearDown() override { rom_close(); }

  // Opens the cartridge file afresh and inserts the combined file from start;
  // 1 on success. The ending address goes to ending_.
  int insert(std::uint32_t start, std::uint32_t mode, std::string* output) {
    return insert_from(graphics_.c_str(), start, mode, output);
  }

  // The same from a graphics file, or, when it is null, from per-structure
  // files in the working directory.
  int insert_from(const char* graphics, std::uint32_t start, std::uint32_t mode,
                  std::string* output) {
    EXPECT_TRUE(testing::open_image(cartridge_, true));
    const InsertRequest request{graphics, start, cartridge_size_, mode};
    InsertResult result;
    *output = captured([&](std::FILE* out) { result = insert_all(request, out); });
    ending_ = result.ending;
    return result.inserted ? 1 : 0;
  }

  // The combined file that extraction makes of the image as it stands.
  Bytes extract_image() {
    int result = 0;
    const std::string output = captured([&](std::FILE* out) {
      result = extract_all(dir_.file("again.bin").c_str(), cartridge_.c_str(), out);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(output, "");
    return read_file(dir_.file("again.bin"));
  }

  // Bytes the demo cartridge's structures take in their cartridge forms.
  std::uint32_t stored_total() {
    std::string output;
    EXPECT_EQ(insert(kStart, 0x11, &output), 1);
    rom_close();
    return ending_ - kStart;
  }

  struct RoomCase {
    std::uint32_t start;
    int result;
    std::string message;       // for a failure
    std::uint32_t ending = 0;  // for a success
    bool erases = false;       // the rest of the free region, from the ending on, becomes 0xFF
  };

  // Inserts from each start into a fresh image. A success must end where
  // expected and change nothing outside the structures, the pointer table and
  // the erased rest of the free region; a failure keeps the start address,
  // and one at the first structure leaves the image untouched.
  void expect_room_cases(const std::vector<RoomCase>& cases) {
    const Bytes& original = testing::demo_cartridge(cartridge_size_);
    const std::uint32_t table_end = kPointerTableOffset + 3 * kStructureCount;
    for (const RoomCase& c : cases) {
      std::string output;
      EXPECT_EQ(insert(c.start, 1, &output), c.result) << hex(c.start, 8);
      EXPECT_EQ(output, c.message) << hex(c.start, 8);
      const Bytes image = testing::image_bytes();
      if (c.result == 1) {
        EXPECT_EQ(ending_, c.ending) << hex(c.start, 8);
        if (c.erases) {
          ASSERT_NE(original[c.ending], 0xFF) << "an erase must show";
        }
        for (std::uint32_t o = 0; o < image.size(); ++o) {
          if ((o >= c.start && o < c.ending) || (o >= kPointerTableOffset && o < table_end)) {
            continue;
          }
          const bool erased = c.erases && o >= c.ending && o < kEnd;
          ASSERT_EQ(image[o], erased ? 0xFF : original[o])
              << hex(c.start, 8) << " at " << hex(o, 6);
        }
      } else {
        EXPECT_EQ(ending_, c.start);
        if (c.message.find("0x000") != std::string::npos) {
          EXPECT_TRUE(image == original) << hex(c.start, 8);
        }
      }
      rom_close();
    }
  }

  std::uint32_t cartridge_size_ = kMinimumCartridgeSize;
  std::uint32_t ending_ = 0;
  TempDir dir_;
  std::string cartridge_;
  std::string graphics_;
};

TEST_F(Insertion, RoundTripAtTheFreeRegionErasesItsRest) {
  const Bytes& original = testing::demo_cartridge();
  std::string output;
  ASSERT_EQ(insert(kStart, 1, &output), 1);
  EXPECT_EQ(output, "");
  const std::uint32_t ending = ending_;
  ASSERT_GT(ending, kStart);
  ASSERT_LT(ending, kEnd);

  const Bytes image = testing::image_bytes();
  // Packed from the start on in index order, every pointer into the free
  // region's banks.
  EXPECT_EQ(testing::pointer_target(image, 0), kStart);
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    const std::uint32_t next =
        i + 1 < kStructureCount ? testing::pointer_target(image, i + 1) : ending;
    ASSERT_LT(testing::pointer_target(image, i), next) << hex(i, 3);
    const std::uint8_t bank = image[kPointerTableOffset + 3 * i + 2];
    EXPECT_TRUE(bank >= 0x52 && bank <= 0x5F) << hex(i, 3);
  }
  // 0xFF from the ending address up to the end of the free region, nothing else
  // touched but the pointer table.
  for (std::uint32_t o = ending; o < kEnd; ++o) ASSERT_EQ(image[o], 0xFF) << hex(o, 6);
  const std::uint32_t table_end = kPointerTableOffset + 3 * kStructureCount;
  for (std::uint32_t o = 0; o < kStart; ++o) {
    if (o >= kPointerTableOffset && o < table_end) continue;
    ASSERT_EQ(image[o], original[o]) << hex(o, 6);
  }
  EXPECT_TRUE(std::equal(image.begin() + kEnd, image.end(), original.begin() + kEnd));

  EXPECT_TRUE(extract_image() == read_file(graphics_));
  // Nothing reaches the file before the front end saves.
  EXPECT_TRUE(read_file(cartridge_) == original);
}

TEST_F(Insertion, KeepFreeRegionModeErasesNothing) {
  std::string output;
  ASSERT_EQ(insert(kStart, 0x11, &output), 1);
  const Bytes image = testing::image_bytes();
  const Bytes& original = testing::demo_cartridge();
  EXPECT_TRUE(std::equal(image.begin() + ending_, image.end(), original.begin() + ending_));
}

// The demo cartridge was made with the same encoders, so inserting at its own
// data start gives it back byte for byte, pointer table included.
TEST_F(Insertion, ReproducesTheOriginalStreams) {
  std::string output;
  ASSERT_EQ(insert(kDemoDataStart, 0x11, &output), 1);
  EXPECT_TRUE(testing::image_bytes() == testing::demo_cartridge());
}

TEST_F(Insertion, EditedStructuresComeBackOut) {
  Bytes combined = read_file(graphics_);
  // One of each kind, and the odd-sized format 1 structure.
  const std::uint32_t edited[] = {0x000, 0x003, 0x015, 0x0C3, 0x11E, 0x1D8};
  for (std::uint32_t index : edited) {
    testing::set_combined_part(combined, index, random_bytes(structure_sizes[index], index));
  }
  write_file(graphics_, combined);
  std::string output;
  ASSERT_EQ(insert(kStart, 1, &output), 1);
  EXPECT_EQ(output, "");
  const Bytes again = extract_image();
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    ASSERT_EQ(testing::combined_part(again, i), testing::combined_part(combined, i)) << hex(i, 3);
  }
}

// Starts placed so that the data ends exactly at the end of the free region
// or one byte past it, past 2^32, or where the structures would meet the
// copier header or the pointer table: exactly up to it or one byte into it.
// The rest of the free region is erased only when the data ends strictly
// inside it: not at its start or its end.
TEST_F(Insertion, RoomChecksHoldAtTheirLimits) {
  const std::uint32_t total = stored_total();
  const std::uint32_t table_end = kPointerTableOffset + 3 * kStructureCount;
  const std::string no_room = "Not enough room left in ROM for structure 0x";
  expect_room_cases({
      {kEnd - total, 1, "", kEnd},
      {kEnd - total - 1, 1, "", kEnd - 1, true},
      {kEnd - total + 1, 0, no_room + "1D8!\n"},
      {kStart - total, 1, "", kStart},
      {kStart - total + 1, 1, "", kStart + 1, true},
      {0xFFFFFFF0, 0, no_room + "000!\n"},
      {0xFFFF8000, 0, no_room + "000!\n"},
      {0x1FF, 0, no_room + "000!\n"},
      // Structure 0x000 is stored plainly, 0x8000 bytes.
      {kPointerTableOffset - 0x8000, 0, no_room + "001!\n"},
      {kPointerTableOffset - 0x7FFF, 0, no_room + "000!\n"},
      {table_end - 1, 0, no_room + "000!\n"},
      {table_end, 1, "", table_end + total},
  });
}

class LargeCartridgeInsertion : public Insertion {
 protected:
  LargeCartridgeInsertion() { cartridge_size_ = 0x400200; }
};

// Past the free region only the cartridge's size limits: the last byte of the
// file is never used. Structure 0x000 is stored plainly, 0x8000 bytes.
TEST_F(LargeCartridgeInsertion, RoomChecksHoldAtTheEndOfTheCartridge) {
  expect_room_cases({
      {cartridge_size_ - 0x8000, 0, "Not enough room left in ROM for structure 0x000!\n"},
      {cartridge_size_ - 0x8001, 0, "Not enough room left in ROM for structure 0x001!\n"},
  });
}

TEST_F(LargeCartridgeInsertion, StartPastTheFreeRegionFillsOnAndErasesNothing) {
  const Bytes& original = testing::demo_cartridge(cartridge_size_);
  std::string output;
  ASSERT_EQ(insert(kEnd, 1, &output), 1);
  EXPECT_EQ(output, "");
  const Bytes image = testing::image_bytes();
  EXPECT_EQ(testing::pointer_target(image, 0), kEnd);
  EXPECT_GT(ending_, kEnd);
  EXPECT_TRUE(std::equal(image.begin() + kStart, image.begin() + kEnd, original.begin() + kStart));
  EXPECT_TRUE(std::equal(image.begin() + ending_, image.end(), original.begin() + ending_));
  EXPECT_TRUE(extract_image() == read_file(graphics_));
}

// A combined file cut inside structure 0x11E, and one cut exactly where it
// starts: that structure is padded, every one that starts later is blank.
TEST_F(Insertion, ShortCombinedFileIsPaddedWithBlanks) {
  const Bytes full = read_file(graphics_);
  const std::uint32_t cut_start = combined_offset(0x11E);
  for (std::uint32_t length : {cut_start + 0x100, cut_start}) {
    write_file(graphics_, Bytes(full.begin(), full.begin() + length));
    std::string expected_output;
    Bytes expected = full;
    for (std::uint32_t i = 0; i < kStructureCount; ++i) {
      const bool later = i >= 0x088 && i != 0x11E;
      if (later) {
        expected_output += "File doesn't contain structure " + hex(i, 3) + ", using blank...\n";
      } else if (i == 0x11E) {
        expected_output += "File only has part of structure 11E, padding...\n";
      }
      if (i >= 0x088) {
        Bytes part(structure_sizes[i], 0);
        if (i == 0x11E) std::copy(full.begin() + cut_start, full.begin() + length, part.begin());
        testing::set_combined_part(expected, i, part);
      }
    }
    std::string output;
    ASSERT_EQ(insert(kStart, 1, &output), 1);
    EXPECT_EQ(output, expected_output);
    EXPECT_TRUE(extract_image() == expected) << hex(length, 6);
    rom_close();
  }
}

TEST_F(Insertion, CombinedFileThatCannotBeRead) {
  fs::create_directory(dir_.path() / "folder.bin");
  for (const std::string& name : {dir_.file("missing.bin"), dir_.file("folder.bin")}) {
    graphics_ = name;
    std::string output;
    EXPECT_EQ(insert(kStart, 1, &output), 0) << name;
    EXPECT_EQ(output, "Couldn't open file " + name + "!\n");
    EXPECT_EQ(ending_, kStart);
    EXPECT_TRUE(testing::image_bytes() == testing::demo_cartridge());
    rom_close();
  }
}

// Per-structure inputs that cannot be brought into cartridge form end the
// insertion: an empty plain or bitmap structure, and a format 1 structure
// whose stream would pass the output limit.
TEST_F(Insertion, PerStructureInputsThatCannotBeEncoded) {
  struct Case {
    std::uint32_t index;
    Bytes content;
  };
  const Case cases[] = {{0x00C, {}}, {0x003, {}}, {0x015, random_bytes(0x10000, 3)}};
  for (const Case& c : cases) {
    TempDir files;
    for (std::uint32_t i = 0; i < kStructureCount; ++i) {
      write_file(files.file("GFX" + hex(i, 3) + ".bin"),
                 i == c.index ? c.content : demo_structure(i, testing::kDemoSeed));
    }
    testing::ScopedCwd cwd(files.path().string());
    std::string output;
    EXPECT_EQ(insert_from(nullptr, kStart, 1, &output), 0) << hex(c.index, 3);
    EXPECT_EQ(output, "Error compressing structure 0x" + hex(c.index, 3) + "!\n");
    EXPECT_EQ(ending_, kStart);
    rom_close();
  }
}

}  // namespace
}  // namespace tilvex
