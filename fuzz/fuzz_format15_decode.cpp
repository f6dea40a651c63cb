// Fuzzes the format 15 decoder on arbitrary images, offsets, row counts and
// max sizes. The input's first bytes choose the call, the rest is the image.
// Every buffer is exactly as large as the call may use, so any stray access
// shows under the address sanitizer. The slow bit-by-bit model of the tests
// decodes the same stream: the outcome, the end position and the tiles must
// agree. A stream that decodes is re-encoded and must decode to the same
// tiles.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/format15.h"
#include "format15_model.h"
#include "format15_pictures.h"

namespace {

std::uint32_t take32(const std::uint8_t*& data, std::size_t& size) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4 && size > 0; ++i, ++data, --size) value |= std::uint32_t{*data} << (8 * i);
  return value;
}

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tilvex;
  const std::uint32_t choice = take32(data, size);
  // Mostly offsets inside or just past the image, sometimes anywhere.
  std::uint32_t offset = take32(data, size);
  if ((choice & 0x100) == 0) offset %= static_cast<std::uint32_t>(size + 8);
  // Mostly the sizes the program uses, sometimes anything, including counts
  // whose product with 512 overflows.
  const std::uint32_t rows = (choice & 0x200) ? take32(data, size) : (choice & 0xFF) % 44;
  const std::uint32_t max_size = (choice & 0x400) ? (choice >> 16) : 0x10000;

  const auto input_size = static_cast<std::uint32_t>(size);
  std::vector<std::uint8_t> out(max_size);
  const DecodeResult result =
      format15_decode(data, input_size, offset, max_size ? out.data() : nullptr, max_size, rows);
  const std::uint32_t decoded = result.produced;
  check(decoded == 0 || (rows <= kFormat15MaxDecodeRows && decoded == 512 * rows));
  check((result.status == CodecStatus::ok) == (decoded != 0 || rows == 0));
  if (result.status == CodecStatus::ok || result.status == CodecStatus::malformed) {
    check(result.overread == (result.end > input_size ? result.end - input_size : 0));
  }
  if (rows >= 1 && rows <= kFormat15MaxDecodeRows && max_size >= 512 * rows &&
      (result.status == CodecStatus::ok || result.status == CodecStatus::malformed)) {
    const std::uint8_t* const start = data + (offset < input_size ? offset : input_size);
    const std::vector<std::uint8_t> stream(start, data + input_size);
    const testing::Format15ModelDecoded want = testing::format15_model_decode(stream, rows);
    check(want.ok == (result.status == CodecStatus::ok));
    check(result.end == std::uint64_t{offset} + want.end);
    if (want.ok) {
      check(std::equal(out.begin(), out.begin() + decoded,
                       testing::tiles_from_picture(want.picture).begin()));
    }
  }
  if (decoded == 0 || max_size < decoded || rows > kFormat15MaxEncodeRows) return 0;

  std::vector<std::uint8_t> tiles(out.begin(), out.begin() + decoded);
  std::vector<std::uint8_t> stream(0x10000);
  const std::uint32_t length =
      format15_encode(tiles.data(), decoded, stream.data(), 0x10000, rows).produced;
  check(length > 0);
  std::vector<std::uint8_t> again(stream.begin(), stream.begin() + length);
  std::vector<std::uint8_t> back(decoded);
  const DecodeResult second = format15_decode(again.data(), length, 0, back.data(), decoded, rows);
  check(second.produced == decoded);
  check(back == tiles && second.end == length && second.overread == 0);
  return 0;
}
