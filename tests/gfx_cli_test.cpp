// tilvex-gfx as a program: its command line, export and import of all 473
// structures of the demo cartridge through the executable, refused pictures
// that must leave the graphics untouched, and the listing.
#include "app/gfx_cli.h"

#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gfx/png_io.h"
#include "test_support.h"
#include "transfer/catalogue.h"
#include "transfer_support.h"

namespace tilvex {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_process;
using testing::TempDir;
using testing::write_file;

TEST(GfxCli, ParsesArgumentsAndNamesTheFaultyOption) {
  struct Case {
    std::vector<const char*> args;
    int status;
    const char* detail;  // part of the problem, or of the parsed request as "command/row/columns"
  } cases[] = {
      {{"list"}, kGfxExitOk, "2/0/16"},
      {{"list", "cart.smc", "--json"}, kGfxExitOk, "2/0/16"},
      {{"export", "all.bin", "dir", "--palette", "p.pal", "--row", "15", "--columns", "256"},
       kGfxExitOk,
       "3/15/256"},
      {{"import", "dir", "-", "-q"}, kGfxExitUsage, "standard output"},
      {{"import", "--palette", "p.gpl", "dir", "all.bin"}, kGfxExitOk, "4/0/16"},
      {{"export", "a", "b", "--version"}, kGfxExitOk, "1/0/16"},
      {{}, kGfxExitUsage, "missing command"},
      {{"show"}, kGfxExitUsage, "unknown command 'show'"},
      {{"list", "a", "b"}, kGfxExitUsage, "at most one"},
      {{"export", "all.bin"}, kGfxExitUsage, "GRAPHICS and DIR"},
      {{"export", "a", "b", "--columns", "0"}, kGfxExitUsage, "--columns '0'"},
      {{"export", "a", "b", "--columns", "0x10"}, kGfxExitUsage, "--columns '0x10'"},
      {{"export", "a", "b", "--columns", "257"}, kGfxExitUsage, "--columns '257'"},
      {{"export", "a", "b", "--palette", "p", "--row", "16"}, kGfxExitUsage, "--row '16'"},
      {{"export", "a", "b", "--palette", "p", "--row", "-1"}, kGfxExitUsage, "--row '-1'"},
      {{"export", "a", "b", "--row", "1"}, kGfxExitUsage, "--row needs --palette"},
      {{"import", "a", "b", "--columns", "8"}, kGfxExitUsage, "--columns applies"},
      {{"list", "--palette", "p"}, kGfxExitUsage, "--palette applies"},
      {{"export", "a", "b", "--json"}, kGfxExitUsage, "--json applies"},
      {{"export", "a", "b", "--palette"}, kGfxExitUsage, "--palette needs a value"},
      {{"export", "a", "b", "--palette", "p", "--palette", "q"}, kGfxExitUsage, "given twice"},
      {{"export", "a", "b", "--colour"}, kGfxExitUsage, "unknown option '--colour'"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"tilvex-gfx"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.detail);
    GfxRequest request;
    std::string problem;
    EXPECT_EQ(parse_gfx_arguments(static_cast<int>(argv.size()), argv.data(), &request, &problem),
              c.status);
    if (c.status == kGfxExitOk) {
      EXPECT_EQ(std::to_string(static_cast<int>(request.command)) + "/" +
                    std::to_string(request.row) + "/" + std::to_string(request.columns),
                c.detail);
    } else {
      EXPECT_NE(problem.find(c.detail), std::string::npos) << problem;
    }
  }
}

TEST(GfxCli, AnswersHelpVersionAndUsageErrorsAsCompanionsDo) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* text;
  } cases[] = {
      {{"--help"}, 0, "usage: tilvex-gfx list"},
      {{"--version"}, 0, "tilvex-gfx 1."},
      {{"export", "a"}, 2, "Run 'tilvex-gfx --help' for usage."},
  };
  for (const auto& c : cases) {
    const auto result = run_process(TILVEX_GFX_EXE, c.args);
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_NE(result.output.find(c.text), std::string::npos) << result.output;
  }
}

