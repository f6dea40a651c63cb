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
// Nor may one start where no pointer can lead: a pointer holds 22 bits of
// offset, so from 0x400200 on the table could only point at the wrong bytes.
#include "transfer/insert.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "codec/codec.h"
#include "common/resources.h"
#include "common/types.h"
#include "pixel/mode52.h"
#include "platform/files.h"
#include "platform/process.h"
#include "rom/address.h"
#include "rom/image.h"
#include "transfer/catalogue.h"
#include "transfer/pipeline.h"

namespace tilvex {

namespace {

// Opens a graphics input and takes its size; null, with the reason, when it
// cannot be opened or has no size that can be read (a directory opens for
// reading on some systems but yields no bytes).
FilePtr open_input(const char* name, std::uint64_t* size, std::string* reason) {
  errno = 0;
  FilePtr file(std::fopen(name, "rb"));
  if (!file) {
    *reason = platform::error_text(errno != 0 ? errno : ENOENT);
  } else if (!platform::stream_size(file.get(), size, reason)) {
    file.reset();
  }
  return file;
}

// The system's words for the read_at that came back short.
std::string read_error() {
  return errno != 0 ? platform::error_text(errno) : std::string("the file ended early");
}

bool read_at(std::FILE* file, std::uint32_t offset, std::uint8_t* bytes, std::uint32_t length) {
  if (length == 0) return true;
  errno = 0;
  if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return false;
  return std::fread(bytes, 1, length, file) == length;
}

// Structure index from the combined file, always its expected size; parts
// the file does not hold are zeros. False, with the reason, when the file
// cannot be read where it holds the structure. The reads go to the file at
// their offsets, so the structures' work may read it on several threads.
bool read_from_combined(std::FILE* file, std::uint64_t file_size, std::uint32_t index,
                        std::uint8_t* buffer, StructureSlot* slot, std::string* reason) {
  const std::uint32_t offset = combined_offset(index);
  const std::uint32_t expected = structure_sizes[index];
  std::uint32_t present = expected;
  if (offset > file_size) {
    add_note(slot, "File doesn't contain structure %03X, using blank...\n", index);
    std::memset(buffer, 0, expected);
    return true;
  }
  if (offset + expected > file_size) {
    add_note(slot, "File only has part of structure %03X, padding...\n", index);
    present = static_cast<std::uint32_t>(file_size - offset);
    std::memset(buffer + present, 0, expected - present);
  }
  if (present == 0) return true;
  std::size_t got = 0;
  if (!platform::read_stream_at(file, offset, buffer, present, &got, reason)) return false;
  if (got == present) return true;
  *reason = "the file ended early";
  return false;
}

// Structure index from its own file "GFX%03X.bin"; returns its size. A file
// that cannot be opened or read in full counts as missing: the structure is
// its expected size of zeros.
std::uint32_t read_from_own_file(std::uint32_t index, std::uint8_t* buffer, StructureSlot* slot) {
  char name[16];
  std::snprintf(name, sizeof name, "GFX%03X.bin", index);
  std::uint64_t file_size = 0;
  std::string reason;
  FilePtr file = open_input(name, &file_size, &reason);
  if (file) {
    std::uint32_t size = static_cast<std::uint32_t>(file_size);
    if (file_size > kStructureBufferSize) {
      add_note(slot, "Size of structure 0x%03X way too big, truncating...\n", index);
      size = kStructureBufferSize;
    }
    if (read_at(file.get(), 0, buffer, size)) return size;
    reason = read_error();
  }
  add_note(slot, "Couldn't open file %s, using blank...\n", name);
  note_problem(&slot->problems, name, reason);
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

// Where the plain structures come from.
struct ReadContext {
  const char* graphics_name;  // the combined file's name; null: per-structure files
  std::FILE* graphics;        // the open combined file
  std::uint64_t graphics_size;
};

// Pipeline work: reads one plain structure and brings it into its cartridge
// form. A combined file that cannot be read there fails the structure, which
// ends the run when its turn comes.
void read_and_convert(void* context, std::uint32_t index, StructureSlot* slot) {
  const auto* read = static_cast<const ReadContext*>(context);
  std::uint32_t size = structure_sizes[index];
  if (read->graphics_name == nullptr) {
    size = read_from_own_file(index, slot->buffer, slot);
  } else {
    std::string reason;
    if (!read_from_combined(read->graphics, read->graphics_size, index, slot->buffer, slot,
                            &reason)) {
      note_problem(&slot->problems, read->graphics_name, reason);
      slot->failed = true;
      return;
    }
  }
  slot->size = convert_structure(index, slot->buffer, size);
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

// True when a pointer can lead to the offset: the table's addresses hold 22
// bits of it, and an offset they cannot express would come back as another.
bool addressable(std::uint32_t offset) {
  return snes_to_file(file_to_snes(offset, kMap32, 1), kMap32, 1) == offset;
}

// How much newly placed data makes a step of the save worth taking.
constexpr std::uint32_t kFlushStep = 0x20000;

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
  InsertResult result;
  result.ending = request.start;

  std::uint32_t address = request.start;

  FilePtr graphics;
  std::uint64_t graphics_size = 0;
  std::string reason;
  if (combined) {
    graphics = open_input(graphics_name, &graphics_size, &reason);
    if (!graphics) {
      std::fprintf(messages, "Couldn't open file %s!\n", graphics_name);
      note_problem(&result.problems, graphics_name, reason);
      return result;
    }
  }

  // The structures are read and encoded ahead on several threads; from here
  // on each is handled in order as if it had just been read and encoded.
  ReadContext context{graphics_name, graphics.get(), graphics_size};
  StructurePipeline pipeline;
  if (!pipeline.start(request.threads, kStructureCount, read_and_convert, &context)) return result;
  // While the structures are encoded, the cartridge outside the range they
  // go to already goes to the new file (the save still writes whatever this
  // run changes outside it, such as the pointer table).
  rom_save_ahead(request.start,
                 request.start < free_region_end ? free_region_end : request.cartridge_size);

  std::uint32_t flushed = request.start;
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    StructureSlot* const slot = pipeline.take(i);
    hand_over(slot, messages, &result.problems);
    if (slot->failed) {
      std::fprintf(messages, "Couldn't open file %s!\n", graphics_name);
      return result;
    }
    const std::uint32_t size = slot->size;
    std::uint8_t* const buffer = slot->buffer;
    if (size == 0 || size > kStructureBufferSize) {
      std::fprintf(messages, "Error compressing structure 0x%03X!\n", i);
      return result;
    }

    // The last byte of the cartridge file is never used, and a structure
    // that starts before the end of the free region must not run past it.
    const std::uint64_t end = static_cast<std::uint64_t>(address) + size;
    const bool room = end < request.cartridge_size &&
                      !(address < free_region_end && end > free_region_end) &&
                      !overlaps_reserved(address, end) && addressable(address);
    // The image refuses or clips a write it cannot hold; that is no room
    // either, never a structure silently cut short.
    if (!room || rom_write_at(buffer, size, address, 1) != 1 || !write_pointer(i, address)) {
      std::fprintf(messages, "Not enough room left in ROM for structure 0x%03X!\n", i);
      return result;
    }
    address += size;
    // What lies behind the last structure is final: it goes to the disk
    // while the next structures are encoded, in steps large enough to be
    // worth a sync.
    if (address - flushed >= kFlushStep) {
      rom_save_final(request.start, address);
      flushed = address;
    }
  }

  if ((request.mode & kModeKeepFreeRegion) == 0 && free_region_start < address &&
      address < free_region_end) {
    rom_set_fill(0xFF0000);
    rom_erase(address, free_region_end - address);
  }

  result.inserted = true;
  result.ending = address;
  return result;
}

}  // namespace tilvex
