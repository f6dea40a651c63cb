// Extraction: every structure of the catalogue out of the loaded cartridge
// image, into its plain form, and into the combined graphics file (each
// structure at its fixed offset, exactly its expected size) or into one file
// per structure in the current directory (each at the size it decoded to).
//
// A structure that cannot be decoded is written as zeros, so one damaged
// stream never stops the rest. A graphics file that cannot be written, on the
// other hand, ends extraction at once: going on would report success over
// missing data. The cartridge file itself is never opened for writing here.
#include "transfer/extract.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "codec/codec.h"
#include "common/resources.h"
#include "common/same_file.h"
#include "common/types.h"
#include "pixel/mode52.h"
#include "rom/address.h"
#include "rom/image.h"
#include "transfer/catalogue.h"

namespace tilvex {

namespace {

bool write_at(std::FILE* file, std::uint32_t offset, const std::uint8_t* bytes,
              std::uint32_t length) {
  if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return false;
  return std::fwrite(bytes, 1, length, file) == length;
}

// Closes the file and reports whether everything buffered reached it.
bool close_checked(FilePtr& file) { return std::fclose(file.release()) == 0; }

// The cartridge's pointer table, entry i at bytes 3i to 3i + 2.
using PointerTable = std::array<std::uint8_t, kStructureCount * 3>;

void read_pointer_table(PointerTable& table) {
  table.fill(0);
  std::uint32_t filled = 0;
  for (const PointerTableRange& range : pointer_table_ranges) {
    // A short read leaves zeros in place of the missing entries.
    rom_read_at(table.data() + filled, range.count * 3, range.offset, 1);
    filled += range.count * 3;
  }
}

std::uint32_t pointer_entry(const PointerTable& table, std::uint32_t index) {
  const std::uint8_t* entry = table.data() + index * 3;
  return entry[0] | static_cast<std::uint32_t>(entry[1]) << 8 |
         static_cast<std::uint32_t>(entry[2]) << 16;
}

// Reads a stored structure; bytes the image does not hold (a pointer near or
// past its end) come out as zeros rather than as the previous structure's.
void read_plain(std::uint8_t* buffer, std::uint32_t length, std::uint32_t offset) {
  std::memset(buffer, 0, length);
  rom_read_at(buffer, length, offset, 1);
}

// Brings structure index into the buffer in its plain form and returns its
// size, or 0 when it could not be decoded.
std::uint32_t load_structure(std::uint8_t* buffer, const PointerTable& table, std::uint32_t index) {
  const std::uint32_t expected = structure_sizes[index];
  const std::uint32_t offset = snes_to_file(pointer_entry(table, index), kMap32, 1);
  switch (structure_kinds[index]) {
    case KindPlain:
      read_plain(buffer, expected, offset);
      return expected;
    case KindBitmap:
      read_plain(buffer, expected, offset);
      if (!tiles_from_cartridge(buffer, buffer + kConversionArea, expected / 32,
                                kConversionMode52)) {
        return 0;
      }
      std::memcpy(buffer, buffer + kConversionArea, expected);
      return expected;
    case KindFormat1:
      return decompress_block(buffer, offset, kStructureBufferSize, kFormat1, 0, nullptr);
    case KindFormat15:
      return decompress_block(buffer, offset, kStructureBufferSize, kFormat15, expected >> 9,
                              nullptr);
  }
  return 0;
}

}  // namespace

int extract_all(const char* graphics_name, const char* rom_name, std::FILE* messages) {
  const bool combined = graphics_name != nullptr;
  ByteBuffer buffer = allocate_bytes(kStructureBufferSize);
  if (!buffer) return 0;

  FilePtr graphics;
  if (combined) {
    // Creating the combined file empties it; never let that be the cartridge.
    if (rom_name == nullptr || !same_existing_file(graphics_name, rom_name)) {
      graphics.reset(std::fopen(graphics_name, "wb"));
    }
    if (!graphics) {
      std::fprintf(messages, "Couldn't open file %s!\n", graphics_name);
      return 0;
    }
  }

  PointerTable table;
  read_pointer_table(table);

  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    const std::uint32_t expected = structure_sizes[i];
    std::uint32_t size = load_structure(buffer.get(), table, i);

    if (size == 0) {
      std::fprintf(messages, "Error decompressing structure 0x%03X, using blank...\n", i);
      size = expected;
      std::memset(buffer.get(), 0, size);
    }
    if (combined) {
      if (size < expected) {
        std::fprintf(messages, "Size of structure 0x%03X less than expected, padding...\n", i);
        std::memset(buffer.get() + size, 0, expected - size);
      } else if (size > expected) {
        std::fprintf(messages, "Size of structure 0x%03X greater than expected, truncating...\n",
                     i);
        size = expected;
      }
    }
    if (size > kStructureBufferSize) {
      std::fprintf(messages, "Size of structure 0x%03X way too big, truncating...\n", i);
      size = kStructureBufferSize;
    }

    if (combined) {
      if (!write_at(graphics.get(), combined_offset(i), buffer.get(), expected)) {
        std::fprintf(messages, "Couldn't write file %s!\n", graphics_name);
        return 0;
      }
      continue;
    }

    char name[16];
    std::snprintf(name, sizeof name, "GFX%03X.bin", i);
    FilePtr file;
    if (rom_name == nullptr || !same_existing_file(name, rom_name))
      file.reset(std::fopen(name, "wb"));
    if (!file) {
      std::fprintf(messages, "Couldn't open file %s, skipping...\n", name);
      continue;
    }
    const bool written = std::fwrite(buffer.get(), 1, size, file.get()) == size;
    if (!close_checked(file) || !written) {
      std::fprintf(messages, "Couldn't write file %s!\n", name);
      return 0;
    }
  }

  if (combined && !close_checked(graphics)) {
    std::fprintf(messages, "Couldn't write file %s!\n", graphics_name);
    return 0;
  }
  return 1;
}

}  // namespace tilvex
