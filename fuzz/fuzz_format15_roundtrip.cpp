// Fuzzes the format 15 encoder: for arbitrary tile data the stream decodes to
// the same tiles, the decoder stops exactly at the stream's end, and encoding
// in place gives the same stream. The first input byte chooses the tile rows;
// the source buffer holds exactly the bytes the encoder may read.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/format15.h"
#include "rom/image.h"

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
      format15_encode(tiles.data(), stream.data(), tile_size, 0x10000, rows);
  check(length > 0 && length <= 0x10000);

  std::vector<std::uint8_t> in_place(tiles);
  in_place.resize(0x10000);
  check(format15_encode(in_place.data(), in_place.data(), tile_size, 0x10000, rows) == length);
  check(std::memcmp(in_place.data(), stream.data(), length) == 0);

  const std::uint32_t offset = data[0];
  RomImage image;
  image.size = offset + length;
  image.data = allocate_bytes(image.size);
  std::memset(image.data.get(), 0xFF, offset);
  std::memcpy(image.data.get() + offset, stream.data(), length);
  std::vector<std::uint8_t> decoded(tile_size);
  std::uint32_t end = 0;
  check(format15_decode(&image, decoded.data(), offset, tile_size, rows, &end) == tile_size);
  check(decoded == tiles);
  check(end == offset + length && image.position == end);
  return 0;
}
