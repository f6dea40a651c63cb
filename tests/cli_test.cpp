// The command line and the run: argument errors, quote removal, the address
// scan, the refusal to use the cartridge as graphics file, the order of a run
// and its exit status, and the ending report.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/run.h"
#include "common/hex.h"
#include "rom/image.h"
#include "test_support.h"

namespace tilvex {
namespace {

const std::string kPrompt = "\nHit any key or click on the screen to exit.\n";
const std::string kUsage =
    "Usage: tilvex 0 ROMFileName [FileToSaveAs]\n"
    "       tilvex 1 PCHexAddressToInsert ROMFileName [FileToInsert]\n\n"
    "Example: tilvex 0 qreach.smc AllGFX.bin\n"
    "         tilvex 1 120200 qreach.smc AllGFX.bin\n";

TEST(Banner, StartsWithTitleLinesAndEndsWithEmptyLine) {
  const std::string banner = kBanner;
  const std::string head =
      "\nQuillmoor Decompression/Recompression Program Version 1.00\n"
      "Created for Corvane : Quillfen Reach (SNES)\n";
  ASSERT_EQ(banner.rfind(head, 0), 0u);
  std::string credits = banner.substr(head.size());
  // Two credit lines, then an empty line.
  ASSERT_GE(credits.size(), 2u);
  EXPECT_EQ(credits.substr(credits.size() - 2), "\n\n");
  credits.pop_back();
  int lines = 0;
  for (char c : credits) lines += c == '\n';
  EXPECT_EQ(lines, 2);
  EXPECT_EQ(credits.find("\n\n"), std::string::npos) << "no empty credit line";
}

// ---- strip_quotes --------------------------------------------------------

struct QuoteCase {
  const char* name;
  std::string input;
  std::string expected;
  std::size_t result;
};

void PrintTo(const QuoteCase& c, std::ostream* out) { *out << c.name; }

class StripQuotes : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(StripQuotes, RemovesEveryQuoteUpTo260Characters) {
  const QuoteCase& c = GetParam();
  std::string name = c.input;
  EXPECT_EQ(strip_quotes(&name), c.result);
  EXPECT_EQ(name, c.expected);
}

std::string quoted(std::size_t total) {  // total characters, quotes included
  std::string name(total, 'a');
  name.front() = '"';
  name.back() = '"';
  return name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StripQuotes,
    ::testing::Values(QuoteCase{"Surrounding", "\"game.smc\"", "game.smc", 9},
                      QuoteCase{"Inside", "a\"b\"\"c", "abc", 4},
                      QuoteCase{"OnlyQuotes", "\"\"\"", "", 1},
                      QuoteCase{"NoQuotes", "plain", "plain", 6}, QuoteCase{"Empty", "", "", 1},
                      QuoteCase{"Exactly260", quoted(260), std::string(258, 'a'), 259},
                      QuoteCase{"Over260KeepsQuotes", quoted(261), quoted(261), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StripQuotes, MissingNameIsLeftAlone) { EXPECT_EQ(strip_quotes(nullptr), 0u); }

// ---- scan_hex ------------------------------------------------------------

struct HexCase {
  const char* name;
  const char* text;
  HexScan outcome;
  std::uint32_t value;  // expected value; 0xDEAD when it must be left alone
};

void PrintTo(const HexCase& c, std::ostream* out) { *out << c.name; }

class ScanHex : public ::testing::TestWithParam<HexCase> {};

TEST_P(ScanHex, ReadsLikeScanfWithoutOverflow) {
  const HexCase& c = GetParam();
  std::uint32_t value = 0xDEAD;
  EXPECT_EQ(scan_hex(c.text, &value), c.outcome);
  EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanHex,
    ::testing::Values(
        HexCase{"Plain", "120200", HexScan::Number, 0x120200},
        HexCase{"LowerCase", "1f9580", HexScan::Number, 0x1F9580},
        HexCase{"Prefix", "0x120200", HexScan::Number, 0x120200},
        HexCase{"UpperPrefix", "0X1F", HexScan::Number, 0x1F},
        HexCase{"LeadingBlanks", " \t 12", HexScan::Number, 0x12},
        HexCase{"Plus", "+10", HexScan::Number, 0x10},
        HexCase{"MinusWraps", "-1", HexScan::Number, 0xFFFFFFFF},
        HexCase{"TrailingIgnored", "12zz", HexScan::Number, 0x12},
        HexCase{"PrefixWithoutDigits", "0x", HexScan::Number, 0},
        HexCase{"PrefixThenLetter", "0xg", HexScan::Number, 0},
        HexCase{"Widest", "FFFFFFFF", HexScan::Number, 0xFFFFFFFF},
        HexCase{"LeadingZerosAreNotWidth", "0000000000120200", HexScan::Number, 0x120200},
        HexCase{"OneTooWide", "100000000", HexScan::TooWide, 0xDEAD},
        HexCase{"PrefixedTooWide", "0x100000000", HexScan::TooWide, 0xDEAD},
        HexCase{"NegativeTooWide", "-100000000", HexScan::TooWide, 0xDEAD},
        HexCase{"FarTooWide", "123456789ABCDEF0123456789ABCDEF", HexScan::TooWide, 0xDEAD},
        HexCase{"Letter", "x", HexScan::NoNumber, 0xDEAD},
        HexCase{"Empty", "", HexScan::NoNumber, 0xDEAD},
        HexCase{"BlankAfterSign", "- 5", HexScan::NoNumber, 0xDEAD},
        HexCase{"Quoted", "\"120200\"", HexScan::NoNumber, 0xDEAD}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScanHex, MissingTextHasNoNumber) {
  std::uint32_t value = 7;
  EXPECT_EQ(scan_hex(nullptr, &value), HexScan::NoNumber);
  EXPECT_EQ(value, 7u);
}

// ---- parse_arguments: what it records ------------------------------------

struct SettingsCase {
  const char* name;
  std::vector<std::string> args;  // after the program name
  RunMode mode;
  std::uint32_t address;
  std::string rom;
  std::optional<std::string> graphics;
};

void PrintTo(const SettingsCase& c, std::ostream* out) { *out << c.name; }

class ParseArguments : public ::testing::TestWithParam<SettingsCase> {};

// The cartridge does not exist, so parsing stops at opening it with every
// setting already recorded.
TEST_P(ParseArguments, RecordsTheSettings) {
  const SettingsCase& c = GetParam();
  std::vector<std::string> storage = {"tilvex"};
  storage.insert(storage.end(), c.args.begin(), c.args.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  RunSettings settings;
  int result = -1;
  const std::string output = testing::captured([&](std::FILE* out) {
    result = parse_arguments(static_cast<int>(storage.size()), argv.data(), &settings, out);
  });

  EXPECT_EQ(result, 0);
  EXPECT_EQ(output, std::string(kBanner) + "Unable to open the ROM: " + c.rom + "\n");
  EXPECT_EQ(settings.run_mode, c.mode);
  EXPECT_EQ(settings.insert_address, c.address);
  EXPECT_EQ(settings.rom_name, c.rom);
  EXPECT_EQ(settings.graphics_name, c.graphics);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseArguments,
    ::testing::Values(
        SettingsCase{
            "Extraction", {"0", "/nonexistent/q.smc"}, 0, 0, "/nonexistent/q.smc", std::nullopt},
        SettingsCase{"ExtractionCombined",
                     {"0", "/nonexistent/q.smc", "gfx.bin"},
                     0,
                     0,
                     "/nonexistent/q.smc",
                     "gfx.bin"},
        SettingsCase{"NotHexIsExtraction",
                     {"x", "/nonexistent/q.smc"},
                     0,
                     0,
                     "/nonexistent/q.smc",
                     std::nullopt},
        SettingsCase{"TwelveIsExtraction",
                     {"12", "/nonexistent/q.smc"},
                     0x12,
                     0,
                     "/nonexistent/q.smc",
                     std::nullopt},
        SettingsCase{"Insertion",
                     {"1", "120200", "/nonexistent/q.smc"},
                     1,
                     0x120200,
                     "/nonexistent/q.smc",
                     std::nullopt},
        SettingsCase{"InsertionAllBits",
                     {"111", "0x1F0000", "\"/nonexistent/q.smc\"", "\"gfx.bin\""},
                     0x111,
                     0x1F0000,
                     "/nonexistent/q.smc",
                     "gfx.bin"}),
    [](const auto& info) { return std::string(info.param.name); });

// An accepted cartridge is loaded whole, writable in insertion only: only then
// can a save reach the file.
TEST(ParseArguments, LoadsTheCartridgeWritableOnlyForInsertion) {
  testing::TempDir dir;
  const std::string rom = dir.file("game.smc");
  const std::vector<std::uint8_t> cartridge = testing::make_cartridge();
  testing::write_file(rom, cartridge);
  struct Case {
    std::vector<std::string> args;
    bool writable;
  };
  for (const Case& c : {Case{{"0", rom}, false}, Case{{"110", rom, "gfx.bin"}, false},
                        Case{{"1", "120200", rom}, true}, Case{{"111", "120200", rom}, true}}) {
    std::vector<std::string> storage = {"tilvex"};
    storage.insert(storage.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    RunSettings settings;
    int result = -1;
    const std::string output = testing::captured([&](std::FILE* out) {
      result = parse_arguments(static_cast<int>(storage.size()), argv.data(), &settings, out);
    });
    EXPECT_EQ(result, 1) << output;
    EXPECT_EQ(output, std::string(kBanner) + "Quillfen Reach : Version 1.0 (US)\n");
    EXPECT_EQ(settings.cartridge_size, cartridge.size());
    EXPECT_EQ(rom_size(), cartridge.size());
    EXPECT_EQ(rom_save(nullptr), c.writable ? 1 : 0) << c.args[0];
    EXPECT_TRUE(rom_close());
    EXPECT_EQ(testing::read_file(rom), cartridge);
  }
}

// ---- the tool: refusals before anything is opened ------------------------

struct RefusalCase {
  const char* name;
  std::vector<std::string> args;
  std::string message;  // everything between the banner and the prompt
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class CommandLine : public ::testing::TestWithParam<RefusalCase> {};

// The working directory holds game.smc (a file identification refuses, since
// all that matters here is whether it is reached), a hard link to it, a
// directory and a FIFO. No refusal may wait for anything but the key.
TEST_P(CommandLine, RefusesAndWaits) {
  const RefusalCase& c = GetParam();
  testing::TempDir dir;
  std::vector<std::uint8_t> content(0x1000, 0x5A);
  testing::write_file(dir.file("game.smc"), content);
  std::filesystem::create_hard_link(dir.path() / "game.smc", dir.path() / "linked.smc");
  std::filesystem::create_directory(dir.path() / "folder");
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(dir.file("pipe.smc").c_str(), 0644), 0);
#endif

  testing::Restrictions limits;
  limits.seconds = 30;
  testing::ProcessResult run =
      testing::run_process(TILVEX_EXE, c.args, dir.path().string(), limits);
  // The system's reasons ("tilvex: " lines) are worded by the system.
  EXPECT_EQ(testing::portable_reasons(run.output),
            testing::portable_reasons(std::string(kBanner) + c.message + kPrompt));
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(testing::read_file(dir.file("game.smc")), content);
}

const std::string kTooMany = "Too many parameters!\n";
const std::string kIdentical = "File names are identical... bad idea!\n";
const std::string kNoHeader = "This ROM does not have a 0x200 byte copier header.\n";
#ifdef _WIN32
// Names that differ in letter case lead to the same file.
const std::string kCaseDiffers = kIdentical;
#else
const std::string kCaseDiffers = kNoHeader;
#endif

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLine,
    ::testing::Values(
        RefusalCase{"NoArguments", {}, kUsage}, RefusalCase{"OnlyMode", {"0"}, kUsage},
        RefusalCase{"FiveArguments", {"1", "120200", "game.smc", "a.bin", "b.bin"}, kTooMany},
        RefusalCase{"FiveArgumentsModeNotRead", {"zz", "1", "2", "3", "4"}, kTooMany},
        RefusalCase{"ExtractionWithFour", {"0", "game.smc", "a.bin", "b.bin"}, kTooMany},
        RefusalCase{"ExtractionBitsWithFour", {"110", "game.smc", "a.bin", "b.bin"}, kTooMany},
        RefusalCase{"InsertionWithoutCartridge", {"1", "120200"}, "Not enough parameters!\n"},
        RefusalCase{
            "NoWaitInsertionWithoutCartridge", {"101", "120200"}, "Not enough parameters!\n"},
        RefusalCase{"AddressNotHex", {"1", "zz", "game.smc"}, "Invalid insertion address: zz\n"},
        RefusalCase{"AddressEmpty", {"1", "", "game.smc"}, "Invalid insertion address: \n"},
        RefusalCase{"AddressTooWide",
                    {"1", "100000000", "game.smc", "gfx.bin"},
                    "Invalid insertion address: 100000000\n"},
        RefusalCase{"ModeTooWide", {"100000001", "game.smc"}, "Invalid mode word: 100000001\n"},
        RefusalCase{"SameName", {"0", "game.smc", "game.smc"}, kIdentical},
        RefusalCase{"SameAfterQuotes", {"0", "\"game.smc\"", "game.smc"}, kIdentical},
        RefusalCase{"SamePathOtherSpelling", {"0", "./game.smc", "game.smc"}, kIdentical},
        RefusalCase{"HardLink", {"1", "120200", "game.smc", "linked.smc"}, kIdentical},
        RefusalCase{"SameMissingName", {"0", "new.smc", "new.smc"}, kIdentical},
        RefusalCase{"CaseDiffers", {"0", "game.smc", "GAME.smc"}, kCaseDiffers},
        // Unopenable cartridges: the system's reason follows on the error
        // stream. Only a regular file is a cartridge, and a FIFO is refused
        // without waiting for a writer.
        RefusalCase{"MissingCartridge",
                    {"0", "missing.smc"},
                    "Unable to open the ROM: missing.smc\n"
                    "tilvex: missing.smc: No such file or directory\n"},
        RefusalCase{"DirectoryForInsertion",
                    {"1", "120200", "folder"},
                    "Unable to open the ROM: folder\ntilvex: folder: Is a directory\n"},
        RefusalCase{"DirectoryForExtraction",
                    {"0", "folder"},
                    "Unable to open the ROM: folder\ntilvex: folder: not a regular file\n"}),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// FIFOs and devices, which only these systems offer by name.
INSTANTIATE_TEST_SUITE_P(
    NotRegularFiles, CommandLine,
    ::testing::Values(
        RefusalCase{"FifoForExtraction",
                    {"0", "pipe.smc", "gfx.bin"},
                    "Unable to open the ROM: pipe.smc\ntilvex: pipe.smc: not a regular file\n"},
        RefusalCase{"FifoForInsertion",
                    {"1", "120200", "pipe.smc"},
                    "Unable to open the ROM: pipe.smc\ntilvex: pipe.smc: not a regular file\n"},
        RefusalCase{"Device",
                    {"0", "/dev/zero"},
                    "Unable to open the ROM: /dev/zero\ntilvex: /dev/zero: not a regular file\n"}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

// ---- the run after a cartridge is accepted -------------------------------

// Extraction into a file that cannot be created fails whatever the cartridge
// holds, so the run reaches extraction and reports the failure.
TEST(Run, FailedExtractionSaysFailedAndWaits) {
  testing::TempDir dir;
  std::vector<std::uint8_t> cartridge = testing::make_cartridge();
  testing::write_file(dir.file("game.smc"), cartridge);
  for (const char* mode : {"0", "100"}) {
    testing::ProcessResult run = testing::run_process(
        TILVEX_EXE, {mode, "game.smc", "missing/gfx.bin"}, dir.path().string());
    const std::string start =
        std::string(kBanner) + "Quillfen Reach : Version 1.0 (US)\nDecompressing...\n";
    EXPECT_EQ(run.output.rfind(start, 0), 0u) << run.output;
    const std::string end = "Failed!\n" + kPrompt;
    ASSERT_GE(run.output.size(), end.size());
    EXPECT_EQ(run.output.substr(run.output.size() - end.size()), end) << run.output;
    EXPECT_EQ(run.exit_status, 1);
  }
  EXPECT_EQ(testing::read_file(dir.file("game.smc")), cartridge);
}

// Insertion from a graphics file that does not exist fails; the cartridge
// file must keep every byte, and a failure waits even with the no-wait bit.
TEST(Run, FailedInsertionChangesNothingAndWaits) {
  testing::TempDir dir;
  std::vector<std::uint8_t> cartridge = testing::make_cartridge();
  testing::write_file(dir.file("game.smc"), cartridge);
  for (const char* mode : {"1", "101", "111"}) {
    testing::ProcessResult run = testing::run_process(
        TILVEX_EXE, {mode, "120200", "game.smc", "missing.bin"}, dir.path().string());
    const std::string start =
        std::string(kBanner) + "Quillfen Reach : Version 1.0 (US)\nRecompressing...\n";
    EXPECT_EQ(run.output.rfind(start, 0), 0u) << run.output;
    const std::string end = "Failed!  No changes made to ROM.\n" + kPrompt;
    ASSERT_GE(run.output.size(), end.size());
    EXPECT_EQ(run.output.substr(run.output.size() - end.size()), end) << run.output;
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(testing::read_file(dir.file("game.smc")), cartridge) << "mode " << mode;
  }
}

// Whatever extraction makes of a generated cartridge, the ending line, the
// exit status and the wait must agree with each other.
TEST(Run, ExtractionOutcomeDecidesStatusAndWait) {
  for (const char* mode : {"0", "100"}) {
    testing::TempDir dir;
    testing::write_file(dir.file("game.smc"), testing::make_cartridge());
    testing::ProcessResult run =
        testing::run_process(TILVEX_EXE, {mode, "game.smc", "gfx.bin"}, dir.path().string());
    ASSERT_NE(run.output.find("Decompressing...\n"), std::string::npos) << run.output;
    const bool done = run.output.find("\nDone!\n") != std::string::npos;
    const bool waits = run.output.find(kPrompt) != std::string::npos;
    EXPECT_NE(done, run.output.find("\nFailed!\n") != std::string::npos);
    EXPECT_EQ(run.exit_status, done ? 0 : 1);
    EXPECT_EQ(waits, !(done && std::string(mode) == "100")) << run.output;
  }
}

// ---- the ending report ---------------------------------------------------

struct ReportCase {
  std::uint32_t ending;
  std::string text;
};

void PrintTo(const ReportCase& c, std::ostream* out) { *out << std::hex << c.ending; }

class EndingReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(EndingReport, ShowsFreeSpaceOnlyInsideTheRegion) {
  EXPECT_EQ(testing::captured([](std::FILE* out) { print_ending_report(GetParam().ending, out); }),
            GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndingReport,
    ::testing::Values(
        ReportCase{0x1F9580, "Done!\nEnding Address: 0x1F9580, Free Space: 0x0 bytes.\n"},
        ReportCase{0x1F957F, "Done!\nEnding Address: 0x1F957F, Free Space: 0x1 bytes.\n"},
        ReportCase{0x120201, "Done!\nEnding Address: 0x120201, Free Space: 0xD937F bytes.\n"},
        ReportCase{0x120200, "Done!\nEnding Address: 0x120200.\n"},
        ReportCase{0x1F9581, "Done!\nEnding Address: 0x1F9581.\n"},
        ReportCase{0x000010, "Done!\nEnding Address: 0x000010.\n"},
        ReportCase{0x2001FF, "Done!\nEnding Address: 0x2001FF.\n"}));

}  // namespace
}  // namespace tilvex
