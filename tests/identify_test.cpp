// Cartridge identification: the five refusals and the success line, in the
// order the checks run, both on the function and through the tool.
#include "app/identify.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/run.h"
#include "test_support.h"

namespace tilvex {
namespace {

const std::string kHeaderMessage = "This ROM does not have a 0x200 byte copier header.\n";
const std::string kSmallMessage = "This ROM is too small to be the correct ROM.\n";
const std::string kTitleMessage =
    "The ROM either has the wrong game title, or is in the wrong format.\n";
const std::string kCountryMessage =
    "This ROM is from the wrong country.  Only the US ROM is supported.\n";
const std::string kVersionMessage =
    "This ROM is the wrong version.  Only versions 1.0 and 1.1 are supported.\n";
const std::string kPrompt = "\nHit any key or click on the screen to exit.\n";

using Edit = std::function<void(std::vector<std::uint8_t>&)>;

void set_title(std::vector<std::uint8_t>& bytes, const char* title) {
  std::memcpy(bytes.data() + kTitleOffset, title, 21);
}

struct IdentifyCase {
  const char* name;
  std::uint32_t size;  // the cartridge size as measured by the front end
  Edit edit;
  std::string message;
  int result;
};

void PrintTo(const IdentifyCase& c, std::ostream* out) { *out << c.name; }

class IdentifyRom : public ::testing::TestWithParam<IdentifyCase> {};

// The header fields lie far below the minimum size, so a short file holding
// them is enough: the size checks only look at the recorded size.
TEST_P(IdentifyRom, PrintsOneMessageAndDecides) {
  const IdentifyCase& c = GetParam();
  std::vector<std::uint8_t> bytes = testing::make_cartridge(0x8200, 0);
  if (c.edit) c.edit(bytes);
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), stream), bytes.size());

  int result = -1;
  const std::string output =
      testing::captured([&](std::FILE* out) { result = identify_rom(stream, c.size, out); });
  std::fclose(stream);

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(output, c.message);
}

