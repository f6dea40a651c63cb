// Extraction: every structure of the catalogue out of the loaded cartridge
// image, into its plain form, and into the combined graphics file (each
// structure at its fixed offset, exactly its expected size) or into one file
// per structure in the current directory (each at the size it decoded to).
//
// A structure that cannot be decoded is written as zeros, so one damaged
// stream never stops the rest. A graphics file that cannot be written, on the
// other hand, ends extraction at once: going on would report success over
// missing data (a write to the combined file goes out with the block of
// structures it belongs to, so its failure shows at the block's last
// structure). The structures are decoded on several threads, and handled in
// structure order afterwards. The combined file goes through the platform's replacement
// (a new file renamed over the old one only after the last structure), so
// such a failure leaves the user's old file exactly as it was; a device or
// FIFO given as the combined file is written directly. The cartridge file
// itself is never opened for writing here.
#include "transfer/extract.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

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

constexpr char kIsTheCartridge[] = "it is the cartridge file";

// The system's words for the error a failed stream call left.
std::string last_error() { return platform::error_text(errno != 0 ? errno : EIO); }

// Starts the replacement of the combined file, unless the name leads to the
// cartridge or to a file closed to writing.
bool begin_combined(platform::FileReplacement* graphics, const char* graphics_name,
                    const char* rom_name, std::string* reason) {
  if (rom_name != nullptr && platform::same_file(graphics_name, rom_name)) {
    *reason = kIsTheCartridge;
    return false;
  }
  if (!platform::writable_or_absent(graphics_name, reason) ||
      !graphics->begin(graphics_name, reason)) {
    return false;
  }
  // The combined file can always be extracted again from the cartridge, which
  // extraction never changes; waiting for it to reach the disk would take
  // longer than the whole extraction.
  graphics->skip_sync();
  return true;
}

// The combined file as extraction writes it: the structures, which follow
// one another, gather in a block and go out in a few large writes instead of
// one per structure. A device or FIFO is written structure by structure, so
// a write that fails is reported at the structure it failed for.
class CombinedOutput {
 public:
  static constexpr std::size_t kBlockSize = 0x40000;

  explicit CombinedOutput(platform::FileReplacement* file) : file_(file) {
    if (!file_->writes_directly()) block_ = allocate_ready(kBlockSize);
  }

  bool write_at(std::uint32_t offset, const std::uint8_t* bytes, std::uint32_t length,
                std::string* reason) {
    if (!block_ || length > kBlockSize) {
      return flush(reason) && file_->write_at(offset, bytes, length, reason);
    }
    if (offset != start_ + used_ || used_ + length > kBlockSize) {
      if (!flush(reason)) return false;
      start_ = offset;
    }
    std::memcpy(block_.get() + used_, bytes, length);
    used_ += length;
    return true;
  }

  bool flush(std::string* reason) {
    if (used_ == 0) return true;
    const std::size_t length = used_;
    used_ = 0;
    return file_->write_at(start_, block_.get(), length, reason);
  }

 private:
  platform::FileReplacement* file_;
  ByteBuffer block_;  // null: every write goes straight to the file
  std::uint64_t start_ = 0;
  std::size_t used_ = 0;
};

// Writes one per-structure file; false, with the reason, when it could not be
// written whole (the close included, which flushes it).
bool write_own_file(FilePtr file, const std::uint8_t* bytes, std::uint32_t size,
                    std::string* reason) {
  errno = 0;
  const bool written = std::fwrite(bytes, 1, size, file.get()) == size;
  if (!written) *reason = last_error();
  errno = 0;
  if (std::fclose(file.release()) != 0) {
    if (written) *reason = last_error();
    return false;
  }
  return written;
}

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
void read_plain(RomHandle image, std::uint8_t* buffer, std::uint32_t length, std::uint32_t offset) {
  rom_seek(image, static_cast<std::int32_t>(offset), kRomSeekSet);
  const std::uint32_t read = rom_read(buffer, 1, length, image);
  std::memset(buffer + read, 0, length - read);
}

