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

FreeRegionUse add_cartridge(const std::uint8_t* image, std::uint32_t size,
                            std::vector<ListEntry>* entries) {
  FreeRegionUse use;
  use.start = free_region_start;
  use.end = free_region_end;
  use.data_end = free_region_start;
  std::vector<std::uint8_t> scratch(kOutputLimit);
  const std::uint32_t table = pointer_table_ranges[0].offset;
  for (ListEntry& entry : *entries) {
    const std::uint32_t at = table + 3 * entry.index;
    if (at + 3 > size) break;
    const std::uint8_t* p = image + at;
    entry.pointer = p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
    entry.file_offset = snes_to_file(entry.pointer, kMap32, 1);
    DecodeResult decoded;
    decoded.status = CodecStatus::malformed;
    if (entry.file_offset >= size) {
      // Nothing stored there.
    } else if (entry.kind == KindFormat1) {
      decoded = format1_decode(image, size, entry.file_offset, scratch.data(), kOutputLimit);
    } else if (entry.kind == KindFormat15) {
      decoded = format15_decode(image, size, entry.file_offset, scratch.data(), kOutputLimit,
                                entry.size >> 9);
    } else if (size - entry.file_offset >= entry.size) {
      decoded = {CodecStatus::ok, entry.size, std::uint64_t{entry.file_offset} + entry.size, 0};
    }
    // A stream that runs past the end of the file is not stored whole.
    if (decoded.status == CodecStatus::ok && decoded.overread == 0)
      entry.stored_size = static_cast<std::uint32_t>(decoded.end - entry.file_offset);
    if (entry.stored_size != 0 && entry.file_offset >= use.start && entry.file_offset < use.end) {
      ++use.structures;
      use.used += entry.stored_size;
      use.data_end = std::max(use.data_end, entry.file_offset + entry.stored_size);
    }
  }
  return use;
}

}  // namespace tilvex
