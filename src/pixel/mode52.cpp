#include "pixel/mode52.h"

namespace tilvex {

bool tiles_to_cartridge(const std::uint8_t*, std::uint8_t*, std::uint32_t, std::uint32_t) { return false; }
bool tiles_from_cartridge(const std::uint8_t*, std::uint8_t*, std::uint32_t, std::uint32_t) { return false; }

}  // namespace tilvex