const std::uint32_t kMin = kMinimumCartridgeSize;
const std::string kVersion10 = "Quillfen Reach : Version 1.0 (US)\n";
const std::string kVersion11 = "Quillfen Reach : Version 1.1 (US)\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, IdentifyRom,
    ::testing::Values(
        IdentifyCase{"ExactMinimum", kMin, nullptr, kVersion10, 1},
        IdentifyCase{"MinimumPlus1024", kMin + 1024, nullptr, kVersion10, 1},
        IdentifyCase{"Version11", kMin, [](auto& b) { b[kVersionOffset] = 1; }, kVersion11, 1},
        // Only bit 0x200 is looked at.
        IdentifyCase{"MinimumPlus512", kMin + 512, nullptr, kHeaderMessage, 0},
        IdentifyCase{"EmptyFile", 0, nullptr, kHeaderMessage, 0},
        IdentifyCase{"HeaderBitButSmall", kMin - 1024, nullptr, kSmallMessage, 0},
        IdentifyCase{"TinyWithHeaderBit", 0x200, nullptr, kSmallMessage, 0},
        // The size checks come before any field is read.
        IdentifyCase{"SizeBeforeTitle", kMin + 512,
                     [](auto& b) { set_title(b, "SOMETHING ELSE       "); }, kHeaderMessage, 0},
        IdentifyCase{"LowerCaseTitle", kMin, [](auto& b) { set_title(b, "quillfen reach       "); },
                     kTitleMessage, 0},
        IdentifyCase{"ZeroPaddedTitle", kMin,
                     [](auto& b) { std::memset(b.data() + kTitleOffset + 14, 0, 7); },
                     kTitleMessage, 0},
        IdentifyCase{"LastTitleByteWrong", kMin, [](auto& b) { b[kTitleOffset + 20] = 'X'; },
                     kTitleMessage, 0},
        IdentifyCase{"TitleBeforeCountry", kMin,
                     [](auto& b) {
                       b[kTitleOffset] = 'X';
                       b[kCountryOffset] = 0;
                     },
                     kTitleMessage, 0},
        IdentifyCase{"CountryZero", kMin, [](auto& b) { b[kCountryOffset] = 0; }, kCountryMessage,
                     0},
        IdentifyCase{"CountryBeforeVersion", kMin,
                     [](auto& b) {
                       b[kCountryOffset] = 0;
                       b[kVersionOffset] = 9;
                     },
                     kCountryMessage, 0},
        IdentifyCase{"VersionTwo", kMin, [](auto& b) { b[kVersionOffset] = 2; }, kVersionMessage,
                     0},
        IdentifyCase{"VersionHighBit", kMin, [](auto& b) { b[kVersionOffset] = 0x80; },
                     kVersionMessage, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A file that is shorter than its recorded size (it shrank after it was
// measured) must be refused, never accepted on stale bytes.
TEST(IdentifyRom, UnreadableFieldsAreRefused) {
  std::vector<std::uint8_t> bytes = testing::make_cartridge(0x8200, 0);
  bytes.resize(kCountryOffset);  // title present, country and version missing
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
  int result = -1;
  const std::string output =
      testing::captured([&](std::FILE* out) { result = identify_rom(stream, kMin, out); });
  std::fclose(stream);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(output, kCountryMessage);
}

// Through the tool: the size is measured on the real file, the message follows
// the banner, and the run goes on to the wait with a failure status.
struct ToolCase {
  const char* name;
  std::uint32_t size;
  std::uint32_t offset;  // byte to change, 0 for none
  std::uint8_t value;
  std::string message;
};

void PrintTo(const ToolCase& c, std::ostream* out) { *out << c.name; }

class IdentifyThroughTool : public ::testing::TestWithParam<ToolCase> {};

TEST_P(IdentifyThroughTool, RefusesBeforeLoading) {
  const ToolCase& c = GetParam();
  testing::TempDir dir;
  std::vector<std::uint8_t> bytes = testing::make_cartridge(c.size, 0);
  if (c.offset != 0) bytes[c.offset] = c.value;
  testing::write_file(dir.file("game.smc"), bytes);
  for (const char* mode : {"0", "1"}) {
    std::vector<std::string> args = {mode, "game.smc"};
    if (std::string(mode) == "1") args.insert(args.begin() + 1, "120200");
    testing::ProcessResult run = testing::run_process(TILVEX_EXE, args, dir.path().string());
    EXPECT_EQ(run.output, std::string(kBanner) + c.message + kPrompt) << "mode " << mode;
    EXPECT_EQ(run.exit_status, 1);
  }
  EXPECT_EQ(testing::read_file(dir.file("game.smc")), bytes)
      << "a refused cartridge is never written";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IdentifyThroughTool,
    ::testing::Values(ToolCase{"NoCopierHeader", kMin + 512, 0, 0, kHeaderMessage},
                      ToolCase{"TooSmall", kMin - 1024, 0, 0, kSmallMessage},
                      ToolCase{"WrongTitle", kMin, kTitleOffset + 3, 'l', kTitleMessage},
                      ToolCase{"WrongCountry", kMin, kCountryOffset, 0, kCountryMessage},
                      ToolCase{"WrongVersion", kMin, kVersionOffset, 2, kVersionMessage}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IdentifyThroughTool, AcceptedCartridgeNamesItsVersion) {
  testing::TempDir dir;
  testing::write_file(dir.file("game.smc"), testing::make_cartridge(kMin + 1024, 1));
  // A graphics file in a directory that does not exist keeps the run from
  // writing anything, whatever happens after identification.
  testing::ProcessResult run =
      testing::run_process(TILVEX_EXE, {"0", "game.smc", "missing/out.bin"}, dir.path().string());
  EXPECT_EQ(run.output.rfind(std::string(kBanner) + kVersion11, 0), 0u) << run.output;
}

}  // namespace
}  // namespace tilvex
