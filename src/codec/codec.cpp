#include "codec/codec.h"

namespace tilvex {

std::uint32_t decompress_block(std::uint8_t*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t*) { return 0; }
std::uint32_t recompress_block(const std::uint8_t*, std::uint8_t*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) { return 0; }

}  // namespace tilvex