// The demo cartridge extracted by tilvex, once, as a combined file and as
// per-structure files; and a palette of 16 distinct colours.
class GfxDemo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    write_file(dir_->file("demo.smc"), testing::demo_cartridge());
    fs::create_directory(dir_->file("bins"));
    ASSERT_EQ(run_process(TILVEX_EXE, {"100", "demo.smc", "all.bin"}, dir_->path()).exit_status, 0);
    ASSERT_EQ(run_process(TILVEX_EXE, {"100", "../demo.smc"}, dir_->file("bins")).exit_status, 0);
    std::vector<std::uint8_t> snes(32);
    for (std::uint32_t i = 0; i < 16; ++i) {
      const std::uint32_t word = (i * 2) | (31 - i) << 5 | (i * 7 % 32) << 10;
      snes[2 * i] = static_cast<std::uint8_t>(word),
               snes[2 * i + 1] = static_cast<std::uint8_t>(word >> 8);
    }
    write_file(dir_->file("custom.bin"), snes);
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::string file(const std::string& name) { return dir_->file(name); }

  // Runs tilvex-gfx in the shared folder.
  static testing::ProcessResult gfx(const std::vector<std::string>& args) {
    return run_process(TILVEX_GFX_EXE, args, dir_->path().string());
  }

  static PngPicture picture(const std::string& path) {
    const std::vector<std::uint8_t> png = read_file(path);
    PngPicture result;
    std::string problem;
    EXPECT_TRUE(decode_png(png.data(), png.size(), false, &result, &problem)) << problem;
    return result;
  }

  // The indexed picture saved as RGB, the way image editors save it.
  static void save_as_rgb(const PngPicture& indexed, const std::string& path) {
    std::vector<std::uint8_t> rgb;
    for (std::uint8_t index : indexed.pixels) {
      const Colour c = indexed.palette.at(index);
      rgb.insert(rgb.end(), {c.r, c.g, c.b});
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.format = PNG_FORMAT_RGB;
    image.width = indexed.width;
    image.height = indexed.height;
    ASSERT_NE(png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr), 0);
  }

  static void save_indexed(const PngPicture& picture, const std::string& path) {
    std::vector<std::uint8_t> png;
    std::string problem;
    ASSERT_TRUE(encode_indexed_png(
        picture.pixels.data(), picture.width, picture.height, 8, picture.palette.data(),
        static_cast<std::uint32_t>(picture.palette.size()), &png, &problem));
    write_file(path, png);
  }

  static inline TempDir* dir_ = nullptr;
};

std::map<std::string, std::vector<std::uint8_t>> folder_files(const fs::path& folder) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const auto& entry : fs::directory_iterator(folder))
    files[entry.path().filename().string()] = read_file(entry.path().string());
  return files;
}

TEST_F(GfxDemo, ExportThenImportGivesEveryByteBack) {
  const auto combined = read_file(file("all.bin"));
  const auto bins = folder_files(file("bins"));
  ASSERT_EQ(bins.size(), kStructureCount);
  const struct {
    const char* graphics;
    std::vector<std::string> palette;
  } cases[] = {{"all.bin", {}},
               {"all.bin", {"--palette", "custom.bin"}},
               {"bins", {}},
               {"bins", {"--palette", "custom.bin"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.graphics) + (c.palette.empty() ? "" : " custom"));
    fs::remove_all(file("out"));
    std::vector<std::string> args = {"export", c.graphics, "out"};
    args.insert(args.end(), c.palette.begin(), c.palette.end());
    auto result = gfx(args);
    ASSERT_EQ(result.exit_status, 0) << result.output;
    EXPECT_EQ(result.output,
              "exported 473 structures to out (GFX000.png to GFX1D8.png, sheet.png)\n");
    EXPECT_TRUE(fs::exists(file("out/sheet.png")));
    // Structure 0x000, 0x8000 bytes: 1024 tiles, 16 to a row, in a 4-bit indexed PNG.
    const auto png = read_file(file("out/GFX000.png"));
    ASSERT_GT(png.size(), 26u);
    EXPECT_EQ(std::vector<std::uint8_t>(png.begin() + 16, png.begin() + 26),
              (std::vector<std::uint8_t>{0, 0, 0, 128, 0, 0, 2, 0, 4, 3}));
    if (!c.palette.empty()) {
      // What image editors make of an indexed picture must come back the same.
      for (const char* name : {"GFX000.png", "GFX0C0.png", "GFX1D8.png"})
        save_as_rgb(picture(file("out/") + name), file("out/") + name);
    }
    args = {"import", "out", c.graphics};
    args.insert(args.end(), c.palette.begin(), c.palette.end());
    result = gfx(args);
    ASSERT_EQ(result.exit_status, 0) << result.output;
    EXPECT_NE(result.output.find("read 473 pictures from out: 0 structures changed"),
              std::string::npos)
        << result.output;
    EXPECT_EQ(read_file(file("all.bin")), combined);
    EXPECT_EQ(folder_files(file("bins")), bins);
  }
}

