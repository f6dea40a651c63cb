// The cartridge image store: the whole cartridge file held in memory for the
// length of a run (a read-only image as a mapped view of the file, whose
// pages are read only when touched; a writable one as a private copy). Every
// read and write of the cartridge goes to these bytes at file offsets
// (copier header included); the file itself changes only through
// rom_save, which replaces the cartridge file atomically (a new file beside it,
// synced, then renamed over it; a symbolic link keeps pointing at the new
// content) and leaves it untouched when anything fails. rom_close never writes.
//
// The file stays open while the image is: rom_save replaces exactly the file
// that was loaded, and refuses when the cartridge's name has come to lead to
// another file since (a symbolic link retargeted, a file moved in its place).
// rom_open refuses access 2 ("w+b" would truncate the file), anything but a
// regular file (without waiting on a FIFO) and a file it cannot load
// completely; rom_save refuses any name but null. Where a caller passes
// `reason`, a failure leaves the system's words for it there.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "common/resources.h"
#include "platform/files.h"
#include "platform/mapping.h"

namespace tilvex {

// Open flags of rom_open: only the access bits mean anything; the image is
// always the whole file and never grows.
inline constexpr std::uint32_t kRomAccessMask = 0x3;  // 0 "rb" read-only, 1 "r+b" read-write

// Origins of rom_seek, as for fseek.
inline constexpr int kRomSeekSet = 0;
inline constexpr int kRomSeekCur = 1;
inline constexpr int kRomSeekEnd = 2;

// The bytes of an image: a private block the image owns (any writable image,
// and images filled in by hand), a read-only view of the mapped cartridge
// file, or bytes someone else owns and keeps alive (a decoder's own handle on
// the store's bytes). get() gives the bytes to read; only an owned block may
// be written through it, and only a writable image is ever written.
class ImageBytes {
 public:
  ImageBytes() = default;
  ImageBytes(ImageBytes&& other) noexcept
      : owned_(std::move(other.owned_)),
        mapping_(std::move(other.mapping_)),
        view_(std::exchange(other.view_, nullptr)) {}
  ImageBytes& operator=(ImageBytes&& other) noexcept {
    if (this != &other) {
      owned_ = std::move(other.owned_);
      mapping_ = std::move(other.mapping_);
      view_ = std::exchange(other.view_, nullptr);
    }
    return *this;
  }
  ImageBytes& operator=(ByteBuffer owned) noexcept {
    mapping_.unmap();
    owned_ = std::move(owned);
    view_ = owned_.get();
    return *this;
  }
  ImageBytes& operator=(platform::FileMapping mapping) noexcept {
    owned_.reset();
    mapping_ = std::move(mapping);
    view_ = mapping_.data();
    return *this;
  }
  void borrow(const std::uint8_t* bytes) noexcept {
    reset();
    view_ = bytes;
  }
  void reset() noexcept {
    owned_.reset();
    mapping_.unmap();
    view_ = nullptr;
  }
  std::uint8_t* get() const noexcept { return const_cast<std::uint8_t*>(view_); }
  explicit operator bool() const noexcept { return view_ != nullptr; }

 private:
  ByteBuffer owned_;
  platform::FileMapping mapping_;
  const std::uint8_t* view_ = nullptr;
};

struct RomImage {
  platform::OpenFile file;     // the open cartridge file; closed when no image is open
  ImageBytes data;             // the image bytes
  std::uint32_t size = 0;      // image length; never changes while open
  std::uint32_t position = 0;  // position of rom_seek / rom_read / rom_write; may lie past size
  bool writable = false;
  // The file a save may replace: the loaded one, then the one the last save
  // put in its place.
  platform::FileIdentity identity;
};

// The value that identifies an image to rom_seek, rom_read and rom_write and to
// the decoders. The process-wide store's handle comes from rom_handle(); tests,
// fuzzers and tools may also pass a RomImage of their own whose data and size
// they filled in themselves.
using RomHandle = RomImage*;

// The handle of the process-wide store while an image is open, else null.
RomHandle rom_handle();

const std::uint8_t* rom_open(const char* name, std::uint32_t flags, std::uint32_t size,
                             std::string* reason = nullptr);
// As rom_open, on a file the caller has already opened (and perhaps locked and
// identified): the store takes it over and loads it. Access 1 needs a file
// opened for reading and writing.
const std::uint8_t* rom_open_file(platform::OpenFile file, std::uint32_t flags, std::uint32_t size,
                                  std::string* reason = nullptr);
bool rom_close();
int rom_save(const char* name, std::string* reason = nullptr);
// Begins the save of a writable image while it is still being changed, so
// that rom_save later has less to write and to wait for: the new file is
// started with every byte outside [from, to), the range the caller is about
// to change, and synced on a thread of its own. Any write after this, inside
// the range or not, is still saved. Nothing is committed before rom_save;
// rom_close drops the new file. Done only where the new file has no name
// until commit (a run cut short leaves nothing behind); false when it is not
// done, and rom_save then saves as if this had never been called.
bool rom_save_ahead(std::uint32_t from, std::uint32_t to);
// Tells a save begun ahead that the image's bytes in [from, to) are final for
// now: they go to the new file and the disk while the caller goes on. A later
// write there is still saved. Nothing happens without a save begun ahead.
void rom_save_final(std::uint32_t from, std::uint32_t to);

std::uint32_t rom_size();

int rom_seek(RomHandle image, std::int32_t offset, int origin);
std::uint32_t rom_read(void* destination, std::uint32_t item_size, std::uint32_t count,
                       RomHandle image);
std::uint32_t rom_write(const void* source, std::uint32_t item_size, std::uint32_t count,
                        RomHandle image);

int rom_read_at(void* destination, std::uint32_t length, std::uint32_t offset, int seek);
int rom_write_at(const void* source, std::uint32_t length, std::uint32_t offset, int seek);

int rom_set_fill(std::uint32_t value);
std::uint8_t rom_fill_byte();  // the byte rom_erase writes
bool rom_erase(std::uint32_t offset, std::uint32_t count);

}  // namespace tilvex
