// Insertion: the plain structures come back from the combined graphics file
// or from the per-structure files, each is brought into its cartridge form
// (bitmap layout, format 1 or format 15), and they are packed one after
// another into the cartridge image from the start address on, with the
// pointer table pointed at the new copies. When the data ends inside the free
// region, the rest of it is erased to 0xFF.
//
// Everything happens in the image in memory. Any failure returns 0 before the
// front end saves, so the cartridge file keeps its content. Room is measured
// with 64-bit sums: a start address near 2^32 must not wrap around to a small
// offset and write there. A structure may not cover the copier header or the
// pointer table either: the pointers written afterwards would cut into it.
#include "transfer/insert.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "codec/codec.h"
#include "common/resources.h"
#include "common/types.h"
#include "pixel/mode52.h"
#include "rom/address.h"
#include "rom/image.h"
#include "transfer/catalogue.h"

namespace tilvex {

namespace {

// Size of an open graphics input; false when it has none that can be read
// (a directory opens for reading on some systems but yields no bytes).
bool input_size(std::FILE* file, std::uint64_t* size) {
  struct stat status {};
  if (::fstat(::fileno(file), &status) != 0 || S_ISDIR(status.st_mode)) return false;
  *size = status.st_size < 0 ? 0 : static_cast<std::uint64_t>(status.st_size);
  return true;
}

bool read_at(std::FILE* file, std::uint32_t offset, std::uint8_t* bytes, std::uint32_t length) {
  if (length == 0) return true;
  if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return false;
  return std::fread(bytes, 1, length, file) == length;
}

// Structure index from the combined file, always its expected size; parts
// the file does not hold are zeros. False when the file cannot be read where
// it holds the structure.
bool read_from_combined(std::FILE* file, std::uint64_t file_size, std::uint32_t index,
                        std::uint8_t* buffer, std::FILE* messages) {
  const std::uint32_t offset = combined_offset(index);
  const std::uint32_t expected = structure_sizes[index];
  if (offset > file_size) {
    std::fprintf(messages, "File doesn't contain structure %03X, using blank...\n", index);
    std::memset(buffer, 0, expected);
    return true;
  }
  if (offset + expected > file_size) {
    std::fprintf(messages, "File only has part of structure %03X, padding...\n", index);
    const auto present = static_cast<std::uint32_t>(file_size - offset);
    std::memset(buffer + present, 0, expected - present);
    return read_at(file, offset, buffer, present);
  }
  return read_at(file, offset, buffer, expected);
}

// Structure index from its own file "GFX%03X.bin"; returns its size. A file
// that cannot be opened or read in full counts as missing: the structure is
// its expected size of zeros.
std::uint32_t read_from_own_file(std::uint32_t index, std::uint8_t* buffer, std::FILE* messages) {
  char name[16];
  std::snprintf(name, sizeof name, "GFX%03X.bin", index);
  FilePtr file(std::fopen(name, "rb"));
  std::uint64_t file_size = 0;
  if (file && input_size(file.get(), &file_size)) {
    std::uint32_t size = static_cast<std::uint32_t>(file_size);
    if (file_size > kStructureBufferSize) {
      std::fprintf(messages, "Size of structure 0x%03X way too big, truncating...\n", index);
      size = kStructureBufferSize;
    }
    if (read_at(file.get(), 0, buffer, size)) return size;
  }
  std::fprintf(messages, "Couldn't open file %s, using blank...\n", name);
  std::memset(buffer, 0, structure_sizes[index]);
  return structure_sizes[index];
}

// Brings the plain structure in the buffer into its cartridge form and returns
// the size of that form, 0 when it cannot be produced.
std::uint32_t convert_structure(std::uint32_t index, std::uint8_t* buffer, std::uint32_t size) {
  const std::uint32_t expected = structure_sizes[index];
  switch (structure_kinds[index]) {
    case KindPlain:
      return size;
    case KindBitmap:
      if (size > kConversionArea) size = kConversionArea;
      // A size that is not a whole number of bitmap rows leaves part of the
      // area uncovered; clear it so no earlier structure's bytes go along.
      std::memset(buffer + kConversionArea, 0, kConversionArea);
      if (!tiles_to_cartridge(buffer, buffer + kConversionArea, size / 32, kConversionMode52)) {
        return 0;
      }
      std::memcpy(buffer, buffer + kConversionArea, size);
      return size;
    case KindFormat1:
      return recompress_block(buffer, buffer, size, kStructureBufferSize, kFormat1, 0);
    case KindFormat15:
      if (size < expected) std::memset(buffer + size, 0, expected - size);
      return recompress_block(buffer, buffer, expected, kStructureBufferSize, kFormat15,
                              expected >> 9);
  }
  return 0;
}

// File offset of pointer-table entry index.
std::uint32_t pointer_entry_offset(std::uint32_t index) {
  for (const PointerTableRange& range : pointer_table_ranges) {
    if (index < range.count) return range.offset + index * 3;
    index -= range.count;
  }
  return 0;
}

// True when [start, end) would cover the copier header, which has no SNES
// address, or part of the pointer table, whose rewriting would then cut into
// the structures just written.
bool overlaps_reserved(std::uint64_t start, std::uint64_t end) {
  if (start < kCopierHeaderSize) return true;
  for (const PointerTableRange& range : pointer_table_ranges) {
    const std::uint64_t table_end = range.offset + std::uint64_t{3} * range.count;
    if (start < table_end && end > range.offset) return true;
  }
  return false;
}

bool write_pointer(std::uint32_t index, std::uint32_t file_offset) {
  const std::uint32_t address = file_to_snes(file_offset, kMap32, 1);
  const std::uint8_t entry[3] = {static_cast<std::uint8_t>(address),
                                 static_cast<std::uint8_t>(address >> 8),
                                 static_cast<std::uint8_t>(address >> 16)};
  return rom_write_at(entry, 3, pointer_entry_offset(index), 1) == 1;
}

}  // namespace

InsertResult insert_all(const InsertRequest& request, std::FILE* messages) {
  const char* graphics_name = request.graphics_name;
  const bool combined = graphics_name != nullptr;
  InsertResult result{false, request.start};

  ByteBuffer buffer = allocate_bytes(kStructureBufferSize);
  if (!buffer) return result;

  std::uint32_t address = request.start;

  FilePtr graphics;
  std::uint64_t graphics_size = 0;
  if (combined) {
    graphics.reset(std::fopen(graphics_name, "rb"));
    if (!graphics || !input_size(graphics.get(), &graphics_size)) {
      std::fprintf(messages, "Couldn't open file %s!\n", graphics_name);
      return result;
    }
  }

  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    std::uint32_t size = structure_sizes[i];
    if (combined) {
      if (!read_from_combined(graphics.get(), graphics_size, i, buffer.get(), messages)) {
        std::fprintf(messages, "Couldn't open file %s!\n", graphics_name);
        return result;
      }
    } else {
      size = read_from_own_file(i, buffer.get(), messages);
    }

    size = convert_structure(i, buffer.get(), size);
    if (size == 0 || size > kStructureBufferSize) {
      std::fprintf(messages, "Error compressing structure 0x%03X!\n", i);
      return result;
    }

    // The last byte of the cartridge file is never used, and a structure
    // that starts before the end of the free region must not run past it.
    const std::uint64_t end = static_cast<std::uint64_t>(address) + size;
    const bool room = end < request.cartridge_size &&
                      !(address < free_region_end && end > free_region_end) &&
                      !overlaps_reserved(address, end);
    // The image refuses or clips a write it cannot hold; that is no room
    // either, never a structure silently cut short.
    if (!room || rom_write_at(buffer.get(), size, address, 1) != 1 || !write_pointer(i, address)) {
      std::fprintf(messages, "Not enough room left in ROM for structure 0x%03X!\n", i);
      return result;
    }
    address += size;
  }

  if ((request.mode & kModeKeepFreeRegion) == 0 && free_region_start < address &&
      address < free_region_end) {
    rom_set_fill(0xFF0000);
    rom_erase(address, free_region_end - address);
  }

  return {true, address};
}

}  // namespace tilvex
