// Speed of format 15 decoding and encoding on generated tile graphics of 2, 8
// and 16 tile rows, in several kinds: flat areas, shapes whose edges move from
// row to row, dithering, noise, and more colours than the table holds. Bytes
// processed are bytes of tile data. The demo case encodes every format 15
// structure of the demo cartridge as insertion does.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "codec/format15.h"
#include "demo_structures.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

enum Kind { Flat, MovingEdges, Dithered, Noise, ManyColours, kKinds };
const char* const kKindNames[kKinds] = {"flat", "moving edges", "dithered", "noise",
                                        "many colours"};

std::uint8_t pixel(Kind kind, int x, int y, std::mt19937& rng) {
  switch (kind) {
    case Flat:  // a few rectangles
      return static_cast<std::uint8_t>((x < 40 ? 1 : x < 100 ? 5 : 9) + (y / 24) % 2);
    case MovingEdges: {  // a disc and a slanted band
      const double dx = x - 64, dy = y - 40;
      if (dx * dx + dy * dy < 900) return 12;
      return static_cast<std::uint8_t>((x + y / 2) / 20 % 3 == 0 ? 3 : 0);
    }
    case Dithered:  // checkerboard shading between bands
      return static_cast<std::uint8_t>((x + y) % 2 == 0 ? 2 + x / 32 : 6 + y / 32 % 4);
    case Noise:
      return static_cast<std::uint8_t>(rng() % 16);
    case ManyColours:  // twelve colours in bands whose edges move
      return static_cast<std::uint8_t>(1 +
                                       ((x + static_cast<int>(8 * std::sin(y / 5.0))) / 11) % 12);
    default:
      return 0;
  }
}

Bytes tile_graphics(Kind kind, std::uint32_t tile_rows) {
  std::mt19937 rng(kind);
  Bytes tiles(512 * tile_rows, 0);
  for (int y = 0; y < static_cast<int>(8 * tile_rows); ++y) {
    for (int x = 0; x < 128; ++x) {
      std::uint8_t* tile = &tiles[32 * ((y / 8) * 16 + x / 8)];
      const int r = y % 8, bit = 7 - x % 8;
      const unsigned colour = pixel(kind, x, y, rng) & 15;
      tile[2 * r] |= static_cast<std::uint8_t>((colour & 1) << bit);
      tile[2 * r + 1] |= static_cast<std::uint8_t>(((colour >> 1) & 1) << bit);
      tile[16 + 2 * r] |= static_cast<std::uint8_t>(((colour >> 2) & 1) << bit);
      tile[17 + 2 * r] |= static_cast<std::uint8_t>(((colour >> 3) & 1) << bit);
    }
  }
  return tiles;
}

void BM_Format15Decode(benchmark::State& state) {
  const auto kind = static_cast<Kind>(state.range(0));
  const auto rows = static_cast<std::uint32_t>(state.range(1));
  const Bytes tiles = tile_graphics(kind, rows);
  Bytes stream(0x10000);
  const std::uint32_t length =
      tilvex::format15_encode(tiles.data(), 512 * rows, stream.data(), 0x10000, rows).produced;

  Bytes out(0x10000);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tilvex::format15_decode(stream.data(), length, 0, out.data(), 0x10000, rows));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 512 * rows);
  state.SetLabel(std::string(kKindNames[kind]) + ", stream " + std::to_string(length) + " bytes");
}
BENCHMARK(BM_Format15Decode)
    ->ArgsProduct({{Flat, MovingEdges, Dithered, Noise, ManyColours}, {2, 8, 16}});

void BM_Format15Encode(benchmark::State& state) {
  const auto kind = static_cast<Kind>(state.range(0));
  const auto rows = static_cast<std::uint32_t>(state.range(1));
  const Bytes tiles = tile_graphics(kind, rows);
  Bytes stream(0x10000);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tilvex::format15_encode(tiles.data(), 512 * rows, stream.data(), 0x10000, rows).produced);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 512 * rows);
  state.SetLabel(kKindNames[kind]);
}
BENCHMARK(BM_Format15Encode)
    ->ArgsProduct({{Flat, MovingEdges, Dithered, Noise, ManyColours}, {2, 8, 16}});

// Every format 15 structure of the demo cartridge (seed 1), encoded as
// insertion encodes it: its plain size decides the tile rows.
void BM_Format15EncodeDemo(benchmark::State& state) {
  const tilvex::bench::DemoStructures demo =
      tilvex::bench::demo_structures_of(tilvex::KindFormat15);
  Bytes stream(0x10000);
  for (auto _ : state) {
    for (const Bytes& plain : demo.plain) {
      const auto size = static_cast<std::uint32_t>(plain.size());
      benchmark::DoNotOptimize(
          tilvex::format15_encode(plain.data(), size, stream.data(), 0x10000, size >> 9).produced);
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * demo.bytes);
  state.SetLabel(std::to_string(demo.plain.size()) + " structures");
}
BENCHMARK(BM_Format15EncodeDemo);

// The demo cartridge's structures, encoded once and then decoded as
// extraction decodes them: most are a few tile rows, so what each call costs
// besides the rows themselves shows here.
void BM_Format15DecodeDemo(benchmark::State& state) {
  const tilvex::bench::DemoStructures demo =
      tilvex::bench::demo_structures_of(tilvex::KindFormat15);
  std::vector<Bytes> streams;
  for (const Bytes& plain : demo.plain) {
    const auto size = static_cast<std::uint32_t>(plain.size());
    Bytes stream(0x10000);
    stream.resize(
        tilvex::format15_encode(plain.data(), size, stream.data(), 0x10000, size >> 9).produced);
    streams.push_back(std::move(stream));
  }
  Bytes out(0x10000);
  for (auto _ : state) {
    for (std::size_t i = 0; i < streams.size(); ++i) {
      const auto rows = static_cast<std::uint32_t>(demo.plain[i].size() >> 9);
      benchmark::DoNotOptimize(
          tilvex::format15_decode(streams[i].data(), static_cast<std::uint32_t>(streams[i].size()),
                                  0, out.data(), 0x10000, rows));
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * demo.bytes);
  state.SetLabel(std::to_string(demo.plain.size()) + " structures");
}
BENCHMARK(BM_Format15DecodeDemo);

// A crafted stream whose commands leave the cursor in place: a reference-mode
// row of colour 0 followed by nothing but "cut run 128" commands (17 bits
// each), which put the cursor back on column 127 every time. The decoder must
// handle each in constant time. Bytes processed are stream bytes.
Bytes cursor_in_place_stream(std::uint32_t size) {
  Bytes stream(size, 0);
  std::uint64_t bit = 28;  // the first four stream bits share header byte 3
  auto put = [&](unsigned b) {
    if (bit / 8 < size && b != 0) stream[bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    ++bit;
  };
  put(1);  // reference-mode row
  while (bit / 8 < size) {
    for (int pair = 0; pair < 7; ++pair) {  // count code of 128: seven pairs "1 0", then 0
      put(1);
      put(0);
    }
    put(0);
    put(1);  // command code 3, cut run
    put(1);
  }
  return stream;
}

void BM_Format15DecodeCursorInPlace(benchmark::State& state) {
  const auto size = static_cast<std::uint32_t>(state.range(0));
  const Bytes stream = cursor_in_place_stream(size);
  Bytes out(0x10000);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tilvex::format15_decode(stream.data(), size, 0, out.data(), 0x10000, 8));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
}
BENCHMARK(BM_Format15DecodeCursorInPlace)->Arg(1 << 20);

}  // namespace
