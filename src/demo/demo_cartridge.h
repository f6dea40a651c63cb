// A synthetic cartridge image that identification accepts, with all 473
// structures stored in their kinds and the pointer table pointing at them, for
// the demo and the end-to-end tests. The graphics are generated: sprite sheets
// on colour 0, tilesets, fonts and backdrops, drawn from a seed, and stored
// with the project's own encoders and bitmap conversion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rom/header.h"

namespace tilvex {

inline constexpr std::uint32_t kDemoDefaultSize = kMinimumCartridgeSize;
inline constexpr std::uint32_t kDemoAddressLimit =
    0x400200;  // first file offset map 32 cannot address
inline constexpr std::uint32_t kDemoLargestSize = 0x1000200;  // 16 MiB and the copier header
inline constexpr std::uint32_t kDemoDataStart = 0x40200;      // where the first structure lies

// The plain form of structure index in the demo cartridge of this seed, its
// expected size long: what extraction gives back. Empty for an index past the
// catalogue or when memory is short.
std::vector<std::uint8_t> demo_structure(std::uint32_t index, std::uint32_t seed);

// The demo cartridge image of the given size, or empty when the size cannot
// hold it, an encoder fails, or memory is short. The structures lie from
// kDemoDataStart on, below kDemoAddressLimit.
std::vector<std::uint8_t> build_demo_cartridge(std::uint32_t size, std::uint32_t seed);

// Builds the demo cartridge and writes it to path; false on any failure.
bool write_demo_cartridge(const std::string& path, std::uint32_t size, std::uint32_t seed);

}  // namespace tilvex
