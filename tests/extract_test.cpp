// Extraction of the demo cartridge: both output forms, every structure back
// as it was drawn, and a damaged cartridge whose short, long and undecodable
// streams and stray pointers bring out each message of extraction.
#include "transfer/extract.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "demo/demo_cartridge.h"
#include "pixel/mode52.h"
#include "rom/image.h"
#include "transfer/catalogue.h"
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

// One change to the demo cartridge: structure index is pointed at a stream or
// at an offset near the end, and what extraction then gives for it.
struct Damage {
  std::uint32_t index;
  Bytes stream;                  // placed in the unused area; empty: point at `offset`
  std::uint32_t offset;          // used when stream is empty, counted back from the end
  std::string message;           // printed in both output forms ("" for none)
  std::string combined_message;  // printed only with the combined file
  Bytes per_file;                // the per-structure file it yields
};

Bytes repeated(std::size_t count, std::uint8_t value) { return Bytes(count, value); }

Bytes counting_twice() {
  Bytes bytes;
  for (int round = 0; round < 2; ++round) {
    for (int v = 0; v < 256; ++v) bytes.push_back(static_cast<std::uint8_t>(v));
  }
  return bytes;
}

// The cartridge with every damage applied, and the damages with their
// expected bytes filled in where they depend on the image.
struct DamagedCartridge {
  Bytes image;
  std::vector<Damage> damages;
};

DamagedCartridge damaged_cartridge() {
  DamagedCartridge result{testing::demo_cartridge(), {}};
  Bytes& image = result.image;
  const auto size = static_cast<std::uint32_t>(image.size());
  const Bytes long_fill = {0xE7, 0xFF, 0x07, 0xE7, 0xFF, 0x07, 0xE7, 0xFF, 0x07, 0xFF};
  // clang-format off
  result.damages = {
      {0x025, {0xED, 0xFF, 0x00, 0xFF}, 0, "",
       "Size of structure 0x025 less than expected, padding...\n", counting_twice()},
      {0x026, long_fill, 0, "", "Size of structure 0x026 greater than expected, truncating...\n",
       repeated(0xC00, 0x07)},
      {0x027, {0xFF}, 0, "Error decompressing structure 0x027, using blank...\n", "",
       repeated(0x800, 0)},
      // A count code of eight pairs: the format 15 stream is malformed.
      {0x041, {0x00, 0x00, 0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF}, 0,
       "Error decompressing structure 0x041, using blank...\n", "", repeated(0x1000, 0)},
      // Kind 0 and kind 1 read where the image ends: the missing part is zeros.
      {0x012, {}, 0x100, "", "", {}},
      {0x00B, {}, 0x800, "", "", {}},
      {0x013, {}, 0, "", "", repeated(0x1000, 0)},
  };
  // clang-format on
  std::uint32_t spare = 0x1FF000;
  for (Damage& damage : result.damages) {
    std::uint32_t target;
    if (!damage.stream.empty()) {
      target = spare;
      std::copy(damage.stream.begin(), damage.stream.end(), image.begin() + spare);
      spare += 0x100;
    } else {
      target = size - damage.offset;  // offset 0: at the very end, nothing to read
    }
    testing::set_pointer(image, damage.index, target);
    if (damage.per_file.empty()) {
      const std::uint32_t expected = structure_sizes[damage.index];
      Bytes stored(expected, 0);
      std::copy(image.begin() + target, image.end(), stored.begin());
      if (structure_kinds[damage.index] == KindBitmap) {
        damage.per_file.assign(expected, 0);
        tiles_from_cartridge(stored.data(), damage.per_file.data(), expected / 32,
                             kConversionMode52);
      } else {
        damage.per_file = stored;
      }
    }
  }
  return result;
}

// What the combined file holds for a structure whose own file is `own`.
Bytes fitted(Bytes own, std::uint32_t index) {
  own.resize(structure_sizes[index], 0);
  return own;
}

class Extraction : public ::testing::Test {
 protected:
  void TearDown() override { rom_close(); }
  TempDir dir_;
};