TEST_F(GfxDemo, OnePixelEditChangesOnlyThatPixelsBits) {
  const auto before = read_file(file("all.bin"));
  ASSERT_EQ(gfx({"export", "all.bin", "edit", "--columns", "8"}).exit_status, 0);
  // Structure 0x0C3 at 8 tiles a row: pixel (13, 10) is in tile 9, pixel
  // row 2, bit 7 - 5 of each plane byte.
  PngPicture p = picture(file("edit/GFX0C3.png"));
  std::uint8_t& pixel = p.pixels[10 * p.width + 13];
  const std::uint8_t flip = 0x0B;  // planes 0, 1 and 3
  pixel ^= flip;
  save_indexed(p, file("edit/GFX0C3.png"));
  const auto result = gfx({"import", "edit", "all.bin", "-q"});
  ASSERT_EQ(result.exit_status, 0) << result.output;
  EXPECT_EQ(result.output, "");
  std::vector<std::uint8_t> expected = before;
  const std::uint32_t tile = combined_offset(0x0C3) + 9 * 32;
  for (std::uint32_t plane_byte : {tile + 4, tile + 5, tile + 16 + 5}) expected[plane_byte] ^= 0x04;
  EXPECT_EQ(read_file(file("all.bin")), expected);
  write_file(file("all.bin"), before);
}

TEST_F(GfxDemo, RefusedPicturesLeaveTheGraphicsUntouched) {
  ASSERT_EQ(gfx({"export", "all.bin", "good"}).exit_status, 0);
  const PngPicture good = picture(file("good/GFX015.png"));
  const auto combined = read_file(file("all.bin"));
  const auto bins = folder_files(file("bins"));
  PngPicture colour = good, index = good, small = good;
  index.palette.resize(17);
  index.pixels[9 * good.width + 20] = 16;
  small.height = 8;
  small.pixels.resize(small.width * 8);
  write_file(file("garbage.png"), std::vector<std::uint8_t>(100, 0x89));
  const struct {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* message;
  } cases[] = {
      {"colour",
       [&](const std::string& path) {
         PngPicture rgb = colour;
         rgb.palette[rgb.pixels[4 * rgb.width + 3] = 15] = {1, 2, 3};
         save_as_rgb(rgb, path);
       },
       "/GFX015.png: pixel (3, 4), tile 0 (byte 0x0): colour #010203 is not in the palette"},
      {"index", [&](const std::string& path) { save_indexed(index, path); },
       "/GFX015.png: pixel (20, 9), tile 18 (byte 0x240): colour index 16 is over 15"},
      {"size", [&](const std::string& path) { save_indexed(small, path); },
       "/GFX015.png: size 128x8 is not the structure's: its 128 tiles make 128x64"},
      {"garbage", [&](const std::string& path) { fs::copy_file(file("garbage.png"), path); },
       "/GFX015.png: not a PNG file"},
  };
  for (const auto& c : cases) {
    for (const char* graphics : {"all.bin", "bins"}) {
      SCOPED_TRACE(std::string(c.name) + " " + graphics);
      // A sound edit beside the refused picture must not be written either.
      fs::remove_all(file("bad"));
      fs::create_directory(file("bad"));
      PngPicture edit = picture(file("good/GFX016.png"));
      edit.pixels[0] ^= 1;
      save_indexed(edit, file("bad/GFX016.png"));
      c.make(file("bad/GFX015.png"));
      const auto result = gfx({"import", "bad", graphics});
      EXPECT_EQ(result.exit_status, 1);
      EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
      EXPECT_NE(result.output.find("nothing written to"), std::string::npos);
      EXPECT_EQ(read_file(file("all.bin")), combined);
      EXPECT_EQ(folder_files(file("bins")), bins);
    }
  }
  write_file(file("odd.pal"), std::vector<std::uint8_t>(100, 1));
  const auto result = gfx({"import", "good", "all.bin", "--palette", "odd.pal"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.output.find("odd.pal: not a palette"), std::string::npos) << result.output;
}

TEST_F(GfxDemo, ExportFailuresNameTheirFile) {
  fs::create_directories(file("blocked/GFX010.png"));  // a folder where a picture goes
  write_file(file("plainfile"), {1});
  fs::create_directories(file("shortbins"));
  for (const auto& entry : fs::directory_iterator(file("bins")))
    fs::copy_file(entry.path(), file("shortbins") / entry.path().filename());
  fs::resize_file(file("shortbins/GFX0C3.bin"), 0x33F);
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"export", "all.bin", "blocked"}, "cannot write blocked/GFX010.png"},
      {{"export", "all.bin", "plainfile"}, "cannot create folder plainfile"},
      {{"export", "missing.bin", "out"}, "cannot read missing.bin"},
      {{"export", "demo.smc", "out"}, "demo.smc is larger than 0x180640 bytes"},
      {{"export", "shortbins", "out"}, "GFX0C3.bin has 0x33F bytes; structure 0x0C3 has 0x340"},
  };
  for (const auto& c : cases) {
    const auto result = gfx(c.args);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
  }
}

