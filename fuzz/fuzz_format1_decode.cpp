// Fuzzes the format 1 decoder over arbitrary images and start offsets, and
// checks it against the byte-at-a-time model reading through the image store
// (streams that run far past the end of the image are only checked for their
// result and image position, as the model is slow on them).
// Input: 4 bytes of start offset, 2 bytes of max size, then the image.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../tests/format1_reference.h"
#include "codec/format1.h"
#include "common/resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  std::uint32_t offset;
  std::memcpy(&offset, data, 4);
  const std::uint32_t max_size = std::uint32_t{data[4]} << 8 | data[5];
  const std::vector<std::uint8_t> bytes(data + 6, data + size);
  // Mostly start inside the image, sometimes anywhere.
  if ((offset >> 31) == 0) offset %= static_cast<std::uint32_t>(bytes.size()) + 2;

  tilvex::RomImage image;
  image.size = static_cast<std::uint32_t>(bytes.size());
  image.data = tilvex::allocate_bytes(bytes.size());
  if (!bytes.empty()) std::memcpy(image.data.get(), bytes.data(), bytes.size());
  image.position = 12345;

  std::vector<std::uint8_t> destination(max_size);
  std::uint32_t end = 0;
  const std::uint32_t result =
      tilvex::format1_decode(&image, destination.data(), offset, max_size, &end);

  if (result > 0x10000) std::abort();
  if (end - offset > 4 * bytes.size() + 64) {
    // The stream ran past the end of the image and on to the output limit;
    // the model would spend its time producing zeros. The image position
    // must be where rom_read leaves it.
    if (image.position != (offset < image.size ? image.size : offset)) std::abort();
    return 0;
  }
  const tilvex::testing::ReferenceDecoded want = tilvex::testing::reference_decode(bytes, offset);
  if (result != want.result || end != want.end_position || image.position != want.image_position)
    std::abort();
  const std::uint32_t copied = std::min(result, max_size);
  if (copied != 0 && std::memcmp(destination.data(), want.output.data(), copied) != 0) std::abort();
  return 0;
}
