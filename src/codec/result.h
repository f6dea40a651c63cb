// What a codec call reports: a status, the bytes it produced and, for the
// decoders, where the stream ended. The codecs work on memory only: a decoder
// reads the bytes it is given (bytes past their end read as 0), an encoder
// writes into the buffer it is given, and neither prints anything.
#pragma once

#include <cstdint>

namespace tilvex {

enum class CodecStatus : std::uint8_t {
  ok,
  malformed,         // the stream breaks a rule of its format
  output_too_large,  // the stream would pass the 65,536-byte output limit
  out_of_memory,     // working memory could not be obtained
  invalid_argument,  // no source, or a size or tile row count the format cannot take
};

// Only min(produced, capacity) bytes reach the destination; produced is the
// full count all the same. end and overread are set when the status is ok or
// malformed (the stream was read); otherwise end is the start and overread 0.
struct DecodeResult {
  CodecStatus status = CodecStatus::ok;
  std::uint32_t produced = 0;  // plain bytes; 0 unless ok
  std::uint64_t end = 0;       // offset just past the last stream byte consumed
  std::uint64_t overread = 0;  // bytes the stream needed past the end of the input
};

struct EncodeResult {
  CodecStatus status = CodecStatus::ok;
  std::uint32_t produced = 0;  // stream bytes; 0 unless ok
};

// The end position and overread count of a stream read from start to end in
// an input of input_size bytes.
inline DecodeResult stream_read(CodecStatus status, std::uint32_t produced, std::uint64_t end,
                                std::uint32_t input_size) {
  return {status, produced, end, end > input_size ? end - input_size : 0};
}

}  // namespace tilvex
