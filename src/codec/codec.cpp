// The codec entry points. Extraction and insertion never call a codec
// directly: they name a format number and these two functions pick the
// decoder or encoder. This is the one place where the codecs meet the
// cartridge image store: decoding reads the open image's bytes and leaves its
// position where reading the stream byte by byte would have left it; encoding
// needs no image at all.
#include "codec/codec.h"

#include <algorithm>

#include "codec/format1.h"
#include "codec/format15.h"
#include "rom/image.h"

namespace tilvex {

std::uint32_t decompress_block(std::uint8_t* destination, std::uint32_t file_offset,
                               std::uint32_t max_size, std::uint32_t format,
                               std::uint32_t parameter, std::uint32_t* end_position) {
  return decompress_block(rom_handle(), destination, file_offset, max_size, format, parameter,
                          end_position);
}

std::uint32_t decompress_block(RomImage* image, std::uint8_t* destination,
                               std::uint32_t file_offset, std::uint32_t max_size,
                               std::uint32_t format, std::uint32_t parameter,
                               std::uint32_t* end_position) {
  if (image == nullptr) return 0;
  // An image without bytes delivers nothing, like one of size 0.
  const std::uint8_t* const data = image->data.get();
  const std::uint32_t size = data != nullptr ? image->size : 0;
  DecodeResult result;
  switch (format) {
    case kFormat1:
      // Only the high-byte-first variant 0 exists in this cartridge, so the
      // parameter selects nothing here.
      result = format1_decode(data, size, file_offset, destination, max_size);
      break;
    case kFormat15:
      result = format15_decode(data, size, file_offset, destination, max_size, parameter);
      break;
    default:
      return 0;
  }
  if (result.status != CodecStatus::ok && result.status != CodecStatus::malformed) return 0;
  // Reads stop delivering at the end of the image, and a read that starts
  // there does not move the position at all.
  if (file_offset < size) {
    image->position = static_cast<std::uint32_t>(std::min<std::uint64_t>(result.end, size));
  } else {
    image->position = file_offset;
  }
  if (end_position != nullptr) *end_position = static_cast<std::uint32_t>(result.end);
  return result.status == CodecStatus::ok ? result.produced : 0;
}

std::uint32_t recompress_block(const std::uint8_t* source, std::uint8_t* destination,
                               std::uint32_t size, std::uint32_t max_size, std::uint32_t format,
                               std::uint32_t parameter) {
  // Both encoders build their stream in memory of their own and copy it out
  // last, so destination may be the source buffer.
  EncodeResult result;
  switch (format) {
    case kFormat1:
      result = format1_encode(source, size, destination, max_size);
      break;
    case kFormat15:
      result = format15_encode(source, size, destination, max_size, parameter);
      break;
    default:
      return 0;
  }
  return result.status == CodecStatus::ok ? result.produced : 0;
}

}  // namespace tilvex