TEST_F(GfxDemo, ListAgreesWithTheCatalogueAndTheCartridge) {
  auto result = gfx({"list", "demo.smc"});
  ASSERT_EQ(result.exit_status, 0) << result.output;
  const std::vector<std::uint8_t>& cartridge = testing::demo_cartridge();
  std::istringstream lines(result.output);
  std::string line;
  std::map<std::string, int> kinds;
  std::uint32_t listed = 0;
  while (std::getline(lines, line)) {
    unsigned number = 0, size = 0, offset = 0, pointer = 0, file_offset = 0;
    char kind[16] = {}, kind2[16] = {}, name[16] = {};
    if (line.find_first_not_of("0123456789ABCDEF") != 3) continue;  // not a structure's line
    const std::string hex_number = line.substr(0, 3);
    ASSERT_EQ(std::sscanf(line.c_str(), "%x %15s", &number, kind), 2) << line;
    const bool two_words = std::string(kind) == "format";
    const int got = two_words
                        ? std::sscanf(line.c_str(), "%x %15s %15s %x %x %15s %x %x", &number, kind,
                                      kind2, &size, &offset, name, &pointer, &file_offset)
                        : std::sscanf(line.c_str(), "%x %15s %x %x %15s %x %x", &number, kind,
                                      &size, &offset, name, &pointer, &file_offset) +
                              1;
    ASSERT_EQ(got, 8) << line;
    SCOPED_TRACE(line);
    ASSERT_EQ(number, listed);
    ++kinds[std::string(kind) + kind2];
    EXPECT_EQ(size, structure_sizes[number]);
    EXPECT_EQ(offset, combined_offset(number));
    EXPECT_EQ(name, "GFX" + hex_number + ".bin");
    EXPECT_EQ(file_offset, testing::pointer_target(cartridge, number));
    EXPECT_NE(line.back(), '-');  // every stored size is known
    ++listed;
  }
  EXPECT_EQ(listed, kStructureCount);
  EXPECT_EQ(kinds, (std::map<std::string, int>{
                       {"plain", 12}, {"bitmap", 9}, {"format1", 261}, {"format15", 191}}));
  EXPECT_NE(result.output.find("total: 473 structures, 0x180640 bytes"), std::string::npos);
  EXPECT_NE(result.output.find("free region 0x120200-0x1F9580: "), std::string::npos);

  // The JSON document parses and says the same.
  const char* check =
      "import json, sys\n"
      "d = json.load(open(sys.argv[1]))\n"
      "s = d['structures']\n"
      "assert len(s) == d['count'] == 473\n"
      "assert sum(e['size'] for e in s) == d['total_size'] == 0x180640\n"
      "assert [e['number'] for e in s] == list(range(473))\n"
      "assert all(e['file'] == 'GFX%03X.bin' % e['number'] for e in s)\n"
      "c = d.get('cartridge')\n"
      "assert not c or c['identified'] == 'Quillfen Reach : Version 1.0 (US)'\n"
      "assert not c or all(e['stored_size'] for e in s)\n"
      "print('kinds', sorted((k, sum(e['kind'] == k for e in s)) for k in set(e['kind'] for e in "
      "s)))\n";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"list", "--json"}, {"list", "demo.smc", "--json"}}) {
    result = gfx(args);
    ASSERT_EQ(result.exit_status, 0) << result.output;
    write_file(file("list.json"), {result.output.begin(), result.output.end()});
    const auto python = run_process("/usr/bin/python3", {"-c", check, file("list.json")});
    EXPECT_EQ(python.output,
              "kinds [('bitmap', 9), ('format 1', 261), ('format 15', 191), ('plain', 12)]\n");
  }

  write_file(file("short.smc"), std::vector<std::uint8_t>(0x1000, 0));
  result = gfx({"list", "short.smc"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.output.find("copier header"), std::string::npos) << result.output;
}

}  // namespace
}  // namespace tilvex
