// The built-in catalogue of the cartridge's 473 graphics structures: their
// kinds and plain sizes, where the pointer table lies, the free region that
// insertion fills, and the layout of the combined graphics file.
#pragma once

#include <array>
#include <cstdint>

#include "common/types.h"

namespace tilvex {

struct PointerTableRange {
  std::uint32_t offset;  // file offset of the first entry
  std::uint32_t count;   // number of 3-byte entries
};

extern const std::array<StructureKind, kStructureCount> structure_kinds;
extern const std::array<std::uint32_t, kStructureCount> structure_sizes;
extern const std::array<PointerTableRange, 1> pointer_table_ranges;

inline constexpr std::uint32_t free_region_start = 0x120200;
inline constexpr std::uint32_t free_region_end = 0x1F9580;  // first offset after the region
inline constexpr std::uint32_t kPointerTableOffset = 0x37B1F;
inline constexpr std::uint32_t kCombinedFileSize = 0x180640;

// The byte offset of structure index in the combined graphics file; 0 for an
// index past the catalogue.
std::uint32_t combined_offset(std::uint32_t index);

}  // namespace tilvex
