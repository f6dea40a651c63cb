// The cartridge image store.
//
// rom_open keeps the file open and holds its bytes: a read-only image maps
// the file (only what is read is ever loaded), a writable one loads all of it
// into a private buffer. From then on every read and write is a memory copy at
// a file offset, clipped at the end of the image (the image never grows). The
// file itself changes only through rom_save, which never writes into the
// cartridge in place: it goes through the platform's file replacement (a new
// file beside it, synced, renamed over the cartridge only if the cartridge's
// name still leads to the file that was loaded), so a save that fails
// half-way (full disk, file size limit, I/O error) leaves the old file exactly
// as it was.
// rom_close never writes.
//
// A save may also begin ahead, while the image is still being changed (see
// save_ahead.h): rom_save then finishes it.
//
// rom_seek, rom_read and rom_write work on whatever RomImage the handle points
// at, so decoders can also run on an image a caller filled in by hand. The
// other operations work on the one process-wide store.
#include "rom/image.h"

#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "rom/save_ahead.h"

namespace tilvex {

namespace {

RomImage g_image;
std::uint8_t g_fill_byte = 0;

// A save begun by rom_save_ahead.
SaveAhead g_ahead;

bool image_open() { return g_image.file.is_open(); }

void set_reason(std::string* reason, const char* text) {
  if (reason != nullptr) *reason = text;
}

}  // namespace

RomHandle rom_handle() { return image_open() ? &g_image : nullptr; }

const std::uint8_t* rom_open(const char* name, std::uint32_t flags, std::uint32_t size,
                             std::string* reason) {
  if (name == nullptr) {
    set_reason(reason, "no file name");
    return nullptr;
  }
  if (image_open()) rom_close();
  // Access 2 would truncate the file on open ("w+b"); the store never asks for
  // that and refuses it instead.
  const std::uint32_t access = flags & kRomAccessMask;
  if (access == 2) {
    set_reason(reason, "unsupported open mode");
    return nullptr;
  }
  platform::OpenFile file;
  const auto mode = access == 0 ? platform::FileAccess::ReadOnly : platform::FileAccess::ReadWrite;
  if (!platform::open_existing_file(name, mode, &file, reason)) return nullptr;
  return rom_open_file(std::move(file), flags, size, reason);
}

const std::uint8_t* rom_open_file(platform::OpenFile file, std::uint32_t flags, std::uint32_t size,
                                  std::string* reason) {
  if (image_open()) rom_close();
  const std::uint32_t access = flags & kRomAccessMask;
  if (!file.is_open() || access == 2 ||
      (access != 0 && file.access() != platform::FileAccess::ReadWrite)) {
    set_reason(reason, "unsupported open mode");
    return nullptr;
  }
  if (file.size() > std::numeric_limits<std::uint32_t>::max()) {
    set_reason(reason, "File too large");
    return nullptr;
  }
  // A read-only image of the file as it is is a view of the mapped file:
  // only the pages a reader touches are read. A writable image, or one longer
  // than the file, is a private copy; only a tail beyond the file's own length
  // is cleared, as the load overwrites the rest.
  ImageBytes bytes;
  if (access == 0 && size <= file.size()) {
    platform::FileMapping mapping;
    if (!mapping.map(file, reason)) return nullptr;
    bytes = std::move(mapping);
  } else {
    ByteBuffer buffer;
    if (!platform::read_whole_file(file, size, &buffer, reason)) return nullptr;
    bytes = std::move(buffer);
  }

  g_image.identity = file.identity();
  g_image.file = std::move(file);
  g_image.data = std::move(bytes);
  g_image.size =
      static_cast<std::uint32_t>(g_image.file.size() > size ? g_image.file.size() : size);
  g_image.position = 0;
  g_image.writable = access != 0;
  return g_image.data.get();
}

bool rom_close() {
  g_ahead.drop();
  if (!image_open()) return false;
  g_image.data.reset();
  g_image.file.close();
  g_image.size = 0;
  g_image.position = 0;
  g_image.writable = false;
  g_image.identity = {};
  return true;
}

int rom_save(const char* name, std::string* reason) {
  // Saving under another name is not offered; the tool always saves in place.
  if (name != nullptr) {
    set_reason(reason, "saving under another name is not offered");
    return 0;
  }
  if (!image_open() || !g_image.data) {
    set_reason(reason, "no image is open");
    return 0;
  }
  if (!g_image.writable) {
    set_reason(reason, "the image is read-only");
    return 0;
  }
  if (g_ahead.active())
    return g_ahead.finish(g_image.data.get(), &g_image.identity, reason) ? 1 : 0;
  // The replacement goes where the name led at open, and commits only if the
  // name still leads to the very file that was loaded.
  platform::FileReplacement replacement;
  if (!replacement.begin(g_image.file, reason)) return 0;
  replacement.require_identity(g_image.identity);
  if (!replacement.write(g_image.data.get(), g_image.size, reason)) return 0;
  if (!replacement.commit(reason)) return 0;
  g_image.identity = replacement.committed_identity();
  return 1;
}

bool rom_save_ahead(std::uint32_t from, std::uint32_t to) {
  if (!image_open() || !g_image.data || !g_image.writable) return false;
  return g_ahead.begin(g_image.file, g_image.identity, g_image.data.get(), g_image.size, from, to);
}

void rom_save_final(std::uint32_t from, std::uint32_t to) {
  if (image_open()) g_ahead.write_final(g_image.data.get(), from, to);
}

std::uint32_t rom_size() { return image_open() ? g_image.size : 0; }

int rom_seek(RomHandle image, std::int32_t offset, int origin) {
  if (image == nullptr) return -1;
  std::uint32_t base = 0;
  if (origin == kRomSeekCur)
    base = image->position;
  else if (origin == kRomSeekEnd)
    base = image->size;
  image->position = base + static_cast<std::uint32_t>(offset);
  return 0;
}

std::uint32_t rom_read(void* destination, std::uint32_t item_size, std::uint32_t count,
                       RomHandle image) {
  if (image == nullptr || destination == nullptr || item_size == 0 || !image->data) return 0;
  if (image->position >= image->size) return 0;
  std::uint64_t length = std::uint64_t{item_size} * count;
  const std::uint32_t room = image->size - image->position;
  if (length > room) length = room;
  std::memcpy(destination, image->data.get() + image->position, static_cast<std::size_t>(length));
  image->position += static_cast<std::uint32_t>(length);
  return static_cast<std::uint32_t>(length / item_size);
}

std::uint32_t rom_write(const void* source, std::uint32_t item_size, std::uint32_t count,
                        RomHandle image) {
  if (image == nullptr || source == nullptr || item_size == 0 || !image->data) return 0;
  if (!image->writable) return 0;
  if (image->position >= image->size) return 0;
  std::uint64_t length = std::uint64_t{item_size} * count;
  const std::uint32_t room = image->size - image->position;
  if (length > room) length = room;  // the tail beyond the image is dropped
  std::memcpy(image->data.get() + image->position, source, static_cast<std::size_t>(length));
  if (image == &g_image) g_ahead.note_written(image->position, static_cast<std::uint32_t>(length));
  image->position += static_cast<std::uint32_t>(length);
  return static_cast<std::uint32_t>(length / item_size);
}

int rom_read_at(void* destination, std::uint32_t length, std::uint32_t offset, int seek) {
  if (!image_open() || destination == nullptr || length == 0) return 0;
  if (seek != 0) g_image.position = offset;
  return rom_read(destination, length, 1, &g_image) == 1 ? 1 : 0;
}

int rom_write_at(const void* source, std::uint32_t length, std::uint32_t offset, int seek) {
  if (!image_open() || source == nullptr || length == 0 || !g_image.writable) return 0;
  if (seek != 0) g_image.position = offset;
  return rom_write(source, length, 1, &g_image) == 1 ? 1 : 0;
}

int rom_set_fill(std::uint32_t value) {
  g_fill_byte = static_cast<std::uint8_t>((value >> 16) & 0xFF);
  return 1;
}

std::uint8_t rom_fill_byte() { return g_fill_byte; }

bool rom_erase(std::uint32_t offset, std::uint32_t count) {
  const std::uint8_t fill = g_fill_byte;
  if (!image_open() || count == 0 || !g_image.writable) return false;

  std::uint32_t chunk = count <= 0x10000 ? count : 0x10000;
  ByteBuffer block = allocate_bytes(chunk);
  g_image.position = offset;
  // A write that comes back short has reached the end of the image; every
  // later one would be refused, so the loops stop there.
  if (block) {
    std::memset(block.get(), fill, chunk);
    std::uint32_t remaining = count;
    while (remaining != 0) {
      if (rom_write(block.get(), chunk, 1, &g_image) != 1) break;
      remaining -= chunk;
      if (remaining < chunk) chunk = remaining;
    }
  } else {
    for (std::uint32_t i = 0; i < count; ++i) {
      if (rom_write(&fill, 1, 1, &g_image) != 1) break;
    }
  }
  return true;
}

}  // namespace tilvex
