// Helpers for the format 15 tests: pictures of 128-pixel rows, their tile
// data, cartridge images holding a stream, and a stream writer that spells out
// every command, independent of the encoder.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "codec/format15.h"

namespace tilvex::testing {

using Picture = std::vector<std::uint8_t>;  // 128 pixels per row

inline std::vector<std::uint8_t> tiles_from_picture(const Picture& picture) {
  std::vector<std::uint8_t> tiles(picture.size() / 2, 0);
  for (std::size_t i = 0; i < picture.size(); ++i) {
    const std::size_t x = i % 128, y = i / 128;
    std::uint8_t* tile = &tiles[32 * ((y / 8) * 16 + x / 8)];
    const unsigned r = y % 8, bit = 7 - x % 8, colour = picture[i];
    tile[2 * r] |= (colour & 1) << bit;
    tile[2 * r + 1] |= ((colour >> 1) & 1) << bit;
    tile[16 + 2 * r] |= ((colour >> 2) & 1) << bit;
    tile[17 + 2 * r] |= ((colour >> 3) & 1) << bit;
  }
  return tiles;
}

// Each row is colour `left` up to `boundary[row]` and `right` from there on.
inline Picture two_colour_picture(std::vector<int> boundaries, std::uint8_t left,
                                  std::uint8_t right) {
  Picture picture;
  for (int boundary : boundaries)
    for (int x = 0; x < 128; ++x) picture.push_back(x < boundary ? left : right);
  return picture;
}

// One tile row of colour 3 left of x = 64 and colour 9 from there, and the
// same with the boundary moving, with their streams.
inline Picture half_picture() { return two_colour_picture({64, 64, 64, 64, 64, 64, 64, 64}, 3, 9); }
inline Picture moving_picture() {
  return two_colour_picture({64, 60, 66, 66, 66, 66, 66, 66}, 3, 9);
}
inline const std::vector<std::uint8_t> kZeroStream = {0x00, 0x00, 0x00, 0x10,
                                                      0x11, 0x11, 0x11, 0x01};
inline const std::vector<std::uint8_t> kHalfStream = {0x93, 0x00, 0x00, 0xa0, 0xaa, 0xb0, 0xaa,
                                                      0x60, 0x18, 0x86, 0x61, 0x18, 0x06};
inline const std::vector<std::uint8_t> kMovingStream = {
    0x93, 0x00, 0x00, 0xa0, 0xaa, 0xb0, 0xaa, 0x60, 0x09, 0xdb, 0x57, 0xa5, 0x61, 0x18, 0x86, 0x01};

// Pictures of several kinds: noise, runs, rows that move, grow and shrink
// against the row above, dithering; up to sixteen colours.
inline Picture random_picture(std::mt19937& rng, std::uint32_t tile_rows) {
  const unsigned kind = rng() % 5, colours = 1 + rng() % 16;
  std::array<std::uint8_t, 16> palette;
  for (auto& colour : palette) colour = static_cast<std::uint8_t>(rng() % 16);
  auto any = [&] { return palette[rng() % colours]; };
  Picture p(128 * 8 * tile_rows);
  for (std::size_t y = 0; y < p.size() / 128; ++y) {
    std::uint8_t* row = &p[y * 128];
    const std::uint8_t* above = y > 0 ? row - 128 : nullptr;
    for (int x = 0; x < 128;) {
      if (kind == 0) {
        row[x++] = any();
        continue;
      }
      if (kind == 1) {
        row[x] = palette[(x + y) % 2 * (colours > 1)];
        ++x;
        continue;
      }
      const int length = 1 + static_cast<int>(rng() % (kind == 2 ? 40 : 128));
      const std::uint8_t colour = any();
      for (int i = 0; i < length && x < 128; ++i, ++x) row[x] = colour;
    }
    if (kind >= 3 && above != nullptr) {  // the row above with a few edges moved
      const int shift = static_cast<int>(rng() % 5) - 2;
      for (int x = 0; x < 128; ++x) row[x] = above[std::clamp(x + shift, 0, 127)];
      for (unsigned edits = rng() % (kind == 3 ? 3 : 12); edits > 0; --edits) {
        const int at = static_cast<int>(rng() % 128), length = 1 + static_cast<int>(rng() % 20);
        const std::uint8_t colour = any();
        for (int x = at; x < std::min(at + length, 128); ++x) row[x] = colour;
      }
    }
  }
  return p;
}

// An input holding `stream` at `offset`, with other bytes around it.
inline std::vector<std::uint8_t> image_holding(const std::vector<std::uint8_t>& stream,
                                               std::uint32_t offset, std::uint32_t trailing = 16) {
  std::vector<std::uint8_t> image(offset + stream.size() + trailing, 0xA5);
  std::copy(stream.begin(), stream.end(), image.begin() + offset);
  return image;
}

// Writes a stream command by command.
class StreamBuilder {
 public:
  explicit StreamBuilder(const std::array<std::uint8_t, 7>& table) {
    for (std::uint8_t colour : table) put_lsb_first(colour, 4);
  }
  StreamBuilder& bit(unsigned b) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    bytes_.back() |= static_cast<std::uint8_t>((b & 1) << (bits_ % 8));
    ++bits_;
    return *this;
  }
  StreamBuilder& field(unsigned value, unsigned length) {
    while (length-- > 0) bit(value >> length);
    return *this;
  }
  StreamBuilder& count(unsigned n) {
    for (; n > 1; n >>= 1) bit(1).bit(n & 1);
    return bit(0);
  }
  StreamBuilder& row(bool reference) {
    reference_ = reference;
    return bit(reference);
  }
  StreamBuilder& fill(unsigned n, unsigned index, unsigned colour = 0) {
    count(n);
    if (reference_) field(1, 2);
    field(index, 3);
    return index == 7 ? field(colour, 4) : *this;
  }
  StreamBuilder& keep(unsigned n) { return count(n).field(0, 2); }
  StreamBuilder& extend(unsigned n) { return count(n).field(2, 2); }
  StreamBuilder& cut(unsigned n) { return count(n).field(3, 2); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  void put_lsb_first(unsigned value, unsigned length) {
    for (unsigned i = 0; i < length; ++i) bit(value >> i);
  }
  std::vector<std::uint8_t> bytes_;
  std::uint64_t bits_ = 0;
  bool reference_ = false;
};

}  // namespace tilvex::testing
