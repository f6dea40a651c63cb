#include "codec/format15.h"

namespace tilvex {

std::uint32_t format15_encode(const std::uint8_t*, std::uint8_t*, std::uint32_t, std::uint32_t, std::uint32_t) { return 0; }

}  // namespace tilvex