// Brings structure index into the buffer in its plain form and returns its
// size, or 0 when it could not be decoded.
std::uint32_t load_structure(RomHandle image, std::uint8_t* buffer, const PointerTable& table,
                             std::uint32_t index) {
  const std::uint32_t expected = structure_sizes[index];
  const std::uint32_t offset = snes_to_file(pointer_entry(table, index), kMap32, 1);
  switch (structure_kinds[index]) {
    case KindPlain:
      read_plain(image, buffer, expected, offset);
      return expected;
    case KindBitmap:
      // Read into the second half of the buffer and converted into the first
      // (no bitmap structure is larger than a half).
      read_plain(image, buffer + kConversionArea, expected, offset);
      if (!tiles_from_cartridge(buffer + kConversionArea, buffer, expected / 32,
                                kConversionMode52)) {
        return 0;
      }
      return expected;
    case KindFormat1:
      return decompress_block(image, buffer, offset, kStructureBufferSize, kFormat1, 0, nullptr);
    case KindFormat15:
      return decompress_block(image, buffer, offset, kStructureBufferSize, kFormat15, expected >> 9,
                              nullptr);
  }
  return 0;
}

struct DecodeContext {
  const RomImage* image;  // null when no image is open: nothing can be read
  const PointerTable* table;
};

// Pipeline work: decodes one structure. Each structure reads the shared image
// bytes through a handle of its own, so one stream's reads never move
// another's position.
void decode_structure(void* context, std::uint32_t index, StructureSlot* slot) {
  const auto* decode = static_cast<const DecodeContext*>(context);
  if (decode->image == nullptr) {
    slot->size = load_structure(nullptr, slot->buffer, *decode->table, index);
    return;
  }
  RomImage image;
  image.data.borrow(decode->image->data.get());
  image.size = decode->image->size;
  slot->size = load_structure(&image, slot->buffer, *decode->table, index);
}

}  // namespace

int extract_all(const char* graphics_name, const char* rom_name, std::FILE* messages,
                ExtractReport* report, unsigned threads) {
  const bool combined = graphics_name != nullptr;
  ExtractReport unused;
  ExtractReport& outcome = report != nullptr ? *report : unused;

  platform::FileReplacement graphics;
  std::string reason;
  if (combined && !begin_combined(&graphics, graphics_name, rom_name, &reason)) {
    std::fprintf(messages, "Couldn't open file %s!\n", graphics_name);
    note_problem(&outcome.problems, graphics_name, reason);
    return 0;
  }
  CombinedOutput output(&graphics);

  PointerTable table;
  read_pointer_table(table);

  // The structures are decoded ahead on several threads; from here on each
  // is handled in order as if it had just been decoded.
  DecodeContext context{rom_handle(), &table};
  StructurePipeline pipeline;
  if (!pipeline.start(threads, kStructureCount, decode_structure, &context)) return 0;

  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    const std::uint32_t expected = structure_sizes[i];
    StructureSlot* const slot = pipeline.take(i);
    std::uint8_t* const buffer = slot->buffer;
    std::uint32_t size = slot->size;

    if (size == 0) {
      std::fprintf(messages, "Error decompressing structure 0x%03X, using blank...\n", i);
      size = expected;
      std::memset(buffer, 0, size);
    }
    if (combined) {
      if (size < expected) {
        std::fprintf(messages, "Size of structure 0x%03X less than expected, padding...\n", i);
        std::memset(buffer + size, 0, expected - size);
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
      if (!output.write_at(combined_offset(i), buffer, expected, &reason)) {
        std::fprintf(messages, "Couldn't write file %s!\n", graphics_name);
        note_problem(&outcome.problems, graphics_name, reason);
        return 0;
      }
      continue;
    }

    char name[16];
    std::snprintf(name, sizeof name, "GFX%03X.bin", i);
    FilePtr file;
    errno = 0;
    if (rom_name != nullptr && platform::same_file(name, rom_name)) {
      reason = kIsTheCartridge;
    } else {
      file.reset(std::fopen(name, "wb"));
      if (!file) reason = last_error();
    }
    if (!file) {
      std::fprintf(messages, "Couldn't open file %s, skipping...\n", name);
      ++outcome.skipped;
      note_problem(&outcome.problems, name, reason);
      continue;
    }
    if (!write_own_file(std::move(file), buffer, size, &reason)) {
      std::fprintf(messages, "Couldn't write file %s!\n", name);
      note_problem(&outcome.problems, name, reason);
      return 0;
    }
  }

  // Only now, with every structure written, does the new file take the old
  // one's place.
  if (combined && (!output.flush(&reason) || !graphics.commit(&reason))) {
    std::fprintf(messages, "Couldn't write file %s!\n", graphics_name);
    note_problem(&outcome.problems, graphics_name, reason);
    return 0;
  }
  return 1;
}

}  // namespace tilvex
