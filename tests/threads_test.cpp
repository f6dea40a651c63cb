// Extraction and insertion with one thread and with several give the same
// bytes, the same messages in the same order and the same result, also where
// structures fail to decode, a graphics input is short or missing, a
// structure cannot be encoded and the room runs out part-way.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "rom/header.h"
#include "rom/image.h"
#include "transfer/catalogue.h"
#include "transfer/extract.h"
#include "transfer/insert.h"
#include "transfer_support.h"

namespace tilvex {
namespace {

namespace fs = std::filesystem;
using testing::captured;
using testing::read_file;
using testing::TempDir;
using testing::write_file;
using Bytes = std::vector<std::uint8_t>;

// What one run gave: its result, its messages, the files it reported with
// their reasons, and every byte it wrote.
struct Outcome {
  int result = 0;
  std::string messages;
  std::vector<std::string> problems;
  std::vector<Bytes> files;
  friend bool operator==(const Outcome&, const Outcome&) = default;
};

// The demo cartridge with every 37th compressed structure pointed at a
// stream that cannot be decoded.
Bytes damaged_cartridge() {
  Bytes image = testing::demo_cartridge();
  constexpr std::uint32_t kFormat1Bad = 0x1FF000;   // a command that needs more bytes
  constexpr std::uint32_t kFormat15Bad = 0x1FF100;  // a count code of eight pairs
  image[kFormat1Bad] = 0xFF;
  const Bytes bad15 = {0x00, 0x00, 0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF};
  std::copy(bad15.begin(), bad15.end(), image.begin() + kFormat15Bad);
  for (std::uint32_t i = 0x15; i < kStructureCount; i += 37)
    testing::set_pointer(image, i, structure_kinds[i] == KindFormat1 ? kFormat1Bad : kFormat15Bad);
  return image;
}

std::vector<std::string> names_and_reasons(const FileProblems& problems) {
  std::vector<std::string> lines;
  for (const FileProblem& problem : problems) lines.push_back(problem.name + ": " + problem.reason);
  return lines;
}

Outcome extract_with(const Bytes& cartridge, bool combined, unsigned threads) {
  TempDir dir;
  write_file(dir.file("demo.smc"), cartridge);
  testing::ScopedCwd cwd(dir.path().string());
  EXPECT_TRUE(testing::open_image("demo.smc", false));
  Outcome outcome;
  ExtractReport report;
  outcome.messages = captured([&](std::FILE* out) {
    outcome.result =
        extract_all(combined ? "AllGFX.bin" : nullptr, "demo.smc", out, &report, threads);
  });
  rom_close();
  outcome.problems = names_and_reasons(report.problems);
  outcome.problems.push_back(std::to_string(report.skipped));
  for (const auto& entry : fs::directory_iterator(dir.path()))
    if (entry.path().filename() != "demo.smc")
      outcome.files.push_back(read_file(entry.path().string()));
  return outcome;
}

TEST(Threads, ExtractionIsTheSameForAnyNumberOfThreads) {
  const Bytes damaged = damaged_cartridge();
  for (const Bytes* cartridge : {&testing::demo_cartridge(), &damaged}) {
    for (const bool combined : {true, false}) {
      SCOPED_TRACE(::testing::Message()
                   << "damaged " << (cartridge == &damaged) << " combined " << combined);
      const Outcome one = extract_with(*cartridge, combined, 1);
      EXPECT_EQ(one.result, 1);
      EXPECT_EQ(one.messages.find("Error decompressing") != std::string::npos,
                cartridge == &damaged);
      EXPECT_TRUE(extract_with(*cartridge, combined, 4) == one);
    }
  }
}

// An insertion case: the graphics input as files in the working directory.
struct InsertCase {
  const char* name;
  std::uint32_t start;
  bool combined;
  void (*prepare)(const TempDir& dir);  // changes the graphics input
  const char* expect;                   // a message the run must print
};

void write_own_files(const TempDir& dir) {
  const Bytes combined = testing::demo_combined_file();
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    write_file(dir.file("GFX" + testing::hex(i, 3) + ".bin"), testing::combined_part(combined, i));
  }
}

Outcome insert_with(const InsertCase& c, unsigned threads) {
  TempDir dir;
  write_file(dir.file("demo.smc"), testing::demo_cartridge());
  write_file(dir.file("AllGFX.bin"), testing::demo_combined_file());
  if (!c.combined) write_own_files(dir);
  if (c.prepare != nullptr) c.prepare(dir);
  testing::ScopedCwd cwd(dir.path().string());
  EXPECT_TRUE(testing::open_image("demo.smc", true));
  const InsertRequest request{c.combined ? "AllGFX.bin" : nullptr, c.start, kMinimumCartridgeSize,
                              0, threads};
  InsertResult result;
  Outcome outcome;
  outcome.messages = captured([&](std::FILE* out) { result = insert_all(request, out); });
  outcome.result = result.inserted ? static_cast<int>(result.ending) : -1;
  outcome.problems = names_and_reasons(result.problems);
  outcome.files.push_back(testing::image_bytes());
  rom_close();
  return outcome;
}

TEST(Threads, InsertionIsTheSameForAnyNumberOfThreads) {
  // clang-format off
  const InsertCase cases[] = {
      {"whole", free_region_start, true, nullptr, "" },
      {"room runs out part-way", free_region_end - 0x20000, true, nullptr, "Not enough room"},
      {"short combined file", free_region_start, true,
       [](const TempDir& d) { fs::resize_file(d.file("AllGFX.bin"), 0x9000); },
       "File doesn't contain"},
      {"missing and empty own files", free_region_start, false,
       [](const TempDir& d) {
         fs::remove(d.file("GFX010.bin"));
         fs::remove(d.file("GFX0A0.bin"));
         write_file(d.file("GFX011.bin"), {});  // a plain structure of no bytes
       },
       "Error compressing"},
  };
  // clang-format on
  for (const InsertCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome one = insert_with(c, 1);
    EXPECT_NE(one.messages.find(c.expect), std::string::npos) << one.messages;
    EXPECT_TRUE(insert_with(c, 4) == one) << insert_with(c, 4).messages;
  }
}

}  // namespace
}  // namespace tilvex
