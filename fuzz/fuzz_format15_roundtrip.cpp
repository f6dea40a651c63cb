// Fuzzes the format 15 encoder: for arbitrary tile data the stream decodes to
// the same tiles, the decoder stops exactly at the stream's end, and encoding
// in place gives the same stream. The first input byte chooses the tile rows;
// the source buffer holds exactly the bytes the encoder may read.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/format15.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tilvex;
  if (size == 0) return 0;
  const std::uint32_t rows = 1 + data[0] % kFormat15MaxEncodeRows;
  const std::uint32_t tile_size = 512 * rows;
  std::vector<std::uint8_t> tiles(tile_size, 0);
  // Short inputs repeat, so that small inputs still fill large pictures.
  for (std::uint32_t i = 0; i < tile_size && size > 1; ++i) tiles[i] = data[1 + i % (size - 1)];

  std::vector<std::uint8_t> stream(0x10000);
  const std::uint32_t length =
      format15_encode(tiles.data(), tile_size, stream.data(), 0x10000, rows).produced;
  check(length > 0 && length <= 0x10000);

  std::vector<std::uint8_t> in_place(tiles);
  in_place.resize(0x10000);
  check(format15_encode(in_place.data(), tile_size, in_place.data(), 0x10000, rows).produced ==
        length);
  check(std::memcmp(in_place.data(), stream.data(), length) == 0);

  const std::uint32_t offset = data[0];
  std::vector<std::uint8_t> image(offset + length, 0xFF);
  std::memcpy(image.data() + offset, stream.data(), length);
  std::vector<std::uint8_t> decoded(tile_size);
  const DecodeResult result =
      format15_decode(image.data(), offset + length, offset, decoded.data(), tile_size, rows);
  check(result.produced == tile_size);
  check(decoded == tiles);
  check(result.end == offset + length && result.overread == 0);
  return 0;
}
