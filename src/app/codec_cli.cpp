// tilvex-codec's command line: the usage text, argument parsing and the
// program as a whole. The work itself is in codec_run.cpp.
#include "app/codec_cli.h"

#include <cstdio>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/format15.h"
#include "common/hex.h"

namespace tilvex {

const char* const kCodecUsageText =
    "usage: tilvex-codec compress   --format 1 [-q] INPUT OUTPUT\n"
    "       tilvex-codec compress   --format 15 [--rows N] [-q] INPUT OUTPUT\n"
    "       tilvex-codec decompress --format 1 [--offset HEX] [-q] INPUT OUTPUT\n"
    "       tilvex-codec decompress --format 15 --rows N [--offset HEX] [-q] INPUT OUTPUT\n"
    "       tilvex-codec --help | --version\n"
    "\n"
    "compress    writes the stream for the whole INPUT. Format 1 takes at most\n"
    "            0x10000 bytes; format 15 takes 0x200 bytes of tiles per tile\n"
    "            row, N rows from 1 to 0x20 (by default the input size / 0x200).\n"
    "decompress  decodes the stream that starts at byte HEX (default 0) of INPUT,\n"
    "            a cartridge image or any file, and writes the decoded bytes.\n"
    "            Format 15 needs the number of tile rows, 1 to 0x2A. A stream\n"
    "            that needs bytes past the end of INPUT is an error.\n"
    "\n"
    "  --format 1|15  the compression format\n"
    "  --rows N       tile rows of a format 15 picture\n"
    "  --offset HEX   where the stream starts in INPUT\n"
    "  -q, --quiet    no report line\n"
    "  -h, --help     this text\n"
    "  -V, --version  the version\n"
    "\n"
    "Numbers are hexadecimal, with or without 0x, of at most 32 bits. INPUT '-'\n"
    "reads standard input, OUTPUT '-' writes standard output. OUTPUT is written\n"
    "only when everything succeeded: a file is replaced at once (through a\n"
    "symbolic link, its target), a device or FIFO is written to.\n"
    "\n"
    "Reports the input and output sizes and, for decompress, the offset just\n"
    "past the stream (on standard error when OUTPUT is standard output).\n"
    "Exit status: 0 done, 1 failed, 2 usage error.\n";

namespace {

int usage_problem(std::string* problem, std::string text) {
  *problem = std::move(text);
  return kCodecExitUsage;
}

std::string not_a_number(const std::string& option, const char* value) {
  return option + " '" + value + "' is not a hexadecimal number of at most 32 bits";
}

}  // namespace

int parse_codec_arguments(int argc, const char* const* argv, CodecRequest* request,
                          std::string* problem) {
  *request = CodecRequest{};
  if (argc < 2) return usage_problem(problem, "missing command");
  const std::string verb = argv[1];
  if (verb == "--help" || verb == "-h" || verb == "help") return kCodecExitOk;
  if (verb == "--version" || verb == "-V") {
    request->verb = CodecVerb::Version;
    return kCodecExitOk;
  }
  if (verb == "compress") {
    request->verb = CodecVerb::Compress;
  } else if (verb == "decompress") {
    request->verb = CodecVerb::Decompress;
  } else {
    return usage_problem(problem, "unknown command '" + verb + "'");
  }

  std::string format, rows, offset;
  bool have_format = false, have_rows = false, have_offset = false, options_done = false;
  std::vector<std::string> files;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      files.push_back(arg);
      continue;
    }
    std::string name = arg, value;
    bool inline_value = false;
    if (const auto equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      inline_value = true;
    }
    if (name == "--") {
      options_done = true;
      continue;
    }
    if (name == "--help" || name == "-h") {
      request->verb = CodecVerb::Help;
      return kCodecExitOk;
    }
    if (name == "--version" || name == "-V") {
      request->verb = CodecVerb::Version;
      return kCodecExitOk;
    }
    if ((name == "-q" || name == "--quiet") && !inline_value) {
      request->quiet = true;
      continue;
    }
    std::string* slot = name == "--format"   ? &format
                        : name == "--rows"   ? &rows
                        : name == "--offset" ? &offset
                                             : nullptr;
    bool* seen = name == "--format" ? &have_format : name == "--rows" ? &have_rows : &have_offset;
    if (slot == nullptr) return usage_problem(problem, "unknown option '" + arg + "'");
    if (!inline_value) {
      if (i + 1 >= argc) return usage_problem(problem, name + " needs a value");
      value = argv[++i];
    }
    if (*seen) return usage_problem(problem, name + " given twice");
    *seen = true;
    *slot = value;
  }
  if (files.size() != 2) return usage_problem(problem, "expected INPUT and OUTPUT");
  request->input = files[0];
  request->output = files[1];
  if (request->input.empty() || request->output.empty()) {
    return usage_problem(problem, "INPUT and OUTPUT need names");
  }
  if (!have_format) return usage_problem(problem, "missing --format");
  const bool decompressing = request->verb == CodecVerb::Decompress;
  if (have_offset) {
    if (!decompressing) return usage_problem(problem, "--offset applies to decompress only");
    if (!parse_hex_argument(offset, &request->offset)) {
      return usage_problem(problem, not_a_number("--offset", offset.c_str()));
    }
  }
  // Formats are named, not counted: "1" and "15" only.
  if (format == "1") {
    request->format = kFormat1;
  } else if (format == "15") {
    request->format = kFormat15;
  } else {
    return usage_problem(problem, "unknown format '" + format + "' (formats 1 and 15 exist)");
  }
  if (have_rows) {
    if (request->format != kFormat15) {
      return usage_problem(problem, "--rows applies to format 15 only");
    }
    if (!parse_hex_argument(rows, &request->tile_rows)) {
      return usage_problem(problem, not_a_number("--rows", rows.c_str()));
    }
    const std::uint32_t most = decompressing ? kFormat15MaxDecodeRows : kFormat15MaxEncodeRows;
    if (request->tile_rows < 1 || request->tile_rows > most) {
      char text[120];
      std::snprintf(text, sizeof text, "--rows 0x%X is out of range: %s takes 1 to 0x%X tile rows",
                    request->tile_rows, decompressing ? "decompress" : "compress", most);
      return usage_problem(problem, text);
    }
  } else if (request->format == kFormat15 && decompressing) {
    return usage_problem(problem, "decompress --format 15 needs --rows");
  }
  return kCodecExitOk;
}

int codec_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  CodecRequest request;
  std::string problem;
  const int status = parse_codec_arguments(argc, argv, &request, &problem);
  if (status != kCodecExitOk) {
    std::fprintf(err, "tilvex-codec: %s\n", problem.c_str());
    std::fputs("Run 'tilvex-codec --help' for usage.\n", err);
    return status;
  }
  return run_codec_request(request, out, err);
}

}  // namespace tilvex
