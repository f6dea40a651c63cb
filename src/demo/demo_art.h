// The demo cartridge's art: a picture for each structure, drawn from a seed.
#pragma once

#include <cstdint>
#include <vector>

#include "pixel/planar.h"

namespace tilvex::demo {

// Numbers that follow from a seed, the same on every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint32_t next() {
    state_ += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
  }
  int below(int bound) { return bound <= 0 ? 0 : static_cast<int>(next() % bound); }
  int between(int low, int high) { return low + below(high - low + 1); }
  bool chance(int percent) { return below(100) < percent; }

 private:
  std::uint64_t state_;
};

// A picture as wide as a band of 16 tiles, one byte (a colour, 0 to 15) per
// pixel; reads and writes outside it are ignored.
struct Picture {
  static constexpr int kWidth = static_cast<int>(kBandWidth);  // 128 pixels
  int height = 0;
  std::vector<std::uint8_t> pixels;  // kWidth * height colours

  std::uint8_t get(int x, int y) const {
    if (x < 0 || y < 0 || x >= kWidth || y >= height) return 0;
    return pixels[static_cast<std::size_t>(y) * kWidth + x];
  }
  void set(int x, int y, std::uint8_t colour) {
    if (x < 0 || y < 0 || x >= kWidth || y >= height) return;
    pixels[static_cast<std::size_t>(y) * kWidth + x] = colour;
  }
};

// The picture of structure index for this seed: whole bands of 8 pixel rows,
// enough for the structure's tiles. Throws std::bad_alloc when memory is short.
Picture draw_structure(std::uint32_t index, std::uint32_t seed);

}  // namespace tilvex::demo
