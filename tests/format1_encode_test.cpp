// Format 1 encoder: the streams for known inputs, the choice between repeats
// and fills, the output limit, agreement with the naive model encoder, and
// round trips through the decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/format1.h"
#include "codec/format1_tuning.h"
#include "format1_reference.h"
#include "sample_data.h"

namespace tilvex {
namespace {

using testing::Bytes;
using testing::kLimit;

Bytes encode(const Bytes& source) {
  Bytes out(kLimit, 0xEE);
  const std::uint8_t none = 0;  // an empty source is still a source
  const std::uint8_t* data = source.empty() ? &none : source.data();
  const std::uint32_t length =
      format1_encode(data, static_cast<std::uint32_t>(source.size()), out.data(), kLimit).produced;
  out.resize(length);
  return out;
}

// Decodes a stream that stands alone; checks it ends at its end.
Bytes decode_whole(const Bytes& stream) {
  Bytes out(kLimit);
  const DecodeResult result = format1_decode(
      stream.data(), static_cast<std::uint32_t>(stream.size()), 0, out.data(), kLimit);
  EXPECT_EQ(result.end, stream.size());
  EXPECT_EQ(result.overread, 0u);
  out.resize(result.produced);
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes repeated(const Bytes& part, std::size_t times) {
  Bytes out;
  for (std::size_t i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes counting(std::uint32_t n) {
  Bytes out(n);
  for (std::uint32_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i);
  return out;
}

// The stream for bytes with nothing to compress: direct copies of 1024 bytes
// and a last shorter one, then the end marker.
Bytes direct_copies(const Bytes& bytes) {
  Bytes out;
  for (std::size_t at = 0; at < bytes.size(); at += 1024) {
    const std::size_t n = std::min<std::size_t>(1024, bytes.size() - at);
    if (n <= 32) {
      out.push_back(static_cast<std::uint8_t>(n - 1));
    } else {
      out.push_back(static_cast<std::uint8_t>(0xE0 + ((n - 1) >> 8)));
      out.push_back(static_cast<std::uint8_t>((n - 1) & 0xFF));
    }
    out.insert(out.end(), bytes.begin() + at, bytes.begin() + at + n);
  }
  out.push_back(0xFF);
  return out;
}

struct EncodeCase {
  std::string name;
  Bytes source;
  Bytes stream;
};

std::vector<EncodeCase> encode_cases() {
  const Bytes u33 = testing::unrepetitive(1, 33);
  const Bytes u1025 = testing::unrepetitive(2, 1025);
  return {
      {"Empty", {}, {0xFF}},
      {"OneByte", {0x37}, {0x00, 0x37, 0xFF}},
      {"TwoBytes", {0x41, 0x41}, {0x01, 0x41, 0x41, 0xFF}},
      {"ThreeEqualBytes", {0x41, 0x41, 0x41}, {0x22, 0x41, 0xFF}},
      {"FiveEqualBytes", Bytes(5, 0x41), {0x24, 0x41, 0xFF}},
      {"ThreeCountingBytes", {0x61, 0x62, 0x63}, {0x62, 0x61, 0xFF}},
      {"FortyZeros", Bytes(40, 0), {0xE4, 0x27, 0x00, 0xFF}},
      {"CountingWrapsAround", concat({counting(256), counting(256)}), {0xED, 0xFF, 0x00, 0xFF}},
      {"CountingAcrossFFTo00", {0xFE, 0xFF, 0x00, 0x01}, {0x63, 0xFE, 0xFF}},
      {"FillLimitedByTheReach", Bytes(1025, 0), {0xE7, 0xFF, 0x00, 0x00, 0x00, 0xFF}},
      {"ThreeBytesTooFewForACommand", {0x01, 0x02, 0x04}, {0x02, 0x01, 0x02, 0x04, 0xFF}},
      {"PendingRunTakesTheLongHeader", u33, direct_copies(u33)},
      {"PendingRunSplitsAt1024", u1025, direct_copies(u1025)},
      {"EveryKind",
       {0x9A, 0x3C, 0x71, 0xE5, 0x41, 0x41, 0x41, 0x41, 0x41, 0x12, 0x34, 0x12, 0x34, 0x12,
        0x34, 0x05, 0x06, 0x07, 0x08, 0x9A, 0x3C, 0x71, 0xE5, 0x41, 0x41, 0x77, 0x88},
       {0x03, 0x9A, 0x3C, 0x71, 0xE5, 0x24, 0x41, 0x45, 0x12, 0x34, 0x63, 0x05, 0x85, 0x00, 0x00,
        0x01, 0x77, 0x88, 0xFF}},
      {"RepeatNotTwoLongerThanByteFill",
       {0x41, 0x41, 0x41, 0x42, 0x41, 0x41, 0x41, 0x42},
       {0x22, 0x41, 0x00, 0x42, 0x22, 0x41, 0x00, 0x42, 0xFF}},
      {"RepeatTwoLongerThanByteFill",
       {0x41, 0x41, 0x41, 0x42, 0x43, 0x41, 0x41, 0x41, 0x42, 0x43},
       {0x22, 0x41, 0x01, 0x42, 0x43, 0x84, 0x00, 0x00, 0xFF}},
      {"RepeatNotLongerThanWordFill",
       concat({repeated({0x12, 0x34}, 3), {0x99, 0x88}, repeated({0x12, 0x34}, 3)}),
       {0x45, 0x12, 0x34, 0x01, 0x99, 0x88, 0x45, 0x12, 0x34, 0xFF}},
      {"RepeatOneLongerThanWordFill",
       concat({repeated({0x12, 0x34}, 3), {0x12, 0x99}, repeated({0x12, 0x34}, 3), {0x12, 0x99}}),
       {0x46, 0x12, 0x34, 0x00, 0x99, 0x87, 0x00, 0x00, 0xFF}},
      {"RepeatOneLongerThanIncreasingFill",
       {0x10, 0x11, 0x12, 0x13, 0x00, 0x10, 0x11, 0x12, 0x13, 0x00},
       {0x63, 0x10, 0x00, 0x00, 0x63, 0x10, 0x00, 0x00, 0xFF}},
      {"RepeatTwoLongerThanIncreasingFill",
       {0x10, 0x11, 0x12, 0x13, 0x00, 0x01, 0x10, 0x11, 0x12, 0x13, 0x00, 0x01},
       {0x63, 0x10, 0x01, 0x00, 0x01, 0x85, 0x00, 0x00, 0xFF}},
      {"EqualRepeatsTakeTheEarliest",
       {0xAA, 0xBB, 0xCC, 0xDD, 0x01, 0xAA, 0xBB, 0xCC, 0xDD, 0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x03},
       {0x04, 0xAA, 0xBB, 0xCC, 0xDD, 0x01, 0x83, 0x00, 0x00, 0x00, 0x02, 0x83, 0x00, 0x00, 0x00,
        0x03, 0xFF}},
      {"LongerLaterRepeatWins",
       {0xAA, 0xBB, 0xCC, 0xDD, 0x01, 0xAA, 0xBB, 0xCC, 0xDD, 0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x02},
       {0x04, 0xAA, 0xBB, 0xCC, 0xDD, 0x01, 0x83, 0x00, 0x00, 0x00, 0x02, 0x84, 0x00, 0x05, 0xFF}},
      {"OverlappingRepeat",
       concat({{0x01, 0x02, 0x04}, repeated({0x01, 0x02, 0x04}, 3)}),
       {0x02, 0x01, 0x02, 0x04, 0x88, 0x00, 0x00, 0xFF}},
      {"AllZeros", Bytes(kLimit, 0), concat({repeated({0xE7, 0xFF, 0x00}, 64), {0xFF}})},
  };
}

TEST(Format1Encode, WritesTheExpectedStreams) {
  for (const EncodeCase& c : encode_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(encode(c.source), c.stream);
    EXPECT_EQ(decode_whole(c.stream), c.source);
  }
}

// 65,407 bytes with nothing to compress need 64 direct copies with two-byte
// headers and the end marker: exactly 65,536 bytes. One byte more does not fit.
TEST(Format1Encode, OutputLimit) {
  const Bytes fits = testing::unrepetitive(3, 65407);
  const Bytes stream = encode(fits);
  ASSERT_EQ(stream.size(), kLimit);
  EXPECT_EQ(stream, direct_copies(fits));
  EXPECT_EQ(decode_whole(stream), fits);

  const Bytes too_long = testing::unrepetitive(3, 65408);
  Bytes destination(16, 0xEE);
  const EncodeResult refused = format1_encode(too_long.data(), 65408, destination.data(), 16);
  EXPECT_EQ(refused.status, CodecStatus::output_too_large);
  EXPECT_EQ(refused.produced, 0u);
  EXPECT_EQ(destination, Bytes(16, 0xEE));

  testing::SampleRng rng(4);
  const Bytes noise = testing::small_alphabet(rng, kLimit, 256);
  EXPECT_EQ(format1_encode(noise.data(), kLimit, destination.data(), 16).produced, 0u);
}

TEST(Format1Encode, RefusesMissingOrOversizedSources) {
  Bytes big(kLimit + 1, 0);
  Bytes destination(16, 0xEE);
  EXPECT_EQ(format1_encode(nullptr, 10, destination.data(), 16).status,
            CodecStatus::invalid_argument);
  // More than 65,536 bytes cannot be addressed by back-references, nor decoded.
  const EncodeResult big_result = format1_encode(big.data(), kLimit + 1, destination.data(), 16);
  EXPECT_EQ(big_result.status, CodecStatus::invalid_argument);
  EXPECT_EQ(big_result.produced, 0u);
  EXPECT_EQ(destination, Bytes(16, 0xEE));
}

TEST(Format1Encode, MaxSizeClipsOnlyTheCopy) {
  const EncodeCase every_kind = encode_cases()[13];
  ASSERT_EQ(every_kind.name, "EveryKind");
  for (std::uint32_t max_size : {0u, 1u, 18u, 19u, 64u}) {
    SCOPED_TRACE(max_size);
    Bytes destination(80, 0xEE);
    EXPECT_EQ(format1_encode(every_kind.source.data(), 27, destination.data(), max_size).produced,
              19u);
    const std::uint32_t copied = std::min(max_size, 19u);
    EXPECT_TRUE(
        std::equal(destination.begin(), destination.begin() + copied, every_kind.stream.begin()));
    EXPECT_TRUE(std::all_of(destination.begin() + copied, destination.end(),
                            [](std::uint8_t b) { return b == 0xEE; }));
  }
  EXPECT_EQ(format1_encode(every_kind.source.data(), 27, nullptr, kLimit).produced, 19u);
}

TEST(Format1Encode, InPlaceGivesTheSameStream) {
  for (std::uint32_t seed : {0u, 4u, 5u, 6u}) {
    const Bytes source = testing::varied_sample(seed, 20000);
    Bytes buffer(kLimit, 0);
    std::copy(source.begin(), source.end(), buffer.begin());
    const std::uint32_t length =
        format1_encode(buffer.data(), 20000, buffer.data(), kLimit).produced;
    buffer.resize(length);
    EXPECT_EQ(buffer, encode(source)) << seed;
  }
}

// The stream with every level of the search built as soon as it can be used,
// which small inputs otherwise rarely get to.
Bytes encode_eagerly(const Bytes& source) {
  Bytes out(kLimit, 0xEE);
  const std::uint8_t none = 0;
  const std::uint8_t* data = source.empty() ? &none : source.data();
  out.resize(
      format1_encode_tuned(data, static_cast<std::uint32_t>(source.size()), out.data(), kLimit, 0)
          .produced);
  return out;
}

void expect_matches_reference(const Bytes& source) {
  const Bytes want = testing::reference_encode(source);
  const Bytes got = encode(source);
  ASSERT_EQ(encode_eagerly(source), got);
  ASSERT_EQ(got, want);
  if (!got.empty()) {
    ASSERT_EQ(decode_whole(got), source);
  }
}

// A short pending run goes out in one piece only while the stream has room
// for it; close to the output limit the stream stops where the model's does.
TEST(Format1Encode, ShortPendingRunsAtTheOutputLimit) {
  const Bytes u = testing::unrepetitive(5, kLimit);
  // The bulk's direct copies and a fill leave the stream 0 to 40 bytes short
  // of the limit when the 10-byte run between two fills goes out.
  for (std::uint32_t bulk = 65366; bulk <= 65406; ++bulk) {
    SCOPED_TRACE(::testing::Message() << "bulk " << bulk);
    Bytes source(u.begin(), u.begin() + bulk);
    source.insert(source.end(), {0x41, 0x41, 0x41});
    source.insert(source.end(), u.begin() + bulk, u.begin() + bulk + 10);
    source.insert(source.end(), {0x42, 0x42, 0x42});
    source.insert(source.end(), u.begin() + bulk + 10, u.begin() + bulk + 40);
    expect_matches_reference(source);
  }
}

// Many small and medium inputs of every kind, each checked byte for byte
// against the model encoder and decoded back.
TEST(Format1Encode, MatchesTheReferenceOnVariedInputs) {
  for (std::uint32_t seed = 0; seed < 2000; ++seed) {
    testing::SampleRng rng(seed * 7919u);
    const std::uint32_t size = rng.chance(3) ? rng.between(2000, 8000) : rng.between(0, 1000);
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " size " << size);
    expect_matches_reference(testing::varied_sample(seed, size));
  }
}

// Full-size inputs, where offsets use all 16 bits and chains are long.
TEST(Format1Encode, MatchesTheReferenceOnFullSizeInputs) {
  testing::SampleRng rng(11);
  const std::vector<std::pair<std::string, Bytes>> inputs = {
      {"tiles", testing::tile_graphics(rng, kLimit)},
      {"mixture", testing::mixture(rng, kLimit)},
      {"runs", testing::byte_runs(rng, kLimit, 300)},
      {"periodic", testing::periodic(rng, kLimit, 37, 20)},
      {"four values", testing::small_alphabet(rng, kLimit, 4)},
      {"two values", testing::small_alphabet(rng, 16384, 2)},
      {"bytes FF", Bytes(kLimit, 0xFF)},
      {"short zero runs with the same bytes after them",
       [&rng] {
         Bytes b;
         while (b.size() < 16384) {
           b.insert(b.end(), rng.between(3, 9), 0);
           b.insert(b.end(), {0x01, 0x02});
         }
         return b;
       }()},
      {"alternating pairs of varied lengths",
       [&rng] {
         Bytes b;
         while (b.size() < 16384) {
           const std::uint8_t x = rng.between(1, 3), y = rng.between(4, 5);
           for (std::uint32_t i = rng.between(2, 12); i > 0; --i) b.push_back(i % 2 ? x : y);
           if (rng.chance(50)) b.push_back(rng.between(0, 5));
         }
         return b;
       }()},
      {"alternating pair up to the very end",
       [&rng] {
         Bytes b = testing::mixture(rng, kLimit - 301);
         for (std::uint32_t i = 0; i < 301; ++i) b.push_back(i % 2 ? 0xAB : 0xCD);
         return b;
       }()},
      {"counting",
       [] {
         Bytes b(kLimit);
         for (std::uint32_t i = 0; i < kLimit; ++i)
           b[i] = static_cast<std::uint8_t>(i * 3 + i / 4096);
         return b;
       }()},
  };
  for (const auto& [name, source] : inputs) {
    SCOPED_TRACE(name);
    expect_matches_reference(source);
  }
}

// Inputs too slow for the model encoder still round-trip.
TEST(Format1Encode, RoundTripsWorstCaseInputs) {
  testing::SampleRng rng(12);
  for (std::uint32_t values : {2u, 3u}) {
    const Bytes source = testing::small_alphabet(rng, kLimit, values);
    const Bytes stream = encode(source);
    ASSERT_FALSE(stream.empty());
    EXPECT_EQ(decode_whole(stream), source);
    EXPECT_EQ(encode_eagerly(source), stream);
  }
}

}  // namespace
}  // namespace tilvex
