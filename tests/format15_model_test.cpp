// The format 15 encoder against the literal model in format15_model.h: first
// the model on streams known byte for byte, then both on thousands of
// generated pictures of many kinds, each stream also decoded back to its tiles
// with the decoder stopping exactly at the stream's end, and on the demo
// cartridge's structures. The model counts the
// tie rules it met, and the sweep checks that it met every one of them.
#include "format15_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "codec/format15.h"
#include "demo/demo_cartridge.h"
#include "format15_pictures.h"
#include "transfer/catalogue.h"

#if defined(__SANITIZE_ADDRESS__)
#define TILVEX_MODEL_SWEEP_LIGHT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TILVEX_MODEL_SWEEP_LIGHT 1
#endif
#endif

namespace tilvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

#ifdef TILVEX_MODEL_SWEEP_LIGHT
constexpr int kSweepPictures = 600;
#else
constexpr int kSweepPictures = 3000;
#endif

TEST(Format15Model, KnownStreams) {
  struct Case {
    const char* name;
    Picture picture;
    Bytes stream;
  };
  const Case cases[] = {
      {"zeros", Picture(1024, 0), kZeroStream},
      {"half", half_picture(), kHalfStream},
      {"moving", moving_picture(), kMovingStream},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes tiles = tiles_from_picture(c.picture);
    EXPECT_EQ(format15_model_encode(tiles.data(), 1), c.stream);
  }
}

// --- picture kinds ---

using Rng = std::mt19937;

int uniform(Rng& rng, int low, int high) {  // low to high inclusive
  return low + static_cast<int>(rng() % static_cast<unsigned>(high - low + 1));
}

std::vector<std::uint8_t> some_colours(Rng& rng, int count) {
  std::vector<std::uint8_t> colours(16);
  for (int i = 0; i < 16; ++i) colours[i] = static_cast<std::uint8_t>(i);
  std::shuffle(colours.begin(), colours.end(), rng);
  colours.resize(count);
  return colours;
}

Picture flat(Rng& rng, int rows) {
  return Picture(128 * rows, static_cast<std::uint8_t>(rng() % 16));
}

// Vertical bands of a few colours whose edges wander from row to row; bands
// come and go as edges cross.
Picture moving_edges(Rng& rng, int rows) {
  const auto colours = some_colours(rng, uniform(rng, 2, 5));
  const int edges = uniform(rng, 1, 6), wander = uniform(rng, 0, 4);
  std::vector<int> at(edges);
  std::vector<std::uint8_t> band(edges + 1);
  for (int& x : at) x = uniform(rng, 0, 128);
  for (auto& colour : band) colour = colours[rng() % colours.size()];
  Picture p(128 * rows);
  for (int y = 0; y < rows; ++y) {
    for (int& x : at) x = std::clamp(x + uniform(rng, -wander, wander), 0, 128);
    if (rng() % 8 == 0) band[rng() % band.size()] = colours[rng() % colours.size()];
    auto sorted = at;
    std::sort(sorted.begin(), sorted.end());
    for (int x = 0; x < 128; ++x) {
      const auto b = std::upper_bound(sorted.begin(), sorted.end(), x) - sorted.begin();
      p[128 * y + x] = band[b];
    }
  }
  return p;
}

// Runs of eight to sixteen colours, each row mostly the row above with runs
// repainted, so many colours miss the table.
Picture many_colours(Rng& rng, int rows) {
  const auto colours = some_colours(rng, uniform(rng, 8, 16));
  const int longest = uniform(rng, 1, 24);
  Picture p(128 * rows);
  for (int y = 0; y < rows; ++y) {
    std::uint8_t* row = &p[128 * y];
    if (y > 0 && rng() % 4 != 0) {
      std::copy(row - 128, row, row);
      for (int edits = uniform(rng, 0, 6); edits > 0; --edits) {
        const int x = uniform(rng, 0, 127), length = uniform(rng, 1, longest);
        std::fill(row + x, row + std::min(128, x + length), colours[rng() % colours.size()]);
      }
      continue;
    }
    for (int x = 0; x < 128;) {
      const int length = uniform(rng, 1, longest);
      const auto colour = colours[rng() % colours.size()];
      for (int i = 0; i < length && x < 128; ++i) row[x++] = colour;
    }
  }
  return p;
}

// Ordered patterns of two or three colours with small periods, with a patch of
// another pattern now and then.
Picture dithering(Rng& rng, int rows) {
  const auto colours = some_colours(rng, 3);
  const int px = uniform(rng, 1, 4), py = uniform(rng, 1, 4), shift = uniform(rng, 0, 3);
  const int used = uniform(rng, 2, 3);
  Picture p(128 * rows);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < 128; ++x)
      p[128 * y + x] = colours[(x / px + (y / py) * (shift + 1)) % used];
  if (rng() % 2 == 0) {
    const int x0 = uniform(rng, 0, 127), y0 = uniform(rng, 0, rows - 1);
    for (int y = y0; y < std::min(rows, y0 + 12); ++y)
      for (int x = x0; x < std::min(128, x0 + 20); ++x) p[128 * y + x] = colours[(x + y) % 2];
  }
  return p;
}

