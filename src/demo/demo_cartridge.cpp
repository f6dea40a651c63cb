// The demo cartridge: a generated image that passes identification and holds
// all 473 structures where the pointer table says, each in its kind.
//
// Each structure's picture (demo_art.cpp) is cut into 4-bit planar tiles and
// stored with the same conversions insertion uses: the bitmap layout for
// kind 1, format 1 for kind 2, format 15 for kind 3. Everything follows from
// the seed, so a seed always gives the same cartridge.
#include "demo/demo_cartridge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "codec/format1.h"
#include "codec/format15.h"
#include "common/resources.h"
#include "common/types.h"
#include "demo/demo_art.h"
#include "pixel/mode52.h"
#include "pixel/planar.h"
#include "rom/address.h"
#include "rom/header.h"
#include "transfer/catalogue.h"

namespace tilvex {

namespace {

using demo::Random;

// Cuts the picture into planar tiles, 16 to a band, and keeps the first
// `tiles` of them.
std::vector<std::uint8_t> tiles_of(const demo::Picture& picture, std::uint32_t tiles) {
  std::vector<std::uint8_t> bytes(picture.pixels.size() / 2, 0);  // 32 bytes per 64 pixels
  picture_to_tiles(picture.pixels.data(), static_cast<std::uint32_t>(picture.height), bytes.data());
  bytes.resize(static_cast<std::size_t>(tiles) * kTileBytes);
  return bytes;
}

// The structure as the cartridge stores it; empty when it cannot be made.
std::vector<std::uint8_t> stored_form(std::uint32_t index, const std::vector<std::uint8_t>& plain) {
  const auto size = static_cast<std::uint32_t>(plain.size());
  std::vector<std::uint8_t> stored(kOutputLimit, 0);
  std::uint32_t length = 0;
  switch (structure_kinds[index]) {
    case KindPlain:
      return plain;
    case KindBitmap:
      if (!tiles_to_cartridge(plain.data(), stored.data(), size / 32, kConversionMode52)) return {};
      length = size;
      break;
    case KindFormat1:
      length = format1_encode(plain.data(), size, stored.data(), kOutputLimit).produced;
      break;
    case KindFormat15:
      length = format15_encode(plain.data(), size, stored.data(), kOutputLimit, size >> 9).produced;
      break;
  }
  if (length == 0 || length > kOutputLimit) return {};
  stored.resize(length);
  return stored;
}

}  // namespace

std::vector<std::uint8_t> demo_structure(std::uint32_t index, std::uint32_t seed) {
  if (index >= kStructureCount) return {};
  try {
    const std::uint32_t tiles = structure_sizes[index] / 32;
    std::vector<std::uint8_t> plain = tiles_of(demo::draw_structure(index, seed), tiles);
    // Sheets often end in unused tiles.
    Random random(seed ^ (index * 0x85EBCA6Bu));
    if (random.chance(40)) {
      const std::uint32_t unused = random.below(static_cast<int>(tiles / 4) + 1);
      std::fill(plain.end() - static_cast<std::ptrdiff_t>(unused) * 32, plain.end(), 0);
    }
    return plain;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::vector<std::uint8_t> build_demo_cartridge(std::uint32_t size, std::uint32_t seed) {
  if (size <= kVersionOffset || size < kDemoDataStart) return {};
  try {
    std::vector<std::uint8_t> image(size, 0);
    // Everything but the copier header and the structures looks like code
    // and data: bytes from the seed, so stray reads and writes show.
    Random filler(seed * 0x27D4EB2Fu + 1);
    for (std::uint32_t i = kCopierHeaderSize; i < size; ++i) {
      image[i] = static_cast<std::uint8_t>(filler.next());
    }
    std::memcpy(image.data() + kTitleOffset, kExpectedTitle, kTitleLength);
    image[kCountryOffset] = kCountryUs;
    image[kVersionOffset] = 0;

    // The structures lie back to back from kDemoDataStart, where every file
    // offset has an address and nothing else of the cartridge lies.
    const std::uint32_t limit = std::min(size - 1, kDemoAddressLimit);
    std::uint32_t cursor = kDemoDataStart;
    for (std::uint32_t i = 0; i < kStructureCount; ++i) {
      const std::vector<std::uint8_t> plain = demo_structure(i, seed);
      if (plain.empty()) return {};
      const std::vector<std::uint8_t> stored = stored_form(i, plain);
      if (stored.empty() || stored.size() > limit - cursor) return {};
      std::memcpy(image.data() + cursor, stored.data(), stored.size());
      const std::uint32_t address = file_to_snes(cursor, kMap32, 1);
      std::uint8_t* entry = image.data() + kPointerTableOffset + 3 * i;
      entry[0] = static_cast<std::uint8_t>(address);
      entry[1] = static_cast<std::uint8_t>(address >> 8);
      entry[2] = static_cast<std::uint8_t>(address >> 16);
      cursor += static_cast<std::uint32_t>(stored.size());
    }
    return image;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

bool write_demo_cartridge(const std::string& path, std::uint32_t size, std::uint32_t seed) {
  const std::vector<std::uint8_t> image = build_demo_cartridge(size, seed);
  if (image.empty()) return false;
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  const bool written = std::fwrite(image.data(), 1, image.size(), file.get()) == image.size();
  return std::fclose(file.release()) == 0 && written;
}

}  // namespace tilvex
