#include "codec/format1.h"

namespace tilvex {

std::uint32_t format1_decode(RomHandle, std::uint8_t*, std::uint32_t, std::uint32_t, std::uint32_t*) { return 0; }

}  // namespace tilvex
