// Format 15 decoding: known streams, the tile-row limits, malformed streams,
// streams running past the image end, and streams from a writer that makes
// choices the encoder never makes.
#include <gtest/gtest.h>

#include "codec/format15.h"
#include "format15_model.h"
#include "format15_pictures.h"

namespace tilvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kUnset = 0xDEADBEEF;

struct Decoded {
  std::uint32_t size;
  Bytes out;
  std::uint64_t end;  // kUnset when the stream was not read
  std::uint64_t overread;
  CodecStatus status;
};

Decoded decode(const Bytes& image, std::uint32_t offset, std::uint32_t tile_rows,
               std::uint32_t max_size = 0x10000) {
  Decoded d{0, Bytes(0x10000, 0xEE), kUnset, 0, CodecStatus::ok};
  const DecodeResult r = format15_decode(image.data(), static_cast<std::uint32_t>(image.size()),
                                         offset, d.out.data(), max_size, tile_rows);
  d.size = r.produced;
  d.status = r.status;
  d.overread = r.overread;
  if (r.status == CodecStatus::ok || r.status == CodecStatus::malformed) d.end = r.end;
  return d;
}

void expect_tiles(const Decoded& d, const Picture& picture) {
  const Bytes tiles = tiles_from_picture(picture);
  ASSERT_EQ(d.size, tiles.size());
  EXPECT_TRUE(std::equal(tiles.begin(), tiles.end(), d.out.begin()));
  EXPECT_EQ(d.out[tiles.size()], 0xEE);
}

TEST(Format15Decode, KnownStreams) {
  for (const auto& [stream, picture] :
       {std::pair{kZeroStream, Picture(1024, 0)}, std::pair{kHalfStream, half_picture()},
        std::pair{kMovingStream, moving_picture()}}) {
    const Decoded d = decode(image_holding(stream, 7), 7, 1);
    expect_tiles(d, picture);
    EXPECT_EQ(d.end, 7 + stream.size());
    EXPECT_EQ(d.overread, 0u);
  }
}

TEST(Format15Decode, MovingBoundaryRowsAreTheseCommands) {
  StreamBuilder s({3, 9, 0, 0, 0, 0, 0});
  s.row(false).fill(64, 1).fill(64, 0);  // 9 on the right, 3 on the left
  s.row(true).extend(4).keep(1);         // boundary 64 -> 60
  s.row(true).cut(6).extend(65);         // boundary 60 -> 66
  for (int i = 0; i < 5; ++i) s.row(true).keep(2);
  EXPECT_EQ(s.bytes(), kMovingStream);
}

TEST(Format15Decode, TileRowLimits) {
  struct Case {
    std::uint32_t rows, result;
    bool reads;  // false: refused as an invalid argument
  };
  for (const Case c : {Case{0, 0, true}, Case{42, 42 * 512, true}, Case{43, 0, false},
                       Case{0x20000000, 0, false}, Case{0xFFFFFFFF, 0, false}}) {
    SCOPED_TRACE(c.rows);
    const Decoded d = decode(image_holding(Bytes(4, 0), 3, 0), 3, c.rows);  // all zero bits
    EXPECT_EQ(d.size, c.result);
    EXPECT_TRUE(
        std::all_of(d.out.begin(), d.out.begin() + c.result, [](auto b) { return b == 0; }));
    EXPECT_EQ(d.out[c.result], 0xEE);
    // Zero bits: every pixel row is a fill-only row of 128 one-pixel fills, 513 bits.
    const std::uint32_t bits = c.rows * 8 * 513;
    EXPECT_EQ(d.end, c.reads ? 3 + 4 + (bits > 4 ? (bits - 4 + 7) / 8 : 0) : kUnset);
    EXPECT_EQ(d.status, c.reads ? CodecStatus::ok : CodecStatus::invalid_argument);
  }
}

TEST(Format15Decode, OptionalArguments) {
  const Bytes image = image_holding(kHalfStream, 0);
  const Decoded clipped = decode(image, 0, 1, 5);
  EXPECT_EQ(clipped.size, 512u);
  const Bytes tiles = tiles_from_picture(half_picture());
  EXPECT_TRUE(std::equal(tiles.begin(), tiles.begin() + 5, clipped.out.begin()));
  EXPECT_EQ(clipped.out[5], 0xEE);

  EXPECT_EQ(format15_decode(image.data(), 32, 0, nullptr, 0x10000, 1).produced, 512u);
  // No input at all reads as zero bits: eight fill-only rows of colour 0.
  Bytes out(16, 0xEE);
  const DecodeResult none = format15_decode(nullptr, 0, 0, out.data(), 16, 1);
  EXPECT_EQ(none.produced, 512u);
  EXPECT_EQ(out, Bytes(16, 0));
  EXPECT_EQ(none.overread, 4 + 513u);
}

