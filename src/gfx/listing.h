// What tilvex-gfx list shows: each structure as the catalogue has it, and,
// given a cartridge image, where and how large it is stored there and how
// much of the free region the stored structures take.
#pragma once

#include <cstdint>
#include <vector>

#include "common/types.h"

namespace tilvex {

struct ListEntry {
  std::uint32_t index = 0;
  StructureKind kind = KindPlain;
  std::uint32_t size = 0;    // plain size
  std::uint32_t offset = 0;  // in the combined graphics file
  // In the cartridge, when one was given.
  std::uint32_t pointer = 0;      // SNES address in the pointer table
  std::uint32_t file_offset = 0;  // where that address lies in the file
  std::uint32_t stored_size = 0;  // bytes it takes there; 0 when it does not decode
};

struct FreeRegionUse {
  std::uint32_t start = 0;  // the region, end not included
  std::uint32_t end = 0;
  std::uint32_t structures = 0;  // stored structures that start inside it
  std::uint32_t used = 0;        // their stored bytes
  std::uint32_t data_end = 0;    // first offset after the last of them (start when none)
};

const char* kind_name(StructureKind kind);

// The catalogue's view of every structure.
std::vector<ListEntry> catalogue_listing();

// Adds where each structure is stored in the cartridge image (the whole
// file, copier header included) and returns the free region's use.
FreeRegionUse add_cartridge(const std::uint8_t* image, std::uint32_t size,
                            std::vector<ListEntry>* entries);

}  // namespace tilvex
