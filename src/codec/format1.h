// Format 1: byte-aligned commands (direct copy, byte fill, word fill,
// increasing fill, back-reference) ending with the marker 0xFF.
#pragma once

#include <cstdint>

#include "rom/image.h"

namespace tilvex {

std::uint32_t format1_decode(RomHandle image, std::uint8_t* destination, std::uint32_t file_offset,
                             std::uint32_t max_size, std::uint32_t* end_position);

std::uint32_t format1_encode(const std::uint8_t* source, std::uint8_t* destination,
                             std::uint32_t size, std::uint32_t max_size);

}  // namespace tilvex