TEST_F(Extraction, CombinedFileHoldsEveryStructureAtItsOffset) {
  write_file(dir_.file("demo.smc"), testing::demo_cartridge());
  ASSERT_TRUE(testing::open_image(dir_.file("demo.smc"), false));
  int result = 0;
  const std::string output = captured([&](std::FILE* out) {
    result = extract_all(dir_.file("AllGFX.bin").c_str(), dir_.file("demo.smc").c_str(), out);
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(output, "");
  const Bytes combined = read_file(dir_.file("AllGFX.bin"));
  ASSERT_EQ(combined.size(), kCombinedFileSize);
  EXPECT_TRUE(combined == testing::demo_combined_file());
  EXPECT_EQ(read_file(dir_.file("demo.smc")), testing::demo_cartridge());
}

TEST_F(Extraction, DamagedCartridgeIntoCombinedFile) {
  const DamagedCartridge damaged = damaged_cartridge();
  write_file(dir_.file("damaged.smc"), damaged.image);
  const testing::ProcessResult run =
      testing::run_process(TILVEX_EXE, {"0", "damaged.smc", "AllGFX.bin"}, dir_.path());
  EXPECT_EQ(run.exit_status, 0) << run.output;

  std::string messages;
  for (const Damage& damage : damaged.damages) {
    messages += damage.message + damage.combined_message;
  }
  EXPECT_NE(testing::portable_reasons(run.output)
                .find(testing::portable_reasons("Decompressing...\n" + messages + "Done!\n")),
            std::string::npos)
      << run.output;

  const Bytes combined = read_file(dir_.file("AllGFX.bin"));
  ASSERT_EQ(combined.size(), kCombinedFileSize);
  Bytes expected = testing::demo_combined_file();
  for (const Damage& damage : damaged.damages) {
    testing::set_combined_part(expected, damage.index, fitted(damage.per_file, damage.index));
  }
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    ASSERT_EQ(testing::combined_part(combined, i), testing::combined_part(expected, i))
        << "structure " << hex(i, 3);
  }
}

// Per-structure files in the working directory, which also holds the
// cartridge under the name GFX010.bin and a directory named GFX005.bin: both
// are skipped, the run fails for the missing files, and the cartridge is not
// touched.
TEST_F(Extraction, DamagedCartridgeIntoPerStructureFiles) {
  const DamagedCartridge damaged = damaged_cartridge();
  write_file(dir_.file("GFX010.bin"), damaged.image);
  fs::create_directory(dir_.path() / "GFX005.bin");
  const testing::ProcessResult run =
      testing::run_process(TILVEX_EXE, {"0", "GFX010.bin"}, dir_.path());
  EXPECT_EQ(run.exit_status, 1) << run.output;

  // Messages come in index order, the skipped files among them, and no
  // padding or truncation: each file takes the size its structure decoded to.
  // The reasons follow on the error stream.
  std::string messages =
      "Couldn't open file GFX005.bin, skipping...\n"
      "Couldn't open file GFX010.bin, skipping...\n";
  for (const Damage& damage : damaged.damages) messages += damage.message;
  messages +=
      "tilvex: GFX005.bin: Is a directory\n"
      "tilvex: GFX010.bin: it is the cartridge file\n";
  EXPECT_NE(testing::portable_reasons(run.output)
                .find(testing::portable_reasons("Decompressing...\n" + messages + "Done!\n")),
            std::string::npos)
      << run.output;

  EXPECT_TRUE(fs::is_directory(dir_.path() / "GFX005.bin"));
  EXPECT_EQ(read_file(dir_.file("GFX010.bin")), damaged.image);
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    if (i == 0x005 || i == 0x010) continue;
    Bytes expected = demo_structure(i, testing::kDemoSeed);
    for (const Damage& damage : damaged.damages) {
      if (damage.index == i) expected = damage.per_file;
    }
    ASSERT_EQ(read_file(dir_.file("GFX" + hex(i, 3) + ".bin")), expected)
        << "structure " << hex(i, 3);
  }
}

TEST_F(Extraction, CombinedFileThatCannotBeCreatedOrIsTheCartridge) {
  write_file(dir_.file("demo.smc"), testing::demo_cartridge());
  ASSERT_TRUE(testing::open_image(dir_.file("demo.smc"), false));
  // A missing directory, and the cartridge itself under another spelling.
  for (const std::string& name :
       {dir_.file("missing/AllGFX.bin"), (dir_.path() / "." / "demo.smc").string()}) {
    int result = 1;
    const std::string output = captured([&](std::FILE* out) {
      result = extract_all(name.c_str(), dir_.file("demo.smc").c_str(), out);
    });
    EXPECT_EQ(result, 0) << name;
    EXPECT_EQ(output, "Couldn't open file " + name + "!\n");
  }
  EXPECT_EQ(read_file(dir_.file("demo.smc")), testing::demo_cartridge());
}

// A full disk, for the combined file and for a per-structure file (a link to
// /dev/full): the failed write or close ends extraction with 0.
TEST_F(Extraction, WriteFailureEndsExtraction) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no full device";
#endif
  write_file(dir_.file("demo.smc"), testing::demo_cartridge());
  ASSERT_TRUE(testing::open_image(dir_.file("demo.smc"), false));
  const std::string cartridge = dir_.file("demo.smc");
  int result = 1;
  std::string output =
      captured([&](std::FILE* out) { result = extract_all("/dev/full", cartridge.c_str(), out); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(output, "Couldn't write file /dev/full!\n");

  fs::create_symlink("/dev/full", dir_.path() / "GFX001.bin");
  testing::ScopedCwd cwd(dir_.path().string());
  result = 1;
  output = captured([&](std::FILE* out) { result = extract_all(nullptr, cartridge.c_str(), out); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(output, "Couldn't write file GFX001.bin!\n");
  EXPECT_EQ(read_file(dir_.file("GFX000.bin")), demo_structure(0, testing::kDemoSeed));
  EXPECT_FALSE(fs::exists(dir_.path() / "GFX002.bin"));
}

TEST(ExtractionProcess, FullDiskFailsTheRun) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no full device";
#endif
  TempDir dir;
  write_file(dir.file("demo.smc"), testing::demo_cartridge());
  const testing::ProcessResult run =
      testing::run_process(TILVEX_EXE, {"0", "demo.smc", "/dev/full"}, dir.path());
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.output.find("Couldn't write file /dev/full!\n"
                            "tilvex: /dev/full: No space left on device\nFailed!\n"),
            std::string::npos)
      << run.output;
}

}  // namespace
}  // namespace tilvex