// Each stream ends with its last command; the image goes on with other bytes.
// Accepted streams are completed with rows of colour 0.
TEST(Format15Decode, MalformedStreamsStopWhereTheyFail) {
  const std::array<std::uint8_t, 7> table{3, 9, 0, 0, 0, 0, 0};
  auto two_runs = [&] { return StreamBuilder(table).row(false).fill(64, 1).fill(64, 0); };
  struct Case {
    const char* name;
    StreamBuilder stream;
    int rows;
    bool accepted;
  };
  Case cases[] = {
      {"eight count pairs",
       StreamBuilder(table)
           .row(false)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1)
           .bit(1),
       1, false},
      {"seven count pairs", StreamBuilder(table).row(false).fill(128, 2), 1, true},
      {"fill past column 0", StreamBuilder(table).row(false).fill(64, 0).fill(65, 7, 12), 1, false},
      {"fill to column 0", StreamBuilder(table).row(false).fill(64, 0).fill(64, 7, 12), 1, true},
      {"keep past column 0", StreamBuilder(table).row(true).keep(2), 1, false},
      {"keep to column 0", StreamBuilder(table).row(true).keep(1), 1, true},
      {"extend without a left neighbour", StreamBuilder(table).row(true).extend(1), 1, false},
      {"extend past column 0", two_runs().row(true).extend(65), 2, false},
      {"extend to column 0", two_runs().row(true).extend(64), 2, true},
      {"cut past column 127", StreamBuilder(table).row(true).cut(129), 1, false},
      {"cut to column 127", StreamBuilder(table).row(true).cut(128).keep(1), 1, true},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.accepted)
      for (int row = c.rows; row < 8; ++row) c.stream.row(false).fill(128, 2);
    const Bytes& stream = c.stream.bytes();
    const Decoded d = decode(image_holding(stream, 100), 100, 1);
    EXPECT_EQ(d.size, c.accepted ? 512u : 0u);
    EXPECT_EQ(d.status, c.accepted ? CodecStatus::ok : CodecStatus::malformed);
    if (!c.accepted) {
      EXPECT_EQ(d.out[0], 0xEE);
    }
    EXPECT_EQ(d.end, 100 + stream.size());
  }
}

// A fill too long for the row, read whole (its explicit colour included)
// before it fails, after any number of one-pixel fills: the decoder reads
// short fills several at a time, so the long one meets every amount of bits
// left over from them.
TEST(Format15Decode, LongFillAfterShortOnesEndsWhereTheModelEnds) {
  const std::array<std::uint8_t, 7> table{3, 9, 0, 0, 0, 0, 0};
  for (int rows_before = 0; rows_before < 2; ++rows_before) {
    for (int short_fills = 0; short_fills < 24; ++short_fills) {
      SCOPED_TRACE(::testing::Message() << rows_before << " rows, " << short_fills << " fills");
      StreamBuilder s(table);
      for (int y = 0; y < rows_before; ++y) s.row(false).fill(128, 1);
      s.row(false);
      for (int i = 0; i < short_fills; ++i) s.fill(1, static_cast<unsigned>(i % 7));
      s.fill(255, 7, 5);
      const Bytes& stream = s.bytes();
      const Format15ModelDecoded want = format15_model_decode(stream, 1);
      const Decoded got = decode(stream, 0, 1);
      EXPECT_FALSE(want.ok);
      EXPECT_EQ(got.status, CodecStatus::malformed);
      EXPECT_EQ(got.end, want.end);
    }
  }
}

// Bytes past the image end read as 0: eight fill-only rows of 128 one-pixel
// fills of table entry 0, 4 bits each, 513 bytes after the header.
TEST(Format15Decode, StreamsPastTheImageEnd) {
  struct Case {
    Bytes image;
    std::uint32_t offset;
    std::uint8_t colour;
    std::uint64_t end;
  };
  for (const Case& c : {Case{{0x21, 0x43}, 0, 1, 517},  // half a header
                        Case{{0x21, 0x43}, 1000, 0, 1517},
                        Case{{0x21, 0x43}, 0xFFFFFFFE, 0, 0xFFFFFFFEull + 517}}) {
    SCOPED_TRACE(c.offset);
    const Decoded d = decode(c.image, c.offset, 1);
    expect_tiles(d, Picture(1024, c.colour));
    EXPECT_EQ(d.end, c.end);
    EXPECT_EQ(d.overread, c.end - 2);
  }
}

