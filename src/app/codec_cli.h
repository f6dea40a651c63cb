// The command line of tilvex-codec: compresses a whole file into one stream,
// or decodes one stream out of a cartridge image, in format 1 or format 15.
// Parsing is separate from running so that both can be tested on their own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tilvex {

// Exit statuses of tilvex-codec.
inline constexpr int kCodecExitOk = 0;
inline constexpr int kCodecExitFailed = 1;  // the work could not be done
inline constexpr int kCodecExitUsage = 2;   // the command line is malformed

enum class CodecVerb { Help, Version, Compress, Decompress };

struct CodecRequest {
  CodecVerb verb = CodecVerb::Help;
  std::uint32_t format = 0;
  std::uint32_t tile_rows = 0;  // format 15; 0 when not given
  std::uint32_t offset = 0;     // decompress: file offset of the stream
  bool quiet = false;           // no one-line report
  std::string input;            // '-' is standard input
  std::string output;           // '-' is standard output
};

extern const char* const kCodecUsageText;

// Reads the arguments after the program name into request. Returns
// kCodecExitOk, or kCodecExitUsage with problem set to a one-line description.
int parse_codec_arguments(int argc, const char* const* argv, CodecRequest* request,
                          std::string* problem);

// Carries out a parsed request: prints its one-line report to out (to err
// when OUTPUT is standard output), or a problem to err. OUTPUT is written only
// when everything succeeded. Returns the exit status.
int run_codec_request(const CodecRequest& request, std::FILE* out, std::FILE* err);

// The whole program: argv[0] is the program name.
int codec_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace tilvex
