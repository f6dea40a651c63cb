// tilvex-codec: argument parsing, round trips through the executable, and its
// failures, which must leave OUTPUT as it was.
#include "app/codec_cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codec/format1.h"
#include "sample_data.h"
#include "test_support.h"

namespace tilvex {
namespace {

using testing::Bytes;

struct ParseCase {
  std::vector<const char*> args;  // after the program name
  int status;
  CodecVerb verb = CodecVerb::Help;
  std::uint32_t format = 0;
  std::uint32_t rows = 0;
  std::uint32_t offset = 0;
};

TEST(CodecCli, ParsesArguments) {
  using V = CodecVerb;
  const ParseCase cases[] = {
      {{"--help"}, kCodecExitOk},
      {{"compress", "--format", "1", "in", "out", "-h"}, kCodecExitOk},
      {{"compress", "--format", "1", "in", "out"}, kCodecExitOk, V::Compress, 1},
      {{"compress", "in", "--format", "15", "out"}, kCodecExitOk, V::Compress, 15},
      {{"compress", "--format", "15", "--rows", "20", "in", "out"},
       kCodecExitOk,
       V::Compress,
       15,
       32},
      {{"decompress", "--format", "1", "--offset", "1a2B", "in", "out"},
       kCodecExitOk,
       V::Decompress,
       1,
       0,
       0x1A2B},
      {{"decompress", "--format", "1", "--offset", "0x200", "in", "out"},
       kCodecExitOk,
       V::Decompress,
       1,
       0,
       0x200},
      {{"decompress", "--format", "15", "--rows", "0x2A", "in", "out"},
       kCodecExitOk,
       V::Decompress,
       15,
       42},
      // Malformed command lines.
      {{}, kCodecExitUsage},
      {{"squeeze", "--format", "1", "in", "out"}, kCodecExitUsage},
      {{"compress", "--format", "1", "in"}, kCodecExitUsage},
      {{"compress", "--format", "1", "in", "out", "more"}, kCodecExitUsage},
      {{"compress", "in", "out"}, kCodecExitUsage},
      {{"compress", "--format"}, kCodecExitUsage},
      {{"compress", "--format", "1", "--format", "1", "in", "out"}, kCodecExitUsage},
      {{"compress", "--level", "9", "in", "out"}, kCodecExitUsage},
      {{"compress", "--format", "1", "--offset", "10", "in", "out"}, kCodecExitUsage},
      {{"compress", "--format", "1", "--rows", "4", "in", "out"}, kCodecExitUsage},
      {{"compress", "--format", "15", "--rows", "four", "in", "out"}, kCodecExitUsage},
      {{"decompress", "--format", "1", "--offset", "zz", "in", "out"}, kCodecExitUsage},
      // Numbers are whole hexadecimal numbers of at most 32 bits.
      {{"decompress", "--format=1", "--offset=000FFFFFFFF", "--", "in", "out"},
       kCodecExitOk,
       V::Decompress,
       1,
       0,
       0xFFFFFFFF},
      {{"decompress", "--format", "1", "--offset", "100000000", "in", "out"}, kCodecExitUsage},
      {{"decompress", "--format", "1", "--offset", "0x", "in", "out"}, kCodecExitUsage},
      {{"decompress", "--format", "1", "--offset", "+200", "in", "out"}, kCodecExitUsage},
      {{"decompress", "--format", "1", "--offset", "200 ", "in", "out"}, kCodecExitUsage},
      {{"decompress", "--format", "15", "in", "out"}, kCodecExitUsage},
      // Values out of range are usage errors too.
      {{"compress", "--format", "2", "in", "out"}, kCodecExitUsage},
      {{"decompress", "--format", "one", "in", "out"}, kCodecExitUsage},
      {{"compress", "--format", "15", "--rows", "0", "in", "out"}, kCodecExitUsage},
      {{"compress", "--format", "15", "--rows", "21", "in", "out"}, kCodecExitUsage},
      {{"decompress", "--format", "15", "--rows", "2B", "in", "out"}, kCodecExitUsage},
  };
  for (const ParseCase& c : cases) {
    std::vector<const char*> argv = {"tilvex-codec"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string trace;
    for (const char* a : c.args) trace += std::string(a) + " ";
    SCOPED_TRACE(trace);
    CodecRequest request;
    std::string problem;
    ASSERT_EQ(parse_codec_arguments(static_cast<int>(argv.size()), argv.data(), &request, &problem),
              c.status);
    if (c.status != kCodecExitOk) {
      EXPECT_FALSE(problem.empty());
      continue;
    }
    EXPECT_EQ(request.verb, c.verb);
    if (c.verb == CodecVerb::Help) continue;
    EXPECT_EQ(request.format, c.format);
    EXPECT_EQ(request.tile_rows, c.rows);
    EXPECT_EQ(request.offset, c.offset);
    EXPECT_EQ(request.input, "in");
    EXPECT_EQ(request.output, "out");
  }
}

testing::ProcessResult codec(const std::vector<std::string>& args, const testing::TempDir& dir) {
  return testing::run_process(TILVEX_CODEC_EXE, args, dir.path().string());
}

TEST(CodecCli, RoundTripsAFileThroughTheExecutable) {
  testing::TempDir dir;
  testing::SampleRng rng(3);
  const Bytes plain = testing::tile_graphics(rng, 8192);
  testing::write_file(dir.file("plain.bin"), plain);

  const auto packed = codec({"compress", "--format", "1", "plain.bin", "packed.bin"}, dir);
  ASSERT_EQ(packed.exit_status, 0) << packed.output;
  const Bytes stream = testing::read_file(dir.file("packed.bin"));
  char line[96];
  std::snprintf(line, sizeof line, "input 0x2000 bytes, output 0x%zX bytes\n", stream.size());
  EXPECT_EQ(packed.output, line);

  // The stream inside a larger image, decoded from its offset.
  Bytes image(0x1234 + stream.size() + 100, 0x55);
  std::fill_n(image.begin(), 0x1234, 0x77);
  std::copy(stream.begin(), stream.end(), image.begin() + 0x1234);
  testing::write_file(dir.file("image.bin"), image);
  const auto unpacked =
      codec({"decompress", "--format", "1", "--offset", "1234", "image.bin", "unpacked.bin"}, dir);
  ASSERT_EQ(unpacked.exit_status, 0) << unpacked.output;
  EXPECT_EQ(testing::read_file(dir.file("unpacked.bin")), plain);
  std::snprintf(line, sizeof line, "input 0x%zX bytes, output 0x2000 bytes, stream end 0x%zX\n",
                image.size(), 0x1234 + stream.size());
  EXPECT_EQ(unpacked.output, line);
}

TEST(CodecCli, RoundTripsTilesThroughFormat15) {
  testing::TempDir dir;
  testing::SampleRng rng(5);
  const Bytes tiles = testing::tile_graphics(rng, 8 * 512);
  testing::write_file(dir.file("tiles.bin"), tiles);
  const auto packed =
      codec({"compress", "--format", "15", "tiles.bin", "packed.bin"}, dir);  // 8 rows by default
  ASSERT_EQ(packed.exit_status, 0) << packed.output;
  const auto unpacked =
      codec({"decompress", "--format", "15", "--rows", "8", "packed.bin", "unpacked.bin"}, dir);
  ASSERT_EQ(unpacked.exit_status, 0) << unpacked.output;
  EXPECT_EQ(testing::read_file(dir.file("unpacked.bin")), tiles);
}

TEST(CodecCli, HelpGoesToStandardOutput) {
  testing::TempDir dir;
  const auto help = codec({"--help"}, dir);
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.output, kCodecUsageText);
}

struct FailureCase {
  std::string name;
  std::vector<std::string> args;
  int status;
  std::string message;  // part of what is printed
};

// Every failure leaves OUTPUT as it was and no temporary file behind.
TEST(CodecCli, FailuresLeaveTheOutputAlone) {
  testing::TempDir dir;
  testing::SampleRng rng(4);
  testing::write_file(dir.file("small.bin"), Bytes(1000, 0x11));
  testing::write_file(dir.file("big.bin"), Bytes(0x10001, 0));
  testing::write_file(dir.file("noise.bin"), testing::small_alphabet(rng, 0x10000, 256));
  testing::write_file(dir.file("odd.bin"), Bytes(700, 0));
  testing::write_file(dir.file("rows.bin"), Bytes(1024, 0));
  const FailureCase cases[] = {
      {"MissingInput",
       {"compress", "--format", "1", "missing.bin", "out.bin"},
       1,
       "cannot read missing.bin"},
      {"InputTooLarge",
       {"compress", "--format", "1", "big.bin", "out.bin"},
       1,
       "larger than 0x10000 bytes"},
      {"StreamTooLong",
       {"compress", "--format", "1", "noise.bin", "out.bin"},
       1,
       "encoder refused"},
      {"UnknownFormat",
       {"compress", "--format", "7", "small.bin", "out.bin"},
       2,
       "unknown format '7'"},
      {"OffsetPastTheEnd",
       {"decompress", "--format", "1", "--offset", "3E8", "small.bin", "out.bin"},
       1,
       "offset 0x3E8 is past the end"},
      {"NotWholeTileRows",
       {"compress", "--format", "15", "odd.bin", "out.bin"},
       1,
       "not a whole number of tile rows"},
      {"RowsDoNotMatch",
       {"compress", "--format", "15", "--rows", "3", "rows.bin", "out.bin"},
       1,
       "3 tile rows take 0x600 bytes"},
      {"TooManyRows",
       {"decompress", "--format", "15", "--rows", "2B", "small.bin", "out.bin"},
       2,
       "1 to 0x2A"},
      {"OutputDirectoryMissing",
       {"compress", "--format", "1", "small.bin", "no/such/dir/out.bin"},
       1,
       "cannot write no/such/dir/out.bin"},
      {"NoArguments", {}, 2, "missing command"},
      {"MissingOutput", {"compress", "--format", "1", "small.bin"}, 2, "expected INPUT and OUTPUT"},
  };
  const Bytes before = {'k', 'e', 'e', 'p'};
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    testing::write_file(dir.file("out.bin"), before);
    const auto result = codec(c.args, dir);
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
    EXPECT_EQ(testing::read_file(dir.file("out.bin")), before);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
      ++files;
    EXPECT_EQ(files, 6u);  // the inputs and out.bin, nothing else
  }
}

// The report goes to standard output, problems to standard error.
TEST(CodecCli, WritesReportsAndProblemsToTheirStreams) {
  testing::TempDir dir;
  testing::write_file(dir.file("in.bin"), Bytes(40, 0));
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  ASSERT_TRUE(out && err);
  const std::string input = dir.file("in.bin"), output = dir.file("out.bin");
  const char* good[] = {"tilvex-codec", "compress", "--format", "1", input.c_str(), output.c_str()};
  EXPECT_EQ(codec_main(6, good, out, err), kCodecExitOk);
  const char* bad[] = {"tilvex-codec", "compress", "--format",    "1",
                       "--offset",     "1",        input.c_str(), output.c_str()};
  EXPECT_EQ(codec_main(8, bad, out, err), kCodecExitUsage);
  auto contents = [](std::FILE* f) {
    std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    return text;
  };
  EXPECT_EQ(contents(out), "input 0x28 bytes, output 0x4 bytes\n");
  EXPECT_EQ(
      contents(err),
      "tilvex-codec: --offset applies to decompress only\nRun 'tilvex-codec --help' for usage.\n");
  EXPECT_EQ(testing::read_file(output), (Bytes{0xE4, 0x27, 0x00, 0xFF}));
}

}  // namespace
}  // namespace tilvex