// Independent pixels from two to sixteen colours, or the row above with a few
// pixels changed.
Picture noise(Rng& rng, int rows) {
  const auto colours = some_colours(rng, uniform(rng, 2, 16));
  const bool sparse = rng() % 2 == 0;
  Picture p(128 * rows);
  for (int y = 0; y < rows; ++y) {
    std::uint8_t* row = &p[128 * y];
    if (sparse && y > 0) {
      std::copy(row - 128, row, row);
      for (int n = uniform(rng, 0, 8); n > 0; --n)
        row[rng() % 128] = colours[rng() % colours.size()];
    } else {
      for (int x = 0; x < 128; ++x) row[x] = colours[rng() % colours.size()];
    }
  }
  return p;
}

// Pictures close to the tie rules: two colours at a random boundary per row
// (trials and attempts of equal cost come up often), mirrored halves (equal
// run counts for two colours), and few colours with colour 0 among them (the
// table repeats colour 0 and fills of colour 0 take its first index).
Picture near_ties(Rng& rng, int rows) {
  Picture p(128 * rows);
  const auto colours = some_colours(rng, 4);
  switch (rng() % 3) {
    case 0: {
      const int low = uniform(rng, 0, 100), span = uniform(rng, 1, 28);
      for (int y = 0; y < rows; ++y) {
        const int boundary = uniform(rng, low, low + span);
        for (int x = 0; x < 128; ++x) p[128 * y + x] = colours[x < boundary ? 0 : 1];
      }
      break;
    }
    case 1:
      for (int y = 0; y < rows; ++y) {
        const int boundary = uniform(rng, 1, 63);
        for (int x = 0; x < 64; ++x) {
          p[128 * y + x] = colours[x < boundary ? 0 : 1];
          p[128 * y + 127 - x] = colours[x < boundary ? 1 : 0];
        }
      }
      break;
    default: {
      const std::uint8_t few[] = {0, colours[0], colours[1]};
      for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < 128;) {
          const int length = uniform(rng, 1, 40);
          const auto colour = few[rng() % 3];
          for (int i = 0; i < length && x < 128; ++i) p[128 * y + x++] = colour;
        }
      }
      break;
    }
  }
  return p;
}

// Colours that appear only in runs growing leftwards from a fixed right end,
// one pixel in their first row, over a background of one to three colours.
// Their runs are never counted as new runs of two or more pixels, so the
// table by runs ranks them by their run counts alone; with more of them than
// the table holds, that ranking decides which go into it.
Picture growing_stripes(Rng& rng, int rows) {
  const auto colours = some_colours(rng, 16);
  const int background = uniform(rng, 1, 3), stripes = uniform(rng, 5, 12);
  Picture p(128 * rows);
  for (auto& pixel : p) pixel = colours[rng() % background];
  for (int s = 0; s < stripes; ++s) {
    const auto colour = colours[background + rng() % (16 - background)];
    const int right = uniform(rng, 0, 127), first = uniform(rng, 0, rows - 1);
    const int widest = uniform(rng, 1, 6), last = uniform(rng, first, rows - 1);
    for (int y = first; y <= last; ++y)
      for (int x = std::max(0, right - std::min(widest, y - first + 1) + 1); x <= right; ++x)
        p[128 * y + x] = colour;
  }
  return p;
}

Picture shared_random(Rng& rng, int rows) {
  return random_picture(rng, static_cast<std::uint32_t>(rows / 8));
}

struct Kind {
  const char* name;
  Picture (*make)(Rng&, int rows);
};
const Kind kKinds[] = {{"flat", flat},
                       {"moving edges", moving_edges},
                       {"many colours", many_colours},
                       {"dithering", dithering},
                       {"noise", noise},
                       {"near ties", near_ties},
                       {"growing stripes", growing_stripes},
                       {"mixed", shared_random}};

// Picks more small pictures than large ones, and every size now and then.
std::uint32_t some_tile_rows(Rng& rng) {
  switch (rng() % 4) {
    case 0:
      return 1;
    case 1:
      return static_cast<std::uint32_t>(uniform(rng, 2, 4));
    case 2:
      return static_cast<std::uint32_t>(uniform(rng, 1, 8));
    default:
      return static_cast<std::uint32_t>(uniform(rng, 1, 32));
  }
}

void expect_decodes_to(const Bytes& stream, const Bytes& tiles, std::uint32_t tile_rows,
                       std::uint32_t offset) {
  const Bytes image = image_holding(stream, offset);
  Bytes decoded(tiles.size() + 16, 0xEE);
  const DecodeResult result =
      format15_decode(image.data(), static_cast<std::uint32_t>(image.size()), offset,
                      decoded.data(), static_cast<std::uint32_t>(tiles.size()), tile_rows);
  ASSERT_EQ(result.produced, tiles.size());
  EXPECT_TRUE(std::equal(tiles.begin(), tiles.end(), decoded.begin()));
  EXPECT_EQ(result.end, offset + stream.size());
}

