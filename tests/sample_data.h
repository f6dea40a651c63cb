// Generated inputs for codec tests and benchmarks: 4-bit tile graphics drawn
// from shapes, runs, periodic data, small alphabets and mixtures of them.
// Every generator is deterministic for a given seed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <unordered_set>
#include <vector>

namespace tilvex::testing {

using Bytes = std::vector<std::uint8_t>;

class SampleRng {
 public:
  explicit SampleRng(std::uint32_t seed) : engine_(seed) {}
  // A value from lo to hi inclusive.
  std::uint32_t between(std::uint32_t lo, std::uint32_t hi) {
    return lo + static_cast<std::uint32_t>(engine_() % (std::uint64_t{hi} - lo + 1));
  }
  std::uint8_t byte() { return static_cast<std::uint8_t>(engine_()); }
  bool chance(std::uint32_t percent) { return between(0, 99) < percent; }

 private:
  std::mt19937 engine_;
};

// size bytes drawn from `values` distinct byte values picked at random.
inline Bytes small_alphabet(SampleRng& rng, std::uint32_t size, std::uint32_t values) {
  Bytes alphabet(values);
  for (auto& v : alphabet) v = rng.byte();
  Bytes out(size);
  for (auto& b : out) b = alphabet[rng.between(0, values - 1)];
  return out;
}

// Runs of a byte with lengths from 1 to max_run.
inline Bytes byte_runs(SampleRng& rng, std::uint32_t size, std::uint32_t max_run) {
  Bytes out;
  while (out.size() < size) out.insert(out.end(), rng.between(1, max_run), rng.byte());
  out.resize(size);
  return out;
}

// A random pattern of the given period repeated, with a mutation now and then.
inline Bytes periodic(SampleRng& rng, std::uint32_t size, std::uint32_t period,
                      std::uint32_t mutations) {
  Bytes pattern(period);
  for (auto& v : pattern) v = rng.byte();
  Bytes out(size);
  for (std::uint32_t i = 0; i < size; ++i) out[i] = pattern[i % period];
  for (std::uint32_t m = 0; m < mutations && size != 0; ++m)
    out[rng.between(0, size - 1)] = rng.byte();
  return out;
}

// Planar 4-bit tiles (32 bytes each, 16 to a band of 8 pixel rows) of a
// picture 128 pixels wide drawn from filled and outlined ellipses, shaded
// rectangles, lines and a little noise. size is rounded down to 512 bytes;
// density scales the number of shapes (1 leaves most of the picture empty).
inline Bytes tile_graphics(SampleRng& rng, std::uint32_t size, std::uint32_t density = 1) {
  const std::uint32_t rows = std::max<std::uint32_t>(1, size / 512);
  const int width = 128, height = static_cast<int>(8 * rows);
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height, 0);
  auto put = [&](int x, int y, std::uint8_t c) {
    if (x >= 0 && x < width && y >= 0 && y < height)
      pixels[static_cast<std::size_t>(y) * width + x] = c;
  };
  const int shapes = 2 + height * static_cast<int>(density) / 12;
  for (int s = 0; s < shapes; ++s) {
    const int cx = static_cast<int>(rng.between(0, width - 1));
    const int cy = static_cast<int>(rng.between(0, height - 1));
    const int rx = static_cast<int>(rng.between(3, 24));
    const int ry = static_cast<int>(rng.between(3, 24));
    const auto fill = static_cast<std::uint8_t>(rng.between(1, 15));
    const auto edge = static_cast<std::uint8_t>(rng.between(1, 15));
    switch (rng.between(0, 3)) {
      case 0:  // filled ellipse with an outline
      case 1:
        for (int y = -ry; y <= ry; ++y) {
          for (int x = -rx; x <= rx; ++x) {
            const double d = double(x) * x / (double(rx) * rx) + double(y) * y / (double(ry) * ry);
            if (d <= 1.0) put(cx + x, cy + y, d > 0.75 ? edge : fill);
          }
        }
        break;
      case 2:  // rectangle shaded by rows, with a border
        for (int y = 0; y < 2 * ry; ++y) {
          for (int x = 0; x < 2 * rx; ++x) {
            const bool border = x == 0 || y == 0 || x == 2 * rx - 1 || y == 2 * ry - 1;
            put(cx + x, cy + y, border ? edge : static_cast<std::uint8_t>((fill + y / 4) & 15));
          }
        }
        break;
      default:  // a line
        for (int i = 0; i <= 2 * rx; ++i) put(cx + i, cy + i * ry / std::max(rx, 1), edge);
        break;
    }
  }
  for (auto& p : pixels) {
    if (p != 0 && rng.chance(3)) p = static_cast<std::uint8_t>(rng.between(1, 15));
  }
  Bytes tiles(512 * rows, 0);
  for (std::uint32_t t = 0; t < 16 * rows; ++t) {
    for (int r = 0; r < 8; ++r) {
      std::uint8_t planes[4] = {0, 0, 0, 0};
      for (int x = 0; x < 8; ++x) {
        const std::uint8_t c =
            pixels[static_cast<std::size_t>(8 * (t >> 4) + r) * width + 8 * (t & 15) + x];
        for (int k = 0; k < 4; ++k)
          planes[k] |= static_cast<std::uint8_t>(((c >> k) & 1) << (7 - x));
      }
      tiles[32 * t + 2 * r] = planes[0];
      tiles[32 * t + 2 * r + 1] = planes[1];
      tiles[32 * t + 16 + 2 * r] = planes[2];
      tiles[32 * t + 17 + 2 * r] = planes[3];
    }
  }
  return tiles;
}

