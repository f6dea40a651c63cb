// The cartridge image store.
//
// rom_open loads the whole cartridge file into one buffer; from then on every
// read and write is a memory copy at a file offset, clipped at the end of the
// image (the image never grows). The file itself changes only through
// rom_save, which never writes into the cartridge in place: it writes a new
// file beside it, syncs it and renames it over the cartridge, so a save that
// fails half-way (full disk, file size limit, I/O error) leaves the old file
// exactly as it was. rom_close never writes.
//
// rom_seek, rom_read and rom_write work on whatever RomImage the handle points
// at, so decoders can also run on an image a caller filled in by hand. The
// other operations work on the one process-wide store.
#include "rom/image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace tilvex {

namespace {

RomImage g_image;
std::uint8_t g_fill_byte = 0;

bool image_open() { return g_image.file != nullptr; }

// Stream modes by access bits. Access 2 would truncate the cartridge on open
// ("w+b"); the store never asks for that and refuses it instead.
const char* stream_mode(std::uint32_t flags) {
  switch (flags & kRomAccessMask) {
    case 0:
      return "rb";
    case 1:
      return "r+b";
    case 3:
      return "r+b";
    default:
      return nullptr;
  }
}

// Closes a raw descriptor on every path unless released.
struct FdGuard {
  int fd = -1;
  ~FdGuard() {
    if (fd >= 0) ::close(fd);
  }
  int release() {
    int result = fd;
    fd = -1;
    return result;
  }
};

// Ignores SIGXFSZ for its lifetime: a write beyond the process's file size
// limit then fails with EFBIG instead of killing the process.
struct IgnoreFileSizeSignal {
  struct sigaction previous {};
  bool saved = false;
  IgnoreFileSizeSignal() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    saved = ::sigaction(SIGXFSZ, &ignore, &previous) == 0;
  }
  ~IgnoreFileSizeSignal() {
    if (saved) ::sigaction(SIGXFSZ, &previous, nullptr);
  }
  IgnoreFileSizeSignal(const IgnoreFileSizeSignal&) = delete;
  IgnoreFileSizeSignal& operator=(const IgnoreFileSizeSignal&) = delete;
};

bool write_all(int fd, const std::uint8_t* bytes, std::uint32_t length) {
  while (length != 0) {
    ssize_t written = ::write(fd, bytes, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    bytes += written;
    length -= static_cast<std::uint32_t>(written);
  }
  return true;
}

// The file a save must replace: the cartridge name with every symbolic link
// resolved, so that a link keeps pointing at the new content.
bool resolve_target(const std::string& name, std::string& target) {
  char* resolved = ::realpath(name.c_str(), nullptr);
  if (resolved == nullptr) return false;
  target = resolved;
  std::free(resolved);
  return true;
}

std::string directory_of(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Writes the image into a new file beside target and renames it over target.
bool replace_file(const std::string& target, const std::uint8_t* data, std::uint32_t size) {
  struct stat original {};
  if (::stat(target.c_str(), &original) != 0 || !S_ISREG(original.st_mode)) return false;

  std::string directory = directory_of(target);
  std::string base = target.substr(target.rfind('/') + 1);
  std::string temporary = directory + "/." + base + ".XXXXXX";

  FdGuard out;
  out.fd = ::mkstemp(temporary.data());
  if (out.fd < 0) return false;

  bool ok = true;
  {
    IgnoreFileSizeSignal no_sigxfsz;
    ok = write_all(out.fd, data, size);
  }
  if (ok) {
    // Owner first: changing it may clear set-id bits, which the mode then restores.
    if (::fchown(out.fd, original.st_uid, original.st_gid) != 0) {
      [[maybe_unused]] int ignored = ::fchown(out.fd, static_cast<uid_t>(-1), original.st_gid);
    }
    ok = ::fchmod(out.fd, original.st_mode & 07777) == 0;
  }
  ok = ok && ::fsync(out.fd) == 0;
  if (ok) ok = ::close(out.release()) == 0;
  ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }

  // Make the rename itself durable. The new content is already in place, so a
  // failure here does not undo the save.
  FdGuard dir;
  dir.fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir.fd >= 0) ::fsync(dir.fd);
  return true;
}

}  // namespace

RomHandle rom_handle() { return image_open() ? &g_image : nullptr; }

const std::uint8_t* rom_open(const char* name, std::uint32_t flags, std::uint32_t size) {
  if (name == nullptr) return nullptr;
  if (image_open()) rom_close();

  const char* mode = stream_mode(flags);
  if (mode == nullptr) return nullptr;
  FilePtr file(std::fopen(name, mode));
  if (!file) return nullptr;

  struct stat status {};
  if (::fstat(::fileno(file.get()), &status) != 0 || status.st_size < 0) return nullptr;
  if (static_cast<std::uintmax_t>(status.st_size) > std::numeric_limits<std::uint32_t>::max()) {
    return nullptr;
  }
  const auto file_length = static_cast<std::uint32_t>(status.st_size);
  const std::uint32_t length = size > file_length ? size : file_length;

  // Only a tail beyond the file's own length needs clearing: the load
  // overwrites the rest, and clearing all of it would touch every page twice.
  ByteBuffer buffer = allocate_large(length);
  if (!buffer) return nullptr;
  if (file_length != 0 && std::fread(buffer.get(), file_length, 1, file.get()) != 1) {
    return nullptr;  // a short load would leave part of the image wrong
  }
  std::memset(buffer.get() + file_length, 0, length - file_length);

  g_image.file = std::move(file);
  g_image.data = std::move(buffer);
  g_image.size = length;
  g_image.position = 0;
  g_image.writable = (flags & kRomAccessMask) != 0;
  g_image.path = name;
  return g_image.data.get();
}

bool rom_close() {
  if (!image_open()) return false;
  g_image.data.reset();
  g_image.file.reset();
  g_image.size = 0;
  g_image.position = 0;
  g_image.writable = false;
  g_image.path.clear();
  return true;
}

int rom_save(const char* name) {
  // Saving under another name is not offered; the tool always saves in place.
  if (name != nullptr) return 0;
  if (!image_open() || !g_image.data || !g_image.writable) return 0;
  std::string target;
  if (!resolve_target(g_image.path, target)) return 0;
  return replace_file(target, g_image.data.get(), g_image.size) ? 1 : 0;
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
