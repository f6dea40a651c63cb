// The two codec entry points the rest of the program calls, which choose the
// codec by its format number (1 or 15). Decoding reads the open cartridge
// image; encoding works from memory to memory. A result of 0 means failure;
// the codecs themselves (format1.h, format15.h) say why.
#pragma once

#include <cstdint>

namespace tilvex {

struct RomImage;

inline constexpr std::uint32_t kFormat1 = 1;
inline constexpr std::uint32_t kFormat15 = 15;

// Decodes the stream at file_offset of the open cartridge image. For format 1
// the parameter is the variant selector (always 0 here), for format 15 the
// number of tile rows.
std::uint32_t decompress_block(std::uint8_t* destination, std::uint32_t file_offset,
                               std::uint32_t max_size, std::uint32_t format,
                               std::uint32_t parameter, std::uint32_t* end_position);
// The same on a given image (the store's or a handle of a caller's own on its
// bytes, so several threads may decode at once, each moving only its own
// handle's position).
std::uint32_t decompress_block(RomImage* image, std::uint8_t* destination,
                               std::uint32_t file_offset, std::uint32_t max_size,
                               std::uint32_t format, std::uint32_t parameter,
                               std::uint32_t* end_position);

// Encodes size bytes of source; destination may be the source buffer itself.
std::uint32_t recompress_block(const std::uint8_t* source, std::uint8_t* destination,
                               std::uint32_t size, std::uint32_t max_size, std::uint32_t format,
                               std::uint32_t parameter);

}  // namespace tilvex