TEST(Format15Model, EncoderMatchesModelOnGeneratedPictures) {
  Rng rng(0x15F00D);
  Format15ModelStats stats;
  Bytes out(0x10000);
  for (int i = 0; i < kSweepPictures; ++i) {
    const std::size_t kind = i % std::size(kKinds);
    const std::uint32_t tile_rows = some_tile_rows(rng);
    const Picture picture = kKinds[kind].make(rng, static_cast<int>(8 * tile_rows));
    const Bytes tiles = tiles_from_picture(picture);
    SCOPED_TRACE(std::string(kKinds[kind].name) + " #" + std::to_string(i) + ", tile rows " +
                 std::to_string(tile_rows));

    const Bytes expected = format15_model_encode(tiles.data(), tile_rows, &stats);
    const std::uint32_t length =
        format15_encode(tiles.data(), static_cast<std::uint32_t>(tiles.size()), out.data(), 0x10000,
                        tile_rows)
            .produced;
    ASSERT_EQ(length, expected.size());
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
    expect_decodes_to(expected, tiles, tile_rows, 0x200 + static_cast<std::uint32_t>(i));
    if (::testing::Test::HasFailure()) return;
  }

  // The sweep is only worth something if it reached every rule.
  const std::pair<const char*, std::uint64_t> reached[] = {
      {"fill-only row won", stats.rows_fill_won},
      {"reference-mode row won", stats.rows_reference_won},
      {"trials tied", stats.rows_tied},
      {"attempt 1 won", stats.attempt1_won},
      {"attempt 2 won", stats.attempt2_won},
      {"attempts tied with different bytes", stats.attempts_tied_differing},
      {"attempts identical", stats.attempts_identical},
      {"table pick among equal counts", stats.pick_ties},
      {"table pick from the second counts", stats.pick_fallbacks},
      {"table pick with nothing counted", stats.pick_empty},
      {"fill with colour index 7", stats.fills_index7},
      {"fill of a repeated table colour", stats.fills_repeated},
      {"keep runs", stats.keeps},
      {"keep runs giving back a run", stats.keeps_backed_off},
      {"extend run", stats.extends},
      {"extend run to column 0", stats.extends_to_edge},
      {"cut run", stats.cuts},
      {"cut run with the reference run at column 0", stats.cuts_to_edge},
  };
  for (const auto& [what, count] : reached) EXPECT_GT(count, 0u) << what;
}

// Raw tile bytes (any bit pattern) and the extreme heights.
TEST(Format15Model, EncoderMatchesModelOnRawTilesAndEveryHeight) {
  Rng rng(42);
  Bytes out(0x10000);
  for (std::uint32_t tile_rows = 0; tile_rows <= 33; ++tile_rows) {
    SCOPED_TRACE("tile rows " + std::to_string(tile_rows));
    // Noise in the first one to four planes of every tile row, zeros elsewhere.
    Bytes tiles(std::max<std::size_t>(1, 512 * tile_rows), 0);
    const unsigned planes = 1 + rng() % 4;
    for (std::size_t i = 0; i < 512 * tile_rows; ++i) {
      const unsigned plane = (i % 32 >= 16 ? 2 : 0) + i % 2;
      if (plane < planes) tiles[i] = static_cast<std::uint8_t>(rng());
    }
    const Bytes expected = format15_model_encode(tiles.data(), tile_rows);
    const std::uint32_t length =
        format15_encode(tiles.data(), 512 * tile_rows, out.data(), 0x10000, tile_rows).produced;
    ASSERT_EQ(length, expected.size());
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
    if (tile_rows >= 1 && tile_rows <= 32) {
      tiles.resize(512 * tile_rows);
      expect_decodes_to(expected, tiles, tile_rows, 7);
    }
  }
}

// The structures insertion encodes most: the demo cartridge's sprite sheets
// and tilesets, with dithered shading whose rows differ from the rows above
// by many short cuts and fills, and runs of rows equal to the row above.
TEST(Format15Model, EncoderMatchesModelOnDemoStructures) {
  Bytes out(0x10000);
  for (const std::uint32_t seed : {1u, 0x5EEDu}) {
    for (std::uint32_t index = 0; index < kStructureCount; ++index) {
      if (structure_kinds[index] != KindFormat15) continue;
      SCOPED_TRACE("seed " + std::to_string(seed) + ", structure " + std::to_string(index));
      const Bytes tiles = demo_structure(index, seed);
      const auto tile_rows = static_cast<std::uint32_t>(tiles.size() >> 9);
      const Bytes expected = format15_model_encode(tiles.data(), tile_rows);
      const std::uint32_t length =
          format15_encode(tiles.data(), static_cast<std::uint32_t>(tiles.size()), out.data(),
                          0x10000, tile_rows)
              .produced;
      ASSERT_EQ(length, expected.size());
      ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
    }
  }
}

}  // namespace
}  // namespace tilvex::testing
