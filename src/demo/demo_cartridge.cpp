#include "demo/demo_cartridge.h"

namespace tilvex {

bool write_demo_cartridge(const std::string&, std::uint32_t, std::uint32_t) { return false; }

}  // namespace tilvex
