// Fuzzes the format 1 decoder over arbitrary images and start offsets, and
// checks it against the byte-at-a-time model (streams that run far past the
// end of the image are only checked for their result and overread count, as
// the model is slow on them).
// Input: 4 bytes of start offset, 2 bytes of max size, then the image.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../tests/format1_reference.h"
#include "codec/format1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  std::uint32_t offset;
  std::memcpy(&offset, data, 4);
  const std::uint32_t max_size = std::uint32_t{data[4]} << 8 | data[5];
  const std::vector<std::uint8_t> bytes(data + 6, data + size);
  // Mostly start inside the image, sometimes anywhere.
  if ((offset >> 31) == 0) offset %= static_cast<std::uint32_t>(bytes.size()) + 2;

  const auto image_size = static_cast<std::uint32_t>(bytes.size());
  std::vector<std::uint8_t> destination(max_size);
  const tilvex::DecodeResult decoded =
      tilvex::format1_decode(bytes.data(), image_size, offset, destination.data(), max_size);
  const std::uint32_t result = decoded.produced;
  const std::uint64_t end = decoded.end;

  if (result > 0x10000 || decoded.status != tilvex::CodecStatus::ok) std::abort();
  if (decoded.overread != (end > image_size ? end - image_size : 0)) std::abort();
  if (end - offset > 4 * bytes.size() + 64) {
    // The stream ran past the end of the image and on to the output limit;
    // the model would spend its time producing zeros.
    return 0;
  }
  const tilvex::testing::ReferenceDecoded want = tilvex::testing::reference_decode(bytes, offset);
  if (result != want.result || end != want.end_position) std::abort();
  const std::uint32_t copied = std::min(result, max_size);
  if (copied != 0 && std::memcmp(destination.data(), want.output.data(), copied) != 0) std::abort();
  return 0;
}
