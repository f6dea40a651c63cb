#include "gfx/listing.h"

#include <algorithm>
#include <vector>

#include "codec/format1.h"
#include "codec/format15.h"
#include "gfx/graphics.h"
#include "rom/address.h"
#include "transfer/catalogue.h"

namespace tilvex {

const char* kind_name(StructureKind kind) {
  switch (kind) {
    case KindPlain:
      return "plain";
    case KindBitmap:
      return "bitmap";
    case KindFormat1:
      return "format 1";
    case KindFormat15:
      return "format 15";
  }
  return "unknown";
}

std::vector<ListEntry> catalogue_listing() {
  const auto offsets = combined_offsets();
  std::vector<ListEntry> entries(kStructureCount);
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    entries[i].index = i;
    entries[i].kind = structure_kinds[i];
    entries[i].size = structure_sizes[i];
    entries[i].offset = offsets[i];
  }
  return entries;
}

FreeRegionUse add_cartridge(RomImage* image, std::vector<ListEntry>* entries) {
  FreeRegionUse use;
  use.start = free_region_start;
  use.end = free_region_end;
  use.data_end = free_region_start;
  std::vector<std::uint8_t> scratch(kOutputLimit);
  const std::uint32_t table = pointer_table_ranges[0].offset;
  for (ListEntry& entry : *entries) {
    const std::uint32_t at = table + 3 * entry.index;
    if (at + 3 > image->size) break;
    const std::uint8_t* p = image->data.get() + at;
    entry.pointer = p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
    entry.file_offset = snes_to_file(entry.pointer, kMap32, 1);
    std::uint32_t end = entry.file_offset;
    if (entry.file_offset >= image->size) {
      entry.stored_size = 0;
    } else if (entry.kind == KindFormat1) {
      if (format1_decode(image, scratch.data(), entry.file_offset, kOutputLimit, &end) != 0)
        entry.stored_size = end - entry.file_offset;
    } else if (entry.kind == KindFormat15) {
      if (format15_decode(image, scratch.data(), entry.file_offset, kOutputLimit, entry.size >> 9,
                          &end) != 0) {
        entry.stored_size = end - entry.file_offset;
      }
    } else if (image->size - entry.file_offset >= entry.size) {
      entry.stored_size = entry.size;
    }
    if (entry.stored_size != 0 && entry.file_offset >= use.start && entry.file_offset < use.end) {
      ++use.structures;
      use.used += entry.stored_size;
      use.data_end = std::max(use.data_end, entry.file_offset + entry.stored_size);
    }
  }
  return use;
}

}  // namespace tilvex
