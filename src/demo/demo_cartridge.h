// A synthetic cartridge image that identification accepts, with all 473
// structures stored in their kinds, for the demo and the end-to-end tests.
#pragma once

#include <cstdint>
#include <string>

namespace tilvex {

bool write_demo_cartridge(const std::string& path, std::uint32_t size, std::uint32_t seed);

}  // namespace tilvex
