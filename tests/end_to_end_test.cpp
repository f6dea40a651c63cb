// The tool as a process on generated cartridges: extraction and insertion in
// the three insertion modes, per-structure files with every kind of odd
// input, and insertions that fail in the middle, at the save, or because the
// process is killed while saving, each leaving the cartridge file as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "demo/demo_cartridge.h"
#include "transfer/catalogue.h"
#include "transfer_support.h"

namespace tilvex {
namespace {

namespace fs = std::filesystem;
using testing::hex;
using testing::read_file;
using testing::run_process;
using testing::TempDir;
using testing::write_file;

using Bytes = std::vector<std::uint8_t>;

constexpr char kPrompt[] = "Hit any key or click on the screen to exit.";

Bytes random_bytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(count);
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

// The ending address that the report names, or 0.
std::uint32_t reported_ending(const std::string& output) {
  const std::string key = "Ending Address: 0x";
  const std::size_t at = output.find(key);
  return at == std::string::npos ? 0
                                 : static_cast<std::uint32_t>(
                                       std::stoul(output.substr(at + key.size(), 6), nullptr, 16));
}

TEST(EndToEnd, ExtractInsertExtractInEveryInsertionMode) {
  TempDir dir;
  const Bytes& original = testing::demo_cartridge();
  write_file(dir.file("demo.smc"), original);
  const testing::ProcessResult extracted =
      run_process(TILVEX_EXE, {"0", "demo.smc", "AllGFX.bin"}, dir.path());
  ASSERT_EQ(extracted.exit_status, 0) << extracted.output;
  ASSERT_TRUE(read_file(dir.file("AllGFX.bin")) == testing::demo_combined_file());
#ifdef _WIN32
  // Text as the Windows C library writes it: every line ends in CR LF.
  EXPECT_EQ(
      extracted.raw_output.size() - extracted.output.size(),
      static_cast<std::size_t>(std::count(extracted.output.begin(), extracted.output.end(), '\n')));
#endif

  struct Mode {
    std::string word;
    bool erases;
    bool waits;
  };
  for (const Mode& mode :
       {Mode{"1", true, true}, Mode{"11", false, true}, Mode{"101", true, false}}) {
    write_file(dir.file("demo.smc"), original);
    const testing::ProcessResult run =
        run_process(TILVEX_EXE, {mode.word, "120200", "demo.smc", "AllGFX.bin"}, dir.path());
    EXPECT_EQ(run.exit_status, 0) << run.output;
    const std::uint32_t ending = reported_ending(run.output);
    ASSERT_GT(ending, free_region_start) << run.output;
    ASSERT_LT(ending, free_region_end);
    const std::string report = "Done!\nEnding Address: 0x" + hex(ending, 6) + ", Free Space: 0x" +
                               hex(free_region_end - ending, 1) + " bytes.\n";
    EXPECT_NE(run.output.find("Recompressing...\n" + report), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(kPrompt) != std::string::npos, mode.waits) << mode.word;

    const Bytes saved = read_file(dir.file("demo.smc"));
    ASSERT_EQ(saved.size(), original.size());
    EXPECT_TRUE(std::equal(saved.begin() + free_region_end, saved.end(),
                           original.begin() + free_region_end));
    const Bytes& rest = mode.erases ? Bytes(free_region_end - ending, 0xFF) : original;
    const std::size_t from = mode.erases ? 0 : ending;
    EXPECT_TRUE(
        std::equal(saved.begin() + ending, saved.begin() + free_region_end, rest.begin() + from))
        << mode.word;
  }

  const testing::ProcessResult again =
      run_process(TILVEX_EXE, {"0", "demo.smc", "again.bin"}, dir.path());
  EXPECT_EQ(again.exit_status, 0) << again.output;
  EXPECT_TRUE(read_file(dir.file("again.bin")) == read_file(dir.file("AllGFX.bin")));
}

// Per-structure files as a person leaves them after editing: one missing, one
// a directory, one far too big, a bitmap of 0x9000 bytes, format 15 files too
// short and too long, format 1 files of other sizes. The odd ones are
// reported in index order, the reasons for the missing ones after them on
// the error stream, and all come back out as they went in.
TEST(EndToEnd, PerStructureFilesOfEveryShape) {
  TempDir dir;
  write_file(dir.file("demo.smc"), testing::demo_cartridge());
  const fs::path in = dir.path() / "in";
  const fs::path out = dir.path() / "out";
  fs::create_directory(in);
  fs::create_directory(out);
  const testing::ProcessResult first = run_process(TILVEX_EXE, {"0", "../demo.smc"}, in);
  ASSERT_EQ(first.exit_status, 0) << first.output;

  // Each file as written for insertion, and what extraction gives back.
  struct Edit {
    std::uint32_t index;
    Bytes written;
    Bytes extracted;
  };
  const Bytes big = random_bytes(0x10001, 1);
  const Bytes bitmap = random_bytes(0x9000, 2);
  const Bytes short_picture = random_bytes(0x800, 3);
  const Bytes long_picture = random_bytes(0x1800, 4);
  const Bytes long_format1 = random_bytes(0x1800, 5);
  const Bytes short_format1 = random_bytes(0x20, 6);
  auto cut = [](const Bytes& bytes, std::size_t size) {
    Bytes part(size, 0);
    std::copy(bytes.begin(), bytes.begin() + std::min(size, bytes.size()), part.begin());
    return part;
  };
  const std::vector<Edit> edits = {
      {0x001, big, cut(big, 0x4000)},
      {0x003, bitmap, cut(bitmap, 0x8000)},
      {0x11E, short_picture, cut(short_picture, 0x1000)},
      {0x11F, long_picture, cut(long_picture, 0x1000)},
      {0x015, long_format1, long_format1},
      {0x0C3, short_format1, short_format1},
  };
  for (const Edit& edit : edits)
    write_file((in / ("GFX" + hex(edit.index, 3) + ".bin")).string(), edit.written);
  fs::remove(in / "GFX000.bin");
  fs::remove(in / "GFX002.bin");
  fs::create_directory(in / "GFX002.bin");

  const testing::ProcessResult inserted =
      run_process(TILVEX_EXE, {"1", "120200", "../demo.smc"}, in);
  EXPECT_EQ(inserted.exit_status, 0) << inserted.output;
  EXPECT_NE(
      testing::portable_reasons(inserted.output)
          .find(testing::portable_reasons("Recompressing...\n"
                                          "Couldn't open file GFX000.bin, using blank...\n"
                                          "Size of structure 0x001 way too big, truncating...\n"
                                          "Couldn't open file GFX002.bin, using blank...\n"
                                          "tilvex: GFX000.bin: No such file or directory\n"
                                          "tilvex: GFX002.bin: Is a directory\n"
                                          "Done!\n")),
      std::string::npos)
      << inserted.output;

  const testing::ProcessResult second = run_process(TILVEX_EXE, {"0", "../demo.smc"}, out);
  ASSERT_EQ(second.exit_status, 0) << second.output;
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    const std::string name = "GFX" + hex(i, 3) + ".bin";
    Bytes expected = demo_structure(i, testing::kDemoSeed);
    if (i == 0x000 || i == 0x002) expected.assign(structure_sizes[i], 0);
    for (const Edit& edit : edits) {
      if (edit.index == i) expected = edit.extracted;
    }
    ASSERT_TRUE(read_file((out / name).string()) == expected) << name;
  }
}

// An insertion that fails leaves the cartridge file exactly as it was: when
// a structure does not fit, when the save cannot create its file, and when a
// file size limit stops the save half-way (whether it kills the process or
// the save reports the failed write).
TEST(EndToEnd, FailedInsertionLeavesTheCartridgeFileUnchanged) {
  struct Case {
    std::string name;
    std::string address;
    testing::Restrictions restrictions;
    bool read_only_directory;
    std::string message;  // expected in the output; "" when killed
  };
  const Case cases[] = {
      // Structure 0x000 fits before the end of the free region, 0x001 not.
      {"no room",
       "1F0000",
       {},
       false,
       "Not enough room left in ROM for structure 0x001!\nFailed!  No changes made to ROM.\n"},
#ifndef _WIN32  // neither users to drop to nor file size limits there
      {"read-only directory", "120200", {0, true}, true, "Unable to save the ROM"},
      {"file size limit", "120200", {0x80000, false}, false, ""},
#endif
  };
  const Bytes& original = testing::demo_cartridge();
  for (const Case& c : cases) {
    TempDir dir;
    const fs::path home = dir.path() / "cartridge";
    fs::create_directory(home);
    const std::string cartridge = (home / "demo.smc").string();
    write_file(cartridge, original);
    write_file(dir.file("AllGFX.bin"), testing::demo_combined_file());
    if (c.read_only_directory) {
      // Writable file, fixed directory: only a replacement of the file fails.
      fs::permissions(cartridge, fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec &
                                     ~fs::perms::others_exec);
      fs::permissions(home, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
      fs::permissions(dir.path(), fs::perms::others_read | fs::perms::others_exec,
                      fs::perm_options::add);
    }
    const testing::ProcessResult run =
        testing::run_process(TILVEX_EXE, {"1", c.address, "cartridge/demo.smc", "AllGFX.bin"},
                             dir.path().string(), c.restrictions);
    if (c.message.empty()) {
      // Killed, or the save reported the write it could not finish.
#ifdef SIGXFSZ
      const bool killed = run.signal == SIGXFSZ;
#else
      const bool killed = false;
#endif
      EXPECT_TRUE(killed || (run.exit_status == 1 &&
                             run.output.find("Unable to save the ROM") != std::string::npos))
          << c.name << ": " << run.output;
    } else {
      EXPECT_EQ(run.exit_status, 1) << c.name;
      EXPECT_NE(run.output.find(c.message), std::string::npos) << c.name << ": " << run.output;
    }
    EXPECT_TRUE(read_file(cartridge) == original) << c.name;
  }
}

// A cartridge the user marked read-only is refused for insertion before
// anything is read, and stays as it was; extraction still reads it.
TEST(EndToEnd, ReadOnlyCartridgeIsRefusedForInsertion) {
  TempDir dir;
  const std::string cartridge = dir.file("demo.smc");
  write_file(cartridge, testing::demo_cartridge());
  write_file(dir.file("AllGFX.bin"), testing::demo_combined_file());
  fs::permissions(cartridge,
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  if (std::FILE* probe = std::fopen(cartridge.c_str(), "r+b")) {
    std::fclose(probe);
    fs::permissions(cartridge, fs::perms::owner_write, fs::perm_options::add);
    GTEST_SKIP() << "this user may write read-only files";
  }
  const testing::ProcessResult run =
      run_process(TILVEX_EXE, {"1", "120200", "demo.smc", "AllGFX.bin"}, dir.path());
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.output.find("Unable to open the ROM: demo.smc\n"), std::string::npos) << run.output;
  const testing::ProcessResult extracted =
      run_process(TILVEX_EXE, {"100", "demo.smc", "out.bin"}, dir.path());
  EXPECT_EQ(extracted.exit_status, 0) << extracted.output;
  fs::permissions(cartridge, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_TRUE(read_file(cartridge) == testing::demo_cartridge());
}

// Names in any script reach the files and the messages unchanged (on Windows
// through the programs' UTF-8 code page).
TEST(EndToEnd, NamesOutsideAsciiWork) {
  TempDir dir;
  const std::string cartridge =
      "\xC5\x81\xC3\xB3"
      "d\xC5\xBA \xE3\x82\xAB.smc";
  const std::string graphics = "\xCE\xB3\xCF\x81\xCE\xB1\xCF\x86.bin";
  write_file(dir.file(cartridge), testing::demo_cartridge());
  const testing::ProcessResult run =
      run_process(TILVEX_EXE, {"100", cartridge, graphics}, dir.path());
  EXPECT_EQ(run.exit_status, 0) << run.output;
  EXPECT_TRUE(read_file(dir.file(graphics)) == testing::demo_combined_file());
  const testing::ProcessResult missing =
      run_process(TILVEX_EXE, {"0", graphics + ".smc"}, dir.path());
  EXPECT_NE(missing.output.find("Unable to open the ROM: " + graphics + ".smc\n"),
            std::string::npos)
      << missing.output;
}

TEST(DemoTool, WritesOnlyCartridgesTheToolAccepts) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case refused[] = {
      {{}, 2},
      {{"x.smc", "--size", "0x200000"}, 2},  // no copier header
      {{"x.smc", "--size", "0x1FF200"}, 2},  // too small
      {{"x.smc", "--seed"}, 2},
      {{"x.smc", "--size", "big"}, 2},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(run_process(TILVEX_DEMO_EXE, c.args, dir.path()).exit_status, c.status);
  }
  EXPECT_FALSE(fs::exists(dir.path() / "x.smc"));

  const testing::ProcessResult made = run_process(TILVEX_DEMO_EXE, {"demo.smc"}, dir.path());
  EXPECT_EQ(made.exit_status, 0) << made.output;
  EXPECT_TRUE(read_file(dir.file("demo.smc")) == testing::demo_cartridge());

  const testing::ProcessResult large =
      run_process(TILVEX_DEMO_EXE, {"large.smc", "--size", "0x400200", "--seed", "7"}, dir.path());
  EXPECT_EQ(large.exit_status, 0) << large.output;
  EXPECT_EQ(fs::file_size(dir.path() / "large.smc"), 0x400200u);
  const testing::ProcessResult identified =
      run_process(TILVEX_EXE, {"100", "large.smc", "large.bin"}, dir.path());
  EXPECT_NE(identified.output.find("Quillfen Reach : Version 1.0 (US)\n"), std::string::npos);
  EXPECT_EQ(identified.exit_status, 0) << identified.output;
  EXPECT_EQ(identified.output.find("structure"), std::string::npos) << identified.output;
}

}  // namespace
}  // namespace tilvex
