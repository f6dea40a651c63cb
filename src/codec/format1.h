// Format 1: byte-aligned commands (direct copy, byte fill, word fill,
// increasing fill, back-reference) ending with the marker 0xFF.
#pragma once

#include <cstdint>

#include "codec/result.h"

namespace tilvex {

// Decodes the stream that starts at input[start]; bytes at or past input_size
// read as 0. Every stream decodes: output stops at 65,536 bytes, so the status
// is ok unless working memory is short. destination may be null.
DecodeResult format1_decode(const std::uint8_t* input, std::uint32_t input_size,
                            std::uint32_t start, std::uint8_t* destination, std::uint32_t capacity);

// Encodes size bytes (at most 65,536) of source. destination may be the
// source buffer, or null. output_too_large when the stream would pass 65,536
// bytes; nothing is copied then.
EncodeResult format1_encode(const std::uint8_t* source, std::uint32_t size,
                            std::uint8_t* destination, std::uint32_t capacity);

}  // namespace tilvex
