// Speed of the mode 52 conversions on the largest kind 1 structure (0x8000 bytes).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "pixel/mode52.h"

namespace {

void BM_TilesToCartridge(benchmark::State& state) {
  std::vector<std::uint8_t> tiles(0x8000), bitmap(0x8000);
  for (std::size_t i = 0; i < tiles.size(); ++i) tiles[i] = static_cast<std::uint8_t>(i * 37);
  for (auto _ : state) {
    tilvex::tiles_to_cartridge(tiles.data(), bitmap.data(), 1024, tilvex::kConversionMode52);
    benchmark::DoNotOptimize(bitmap.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 0x8000);
}
BENCHMARK(BM_TilesToCartridge);

void BM_TilesFromCartridge(benchmark::State& state) {
  std::vector<std::uint8_t> bitmap(0x8000), tiles(0x8000);
  for (std::size_t i = 0; i < bitmap.size(); ++i) bitmap[i] = static_cast<std::uint8_t>(i * 37);
  for (auto _ : state) {
    tilvex::tiles_from_cartridge(bitmap.data(), tiles.data(), 1024, tilvex::kConversionMode52);
    benchmark::DoNotOptimize(tiles.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 0x8000);
}
BENCHMARK(BM_TilesFromCartridge);

}  // namespace
