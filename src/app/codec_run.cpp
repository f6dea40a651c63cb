// tilvex-codec's work: compress encodes the whole INPUT into one stream;
// decompress decodes the stream at a byte offset of INPUT, reading only the
// window of bytes the decoder can use. Nothing is written to OUTPUT until the
// result is complete, so a failure leaves OUTPUT as it was.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/codec_cli.h"
#include "app/codec_io.h"
#include "codec/codec.h"
#include "codec/format1.h"
#include "codec/format15.h"
#include "common/resources.h"
#include "common/types.h"
#include "common/version.h"

namespace tilvex {

namespace {

constexpr std::uint32_t kTileRowBytes = 512;
// The first window read for a decoder; it grows while the decoder needs more.
constexpr std::size_t kFirstWindow = 0x10000;

std::string hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

int fail(std::FILE* err, const std::string& problem) {
  std::fprintf(err, "tilvex-codec: %s\n", problem.c_str());
  return kCodecExitFailed;
}

// Where the one-line report goes: never into the data on standard output.
std::FILE* report_stream(const CodecRequest& request, std::FILE* out, std::FILE* err) {
  return request.output == "-" ? err : out;
}

int compress(const CodecRequest& request, std::FILE* out, std::FILE* err) {
  std::string problem;
  const std::uint32_t limit =
      request.format == kFormat1 ? kOutputLimit : kFormat15MaxEncodeRows * kTileRowBytes;
  const std::string too_large = input_label(request.input) + " is larger than " + hex(limit) +
                                " bytes, the most format " + std::to_string(request.format) +
                                " compresses";
  CodecInput input;
  if (!open_input(request.input, &input, &problem)) return fail(err, problem);
  if (input.size_known && input.size > limit) return fail(err, too_large);
  std::vector<std::uint8_t> bytes;
  if (!read_input(&input, limit + 1, &bytes, &problem)) return fail(err, problem);
  if (bytes.size() > limit) return fail(err, too_large);
  input = CodecInput{};  // closed before OUTPUT is touched; it may be the same file

  const auto size = static_cast<std::uint32_t>(bytes.size());
  const std::uint8_t none = 0;
  const std::uint8_t* source = bytes.empty() ? &none : bytes.data();
  std::vector<std::uint8_t> stream(kOutputLimit);
  std::uint32_t length;
  if (request.format == kFormat1) {
    length = format1_encode(source, size, stream.data(), kOutputLimit).produced;
  } else {
    const std::string name = input_label(request.input);
    if (size % kTileRowBytes != 0) {
      return fail(err, name + " has " + hex(size) +
                           " bytes, not a whole number of tile rows of 0x200 bytes");
    }
    const std::uint32_t rows = request.tile_rows != 0 ? request.tile_rows : size / kTileRowBytes;
    if (rows == 0) return fail(err, name + " is empty; format 15 needs 1 to 0x20 tile rows");
    if (size != rows * kTileRowBytes) {
      return fail(err, name + " has " + hex(size) + " bytes, but " + hex(rows) +
                           " tile rows take " + hex(rows * kTileRowBytes) + " bytes");
    }
    length = format15_encode(source, size, stream.data(), kOutputLimit, rows).produced;
  }
  if (length == 0 || length > kOutputLimit) {
    return fail(err, "the format " + std::to_string(request.format) + " encoder refused " +
                         input_label(request.input));
  }
  if (!write_output(request.output, stream.data(), length, out, &problem)) {
    return fail(err, problem);
  }
  if (!request.quiet) {
    std::fprintf(report_stream(request, out, err), "input %s bytes, output %s bytes\n",
                 hex(size).c_str(), hex(length).c_str());
  }
  return kCodecExitOk;
}

// Decodes the stream at the start of window into plain. Bytes past the
// window read as 0; overread says how many the stream needed beyond it.
DecodeResult decode_window(const CodecRequest& request, const std::vector<std::uint8_t>& window,
                           std::uint8_t* plain) {
  const std::uint8_t none = 0;
  const std::uint8_t* input = window.empty() ? &none : window.data();
  const auto size = static_cast<std::uint32_t>(window.size());
  return request.format == kFormat1
             ? format1_decode(input, size, 0, plain, kOutputLimit)
             : format15_decode(input, size, 0, plain, kOutputLimit, request.tile_rows);
}

int decompress(const CodecRequest& request, std::FILE* out, std::FILE* err) {
  std::string problem;
  CodecInput input;
  if (!open_input(request.input, &input, &problem)) return fail(err, problem);
  bool inside = false;
  if (!skip_input(&input, request.offset, &inside, &problem)) return fail(err, problem);
  if (!inside) {
    return fail(err, "offset " + hex(request.offset) + " is past the end of " + input.label + " (" +
                         hex(input.size_known ? input.size : input.position) + " bytes)");
  }
  // The window grows until the decoder stays inside it or the input ends.
  std::vector<std::uint8_t> window;
  std::vector<std::uint8_t> plain(kOutputLimit);
  std::size_t want = kFirstWindow;
  DecodeResult decoded;
  for (;;) {
    if (!read_input(&input, want - window.size(), &window, &problem)) return fail(err, problem);
    decoded = decode_window(request, window, plain.data());
    if (decoded.overread == 0 || input.at_end) break;
    want = std::max(want * 2, window.size() + static_cast<std::size_t>(decoded.overread));
  }
  const std::uint64_t input_size = input.size_known ? input.size : input.position;
  input = CodecInput{};  // closed before OUTPUT is touched; it may be the same file
  if (decoded.overread != 0) {
    return fail(err, "stream ends past the end of " + input_label(request.input) + " (needs " +
                         hex(decoded.overread) + " more bytes)");
  }
  if (decoded.status == CodecStatus::out_of_memory) return fail(err, "not enough memory to decode");
  if (decoded.status != CodecStatus::ok) {
    return fail(err,
                "the stream at " + hex(request.offset) + " of " + input_label(request.input) +
                    " does not decode as format " + std::to_string(request.format) +
                    (request.format == kFormat15 ? " with " + hex(request.tile_rows) + " tile rows"
                                                 : std::string()));
  }
  const std::uint32_t size = std::min(decoded.produced, kOutputLimit);
  if (!write_output(request.output, plain.data(), size, out, &problem)) return fail(err, problem);
  if (!request.quiet) {
    std::fprintf(report_stream(request, out, err),
                 "input %s bytes, output %s bytes, stream end %s\n", hex(input_size).c_str(),
                 hex(decoded.produced).c_str(),
                 hex(std::uint64_t{request.offset} + decoded.end).c_str());
  }
  return kCodecExitOk;
}

}  // namespace

int run_codec_request(const CodecRequest& request, std::FILE* out, std::FILE* err) {
  switch (request.verb) {
    case CodecVerb::Compress:
      return compress(request, out, err);
    case CodecVerb::Decompress:
      return decompress(request, out, err);
    case CodecVerb::Version:
      print_version(out, "tilvex-codec");
      return kCodecExitOk;
    case CodecVerb::Help:
      break;
  }
  std::fputs(kCodecUsageText, out);
  return kCodecExitOk;
}

}  // namespace tilvex
