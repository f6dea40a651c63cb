// tilvex-codec: a thin command line over the format 1 and format 15 codecs.
//
// compress reads the whole input file and writes its stream; decompress loads
// the input file as a cartridge image of its own (the process-wide image
// store is not involved) and decodes the stream at a file offset. OUTPUT is
// replaced atomically only once it is complete, so a failure never leaves it
// half written or changed.
#include "app/codec_cli.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "codec/codec.h"
#include "codec/format1.h"
#include "codec/format15.h"
#include "common/resources.h"
#include "common/types.h"
#include "platform/files.h"

namespace tilvex {

const char* const kCodecUsageText =
    "usage: tilvex-codec compress --format 1 INPUT OUTPUT\n"
    "       tilvex-codec compress --format 15 [--rows N] INPUT OUTPUT\n"
    "       tilvex-codec decompress --format 1 [--offset HEX] INPUT OUTPUT\n"
    "       tilvex-codec decompress --format 15 --rows N [--offset HEX] INPUT OUTPUT\n"
    "\n"
    "compress    writes the stream for the whole INPUT file. Format 1 takes at\n"
    "            most 65536 bytes; format 15 takes 512 bytes of tiles per tile\n"
    "            row, N rows from 1 to 32 (by default the input size / 512).\n"
    "decompress  decodes the stream that starts at file offset HEX (hexadecimal,\n"
    "            default 0) of the cartridge image INPUT and writes the decoded\n"
    "            bytes. Format 15 needs the number of tile rows, 1 to 42.\n"
    "\n"
    "Prints the input and output sizes and, for decompress, the file offset\n"
    "just past the stream. Exit status: 0 done, 1 failed, 2 usage error.\n";

namespace {

constexpr std::uint32_t kTileRowBytes = 512;

bool parse_decimal(const char* text, std::uint32_t* value) {
  if (*text == '\0') return false;
  std::uint64_t v = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(*c - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<std::uint32_t>(v);
  return true;
}

// Hexadecimal as "%X" scanning reads it.
bool parse_hex(const char* text, std::uint32_t* value) {
  unsigned int v = 0;
  if (std::sscanf(text, "%X", &v) != 1) return false;
  *value = v;
  return true;
}

int usage_problem(std::string* problem, std::string text) {
  *problem = std::move(text);
  return kCodecExitUsage;
}

std::string hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// Reads at most limit bytes of the file; *whole tells whether that was all
// of it. Fails with a message naming the file.
bool read_file(const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>* bytes,
               bool* whole, std::string* problem) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *problem = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  bytes->clear();
  std::uint8_t chunk[65536];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    if (got == 0) break;
    const std::size_t keep =
        static_cast<std::size_t>(std::min<std::uint64_t>(got, limit + 1 - bytes->size()));
    bytes->insert(bytes->end(), chunk, chunk + keep);
    if (bytes->size() > limit) break;
  }
  if (std::ferror(file.get())) {
    *problem = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  *whole = bytes->size() <= limit;
  if (!*whole) bytes->resize(limit);
  return true;
}

// Replaces path with the bytes atomically (the shared file replacement).
bool write_file_replacing(const std::string& path, const std::uint8_t* data, std::size_t size,
                          std::string* problem) {
  platform::FileReplacement replacement;
  std::string reason;
  if (!replacement.begin(path.c_str(), &reason) || !replacement.write(data, size, &reason) ||
      !replacement.commit(&reason)) {
    *problem = "cannot write " + path + ": " + reason;
    return false;
  }
  return true;
}

int compress(const CodecRequest& request, std::FILE* out, std::FILE* err) {
  std::string problem;
  std::vector<std::uint8_t> input;
  bool whole = false;
  const std::uint32_t limit =
      request.format == kFormat1 ? kOutputLimit : kFormat15MaxEncodeRows * kTileRowBytes;
  if (!read_file(request.input, limit, &input, &whole, &problem)) {
    std::fprintf(err, "tilvex-codec: %s\n", problem.c_str());
    return kCodecExitFailed;
  }
  if (!whole) {
    std::fprintf(err, "tilvex-codec: %s is larger than %s bytes, the most format %u compresses\n",
                 request.input.c_str(), hex(limit).c_str(), request.format);
    return kCodecExitFailed;
  }
  const auto size = static_cast<std::uint32_t>(input.size());
  const std::uint8_t none = 0;
  const std::uint8_t* source = input.empty() ? &none : input.data();
  std::vector<std::uint8_t> stream(kOutputLimit);
  std::uint32_t length;
  if (request.format == kFormat1) {
    length = format1_encode(source, size, stream.data(), kOutputLimit).produced;
  } else {
    if (size % kTileRowBytes != 0) {
      std::fprintf(err,
                   "tilvex-codec: %s has %s bytes, not a whole number of tile rows of 512 bytes\n",
                   request.input.c_str(), hex(size).c_str());
      return kCodecExitFailed;
    }
    const std::uint32_t rows = request.tile_rows != 0 ? request.tile_rows : size / kTileRowBytes;
    if (rows == 0) {
      std::fprintf(err, "tilvex-codec: %s is empty; format 15 needs 1 to 32 tile rows\n",
                   request.input.c_str());
      return kCodecExitFailed;
    }
    if (size != rows * kTileRowBytes) {
      std::fprintf(err, "tilvex-codec: %s has %s bytes, but %u tile rows take %s bytes\n",
                   request.input.c_str(), hex(size).c_str(), rows,
                   hex(rows * kTileRowBytes).c_str());
      return kCodecExitFailed;
    }
    length = format15_encode(source, size, stream.data(), kOutputLimit, rows).produced;
  }
  if (length == 0 || length > kOutputLimit) {
    std::fprintf(err, "tilvex-codec: the format %u encoder refused %s\n", request.format,
                 request.input.c_str());
    return kCodecExitFailed;
  }
  if (!write_file_replacing(request.output, stream.data(), length, &problem)) {
    std::fprintf(err, "tilvex-codec: %s\n", problem.c_str());
    return kCodecExitFailed;
  }
  std::fprintf(out, "input %s bytes, output %s bytes\n", hex(size).c_str(), hex(length).c_str());
  return kCodecExitOk;
}

int decompress(const CodecRequest& request, std::FILE* out, std::FILE* err) {
  std::string problem;
  std::vector<std::uint8_t> bytes;
  bool whole = false;
  if (!read_file(request.input, 0xFFFFFFFFu, &bytes, &whole, &problem)) {
    std::fprintf(err, "tilvex-codec: %s\n", problem.c_str());
    return kCodecExitFailed;
  }
  if (!whole) {
    std::fprintf(err, "tilvex-codec: %s is too large for a cartridge image\n",
                 request.input.c_str());
    return kCodecExitFailed;
  }
  if (request.offset >= bytes.size()) {
    std::fprintf(err, "tilvex-codec: offset %s is past the end of %s (%s bytes)\n",
                 hex(request.offset).c_str(), request.input.c_str(), hex(bytes.size()).c_str());
    return kCodecExitFailed;
  }
  const auto input_size = static_cast<std::uint32_t>(bytes.size());
  std::vector<std::uint8_t> plain(kOutputLimit);
  DecodeResult result;
  if (request.format == kFormat1) {
    result = format1_decode(bytes.data(), input_size, request.offset, plain.data(), kOutputLimit);
  } else {
    result = format15_decode(bytes.data(), input_size, request.offset, plain.data(), kOutputLimit,
                             request.tile_rows);
  }
  if (result.status == CodecStatus::out_of_memory) {
    std::fprintf(err, "tilvex-codec: not enough memory to decode\n");
    return kCodecExitFailed;
  }
  if (result.status != CodecStatus::ok || (request.format == kFormat15 && result.produced == 0)) {
    std::fprintf(
        err,
        "tilvex-codec: the stream at %s of %s does not decode as format 15 with %u tile rows\n",
        hex(request.offset).c_str(), request.input.c_str(), request.tile_rows);
    return kCodecExitFailed;
  }
  const std::uint32_t size = result.produced;
  const auto end = static_cast<std::uint32_t>(result.end);
  if (!write_file_replacing(request.output, plain.data(), std::min(size, kOutputLimit), &problem)) {
    std::fprintf(err, "tilvex-codec: %s\n", problem.c_str());
    return kCodecExitFailed;
  }
  std::fprintf(out, "input %s bytes, output %s bytes, stream end %s\n", hex(input_size).c_str(),
               hex(size).c_str(), hex(end).c_str());
  return kCodecExitOk;
}

}  // namespace

int parse_codec_arguments(int argc, const char* const* argv, CodecRequest* request,
                          std::string* problem) {
  *request = CodecRequest{};
  if (argc < 2) return usage_problem(problem, "missing command");
  const std::string verb = argv[1];
  if (verb == "--help" || verb == "-h" || verb == "help") return kCodecExitOk;
  if (verb == "compress") {
    request->verb = CodecVerb::Compress;
  } else if (verb == "decompress") {
    request->verb = CodecVerb::Decompress;
  } else {
    return usage_problem(problem, "unknown command '" + verb + "'");
  }

  const char* format = nullptr;
  const char* rows = nullptr;
  const char* offset = nullptr;
  std::vector<std::string> files;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      request->verb = CodecVerb::Help;
      return kCodecExitOk;
    }
    const char** slot = arg == "--format"   ? &format
                        : arg == "--rows"   ? &rows
                        : arg == "--offset" ? &offset
                                            : nullptr;
    if (slot != nullptr) {
      if (i + 1 >= argc) return usage_problem(problem, arg + " needs a value");
      if (*slot != nullptr) return usage_problem(problem, arg + " given twice");
      *slot = argv[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage_problem(problem, "unknown option '" + arg + "'");
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) return usage_problem(problem, "expected INPUT and OUTPUT");
  request->input = files[0];
  request->output = files[1];
  if (format == nullptr) return usage_problem(problem, "missing --format");
  const bool decompressing = request->verb == CodecVerb::Decompress;
  if (offset != nullptr) {
    if (!decompressing) return usage_problem(problem, "--offset applies to decompress only");
    if (!parse_hex(offset, &request->offset)) {
      return usage_problem(problem, "--offset '" + std::string(offset) + "' is not hexadecimal");
    }
  }
  if (std::strcmp(format, "1") == 0) {
    request->format = kFormat1;
  } else if (std::strcmp(format, "15") == 0) {
    request->format = kFormat15;
  } else {
    *problem = "unknown format '" + std::string(format) + "' (formats 1 and 15 exist)";
    return kCodecExitFailed;
  }
  if (rows != nullptr) {
    if (request->format != kFormat15)
      return usage_problem(problem, "--rows applies to format 15 only");
    if (!parse_decimal(rows, &request->tile_rows)) {
      return usage_problem(problem, "--rows '" + std::string(rows) + "' is not a decimal number");
    }
    const std::uint32_t most = decompressing ? kFormat15MaxDecodeRows : kFormat15MaxEncodeRows;
    if (request->tile_rows < 1 || request->tile_rows > most) {
      *problem = "--rows " + std::to_string(request->tile_rows) +
                 " is out of range: " + (decompressing ? "decompress" : "compress") +
                 " takes 1 to " + std::to_string(most) + " tile rows";
      return kCodecExitFailed;
    }
  } else if (request->format == kFormat15 && decompressing) {
    return usage_problem(problem, "decompress --format 15 needs --rows");
  }
  return kCodecExitOk;
}

int run_codec_request(const CodecRequest& request, std::FILE* out, std::FILE* err) {
  switch (request.verb) {
    case CodecVerb::Compress:
      return compress(request, out, err);
    case CodecVerb::Decompress:
      return decompress(request, out, err);
    case CodecVerb::Help:
      break;
  }
  std::fputs(kCodecUsageText, out);
  return kCodecExitOk;
}

int codec_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  CodecRequest request;
  std::string problem;
  const int status = parse_codec_arguments(argc, argv, &request, &problem);
  if (status != kCodecExitOk) {
    std::fprintf(err, "tilvex-codec: %s\n", problem.c_str());
    if (status == kCodecExitUsage) std::fputs("Run 'tilvex-codec --help' for usage.\n", err);
    return status;
  }
  return run_codec_request(request, out, err);
}

}  // namespace tilvex