// A writer with a random colour table that picks at random between fill-only
// and reference-mode rows, splits fills, uses colour index 7 for colours in
// the table, keeps, extends and cuts runs where it may.
Bytes varied_stream(const Picture& picture, std::mt19937& rng) {
  std::array<std::uint8_t, 7> table;
  for (auto& colour : table) colour = static_cast<std::uint8_t>(rng() % 16);
  StreamBuilder s(table);
  std::uint8_t ref[128] = {};  // the decoder's row
  for (std::size_t y = 0; y < picture.size() / 128; ++y) {
    const std::uint8_t* R = &picture[y * 128];
    const bool reference = rng() % 3 != 0;
    s.row(reference);
    for (int c = 127; c >= 0;) {
      const std::uint8_t v = R[c];
      int rs = c, fs = c;  // left neighbours of the run at c in the picture and the decoder
      while (rs >= 0 && R[rs] == v) --rs;
      while (fs >= 0 && ref[fs] == v) --fs;
      if (!reference || fs == c || rng() % 4 == 0) {
        const int n = 1 + static_cast<int>(rng() % static_cast<unsigned>(c - rs));
        std::vector<unsigned> indices{7};
        for (unsigned i = 0; i < 7; ++i)
          if (table[i] == v) indices.push_back(i);
        s.fill(static_cast<unsigned>(n), indices[rng() % indices.size()], v);
        c -= n;
      } else if (rs > fs) {
        s.cut(static_cast<unsigned>(rs - fs));
        ref[rs] = fs >= 0 ? ref[fs] : 0;
        c = rs;
      } else if (rs < fs && rng() % 2 == 0) {
        const int n = 1 + static_cast<int>(rng() % static_cast<unsigned>(fs - rs));
        s.extend(static_cast<unsigned>(n));
        const std::uint8_t covered = ref[fs];
        c = fs - n;
        if (c >= 0) ref[c] = covered;
      } else {  // keep this run and perhaps further runs the picture shares
        unsigned n = 1;
        for (c = fs; c >= 0 && rng() % 2 == 0; ++n) {
          int next = c;
          while (next >= 0 && ref[next] == ref[c]) --next;
          if (!std::equal(R + next + 1, R + c + 1, ref + next + 1)) break;
          c = next;
        }
        s.keep(n);
      }
    }
    std::copy(R, R + 128, ref);
  }
  return s.bytes();
}

TEST(Format15Decode, StreamsOfAnotherWriter) {
  std::mt19937 rng(15);
  for (int i = 0; i < 400; ++i) {
    const std::uint32_t rows = 1 + rng() % 4;
    const Picture picture = random_picture(rng, rows);
    const Bytes stream = varied_stream(picture, rng);
    const Decoded d = decode(image_holding(stream, 9), 9, rows);
    ASSERT_NO_FATAL_FAILURE(expect_tiles(d, picture)) << "picture " << i;
    ASSERT_EQ(d.end, 9 + stream.size());
  }
}

// Random commands of every kind, cuts that leave the cursor in place or move
// it right among them, and the odd malformed one, against the literal model.
TEST(Format15Decode, AgreesWithTheLiteralModel) {
  std::mt19937 rng(1510);
  auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int i = 0; i < 600; ++i) {
    const std::uint32_t tile_rows = 1 + rng() % 2;
    std::array<std::uint8_t, 7> table;
    for (auto& colour : table) colour = static_cast<std::uint8_t>(rng() % 4);
    StreamBuilder s(table);
    Format15ModelRow row;
    bool malformed = false;
    for (std::uint32_t y = 0; y < 8 * tile_rows && !malformed; ++y) {
      const bool reference = y > 0 && below(4) != 0;
      s.row(reference);
      row.c = 127;
      for (int commands = 0; row.c >= 0 && !malformed; ++commands) {
        const int kind = !reference ? 1 : commands > 200 ? 1 : below(4);
        // Mostly counts that fit, now and then one that may not.
        const bool wild = below(40) == 0;
        int n;
        if (kind == 1) {
          n = wild ? 1 + below(130) : 1 + below(std::min(row.c + 1, 24));
          const unsigned index = static_cast<unsigned>(below(8));
          const auto colour = static_cast<std::uint8_t>(index == 7 ? rng() % 4 : table[index]);
          s.fill(static_cast<unsigned>(n), index, colour);
          malformed = !row.fill(n, colour);
        } else if (kind == 0) {
          n = wild ? 1 + below(130) : 1 + below(3);
          s.keep(static_cast<unsigned>(n));
          malformed = !row.keep(n);
        } else if (kind == 2) {
          n = wild ? 1 + below(130) : 1 + below(std::max(1, row.left_neighbour(row.c) + 1));
          s.extend(static_cast<unsigned>(n));
          malformed = !row.extend(n);
        } else {
          const int s_at = row.left_neighbour(row.c);
          n = wild ? 1 + below(130) : 1 + below(127 - s_at);  // lands anywhere right of s
          s.cut(static_cast<unsigned>(n));
          malformed = !row.cut(n);
        }
      }
    }
    const Bytes& stream = s.bytes();
    const Format15ModelDecoded want = format15_model_decode(stream, tile_rows);
    const Decoded got = decode(stream, 0, tile_rows);
    ASSERT_EQ(got.status, want.ok ? CodecStatus::ok : CodecStatus::malformed) << "stream " << i;
    ASSERT_EQ(got.end, want.end) << "stream " << i;
    if (want.ok) {
      ASSERT_NO_FATAL_FAILURE(expect_tiles(got, want.picture)) << "stream " << i;
    }
  }
}

}  // namespace
}  // namespace tilvex::testing
