// The codec entry points. Extraction and insertion never call a codec
// directly: they name a format number and these two functions pick the
// decoder or encoder. Decoding reads straight out of the open cartridge image;
// encoding needs no image at all.
#include "codec/codec.h"

#include "codec/format1.h"
#include "codec/format15.h"
#include "rom/image.h"

namespace tilvex {

std::uint32_t decompress_block(std::uint8_t* destination, std::uint32_t file_offset,
                               std::uint32_t max_size, std::uint32_t format,
                               std::uint32_t parameter, std::uint32_t* end_position) {
  RomHandle image = rom_handle();
  if (image == nullptr) return 0;
  switch (format) {
    case kFormat1:
      // Only the high-byte-first variant 0 exists in this cartridge, so the
      // parameter selects nothing here.
      return format1_decode(image, destination, file_offset, max_size, end_position);
    case kFormat15:
      return format15_decode(image, destination, file_offset, max_size, parameter, end_position);
    default:
      return 0;
  }
}

std::uint32_t recompress_block(const std::uint8_t* source, std::uint8_t* destination,
                               std::uint32_t size, std::uint32_t max_size, std::uint32_t format,
                               std::uint32_t parameter) {
  // Both encoders build their stream in memory of their own and copy it out
  // last, so destination may be the source buffer.
  switch (format) {
    case kFormat1:
      return format1_encode(source, destination, size, max_size);
    case kFormat15:
      return format15_encode(source, destination, size, max_size, parameter);
    default:
      return 0;
  }
}

}  // namespace tilvex