// Segments of every kind above, word patterns, counting sequences and copies
// of earlier segments (some altered), so that fills and repeats of all
// lengths compete with each other.
inline Bytes mixture(SampleRng& rng, std::uint32_t size) {
  Bytes out;
  while (out.size() < size) {
    const std::uint32_t length = rng.between(1, rng.chance(20) ? 1500 : 60);
    switch (rng.between(0, 7)) {
      case 0: {
        Bytes r = small_alphabet(rng, length, rng.between(1, 256));
        out.insert(out.end(), r.begin(), r.end());
        break;
      }
      case 1:
        out.insert(out.end(), length, rng.byte());
        break;
      case 2: {
        const std::uint8_t a = rng.byte(), b = rng.byte();
        for (std::uint32_t i = 0; i < length; ++i) out.push_back(i % 2 ? b : a);
        break;
      }
      case 3: {
        const std::uint8_t v = rng.byte();
        for (std::uint32_t i = 0; i < length; ++i) out.push_back(static_cast<std::uint8_t>(v + i));
        break;
      }
      case 4: {
        Bytes r = periodic(rng, length, rng.between(1, 12), rng.between(0, 2));
        out.insert(out.end(), r.begin(), r.end());
        break;
      }
      case 5: {
        Bytes r = tile_graphics(rng, 512);
        r.resize(std::min<std::size_t>(r.size(), length));
        out.insert(out.end(), r.begin(), r.end());
        break;
      }
      default:  // a copy of earlier output, possibly overlapping, maybe altered
        if (!out.empty()) {
          const std::size_t from = rng.between(0, static_cast<std::uint32_t>(out.size() - 1));
          for (std::uint32_t i = 0; i < length; ++i) {
            const std::uint8_t v = out[from + i];
            out.push_back(v);
          }
          if (rng.chance(30)) out[out.size() - rng.between(1, length)] ^= 1;
        }
        break;
    }
  }
  out.resize(size);
  return out;
}

// Bytes that give a greedy format 1 encoder nothing to work with: no byte
// follows an equal one, its successor or the byte two places back, and no
// four bytes occur twice.
inline Bytes unrepetitive(std::uint32_t seed, std::uint32_t size) {
  SampleRng rng(seed);
  Bytes out;
  std::unordered_set<std::uint32_t> seen;
  while (out.size() < size) {
    const std::size_t i = out.size();
    for (std::uint32_t start = rng.byte(), k = 0;; ++k) {
      const auto v = static_cast<std::uint8_t>(start + k * 37);
      if (i >= 1 && (v == out[i - 1] || v == static_cast<std::uint8_t>(out[i - 1] + 1))) continue;
      if (i >= 2 && v == out[i - 2]) continue;
      if (i >= 3) {
        const std::uint32_t group = std::uint32_t{out[i - 3]} << 24 |
                                    std::uint32_t{out[i - 2]} << 16 |
                                    std::uint32_t{out[i - 1]} << 8 | v;
        if (!seen.insert(group).second) continue;
      }
      out.push_back(v);
      break;
    }
  }
  return out;
}

// One input of a kind chosen by the seed, for round-trip sweeps.
inline Bytes varied_sample(std::uint32_t seed, std::uint32_t size) {
  SampleRng rng(seed);
  switch (seed % 7) {
    case 0:
      return small_alphabet(rng, size, rng.between(1, 4));
    case 1:
      return small_alphabet(rng, size, 256);
    case 2:
      return byte_runs(rng, size, rng.between(1, 40));
    case 3:
      return periodic(rng, size, rng.between(1, 70), rng.between(0, 8));
    case 4: {
      Bytes tiles = tile_graphics(rng, std::max<std::uint32_t>(size, 512));
      tiles.resize(size);
      return tiles;
    }
    default:
      return mixture(rng, size);
  }
}

}  // namespace tilvex::testing
