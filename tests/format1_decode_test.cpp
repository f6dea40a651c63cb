// Format 1 decoder: command kinds and header forms, the output limit, clipping
// of the copy, reads past the end of the image, and agreement with the
// byte-at-a-time model on random and hand-written streams.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/format1.h"
#include "format1_reference.h"
#include "sample_data.h"

namespace tilvex {
namespace {

using testing::Bytes;
using testing::kLimit;

struct Decoded {
  std::uint32_t result = 0;
  Bytes output;
  std::uint64_t end_position = 0;
  std::uint64_t overread = 0;
};

Decoded decode(const Bytes& image, std::uint32_t offset) {
  Decoded d;
  d.output.assign(kLimit, 0xEE);
  const DecodeResult r = format1_decode(image.data(), static_cast<std::uint32_t>(image.size()),
                                        offset, d.output.data(), kLimit);
  EXPECT_EQ(r.status, CodecStatus::ok);
  d.result = r.produced;
  d.end_position = r.end;
  d.overread = r.overread;
  d.output.resize(std::min(d.result, kLimit));
  return d;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes repeated(std::uint8_t v, std::size_t n) { return Bytes(n, v); }

Bytes counting(std::uint32_t from, std::uint32_t n) {
  Bytes out(n);
  for (std::uint32_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(from + i);
  return out;
}

struct StreamCase {
  std::string name;
  Bytes stream;
  Bytes expected;
};

// Every stream is complete: it ends with its end marker, after which the image
// holds bytes that must not be read.
std::vector<StreamCase> stream_cases() {
  const Bytes abc = {0x41, 0x42, 0x43};
  std::vector<StreamCase> cases = {
      {"EndMarkerOnly", {0xFF}, {}},
      {"IncreasingFill", {0x62, 0x61, 0xFF}, {0x61, 0x62, 0x63}},
      {"LongByteFill", {0xE4, 0x27, 0x00, 0xFF}, repeated(0, 40)},
      {"IncreasingFillWraps",
       {0xED, 0xFF, 0x00, 0xFF},
       concat({counting(0, 256), counting(0, 256)})},
      {"EveryKind",
       {0x03, 0x9A, 0x3C, 0x71, 0xE5, 0x24, 0x41, 0x45, 0x12, 0x34, 0x63, 0x05, 0x85, 0x00, 0x00,
        0x01, 0x77, 0x88, 0xFF},
       {0x9A, 0x3C, 0x71, 0xE5, 0x41, 0x41, 0x41, 0x41, 0x41, 0x12, 0x34, 0x12, 0x34, 0x12,
        0x34, 0x05, 0x06, 0x07, 0x08, 0x9A, 0x3C, 0x71, 0xE5, 0x41, 0x41, 0x77, 0x88}},
      {"OddWordFillEndsWithFirstOperand", {0x42, 0x41, 0x42, 0xFF}, {0x41, 0x42, 0x41}},
      {"LongDirectCopy", concat({{0xE3, 0xFF}, counting(7, 1024), {0xFF}}), counting(7, 1024)},
      {"LongWordFill",
       {0xE8, 0x22, 0x01, 0x02, 0xFF},
       [] {
         Bytes b;
         for (int i = 0; i < 35; ++i) b.push_back(i % 2 ? 0x02 : 0x01);
         return b;
       }()},
      {"BackReferenceReadsUnproducedBytesAsZero",
       {0x01, 0x41, 0x42, 0x83, 0x00, 0x05, 0xFF},
       {0x41, 0x42, 0, 0, 0, 0}},
      {"BackReferenceFromTheWritePosition",
       {0x01, 0x41, 0x42, 0x81, 0x00, 0x02, 0xFF},
       {0x41, 0x42, 0, 0}},
      {"BackReferenceSourceEndingAtTheLimit", {0x83, 0xFF, 0xFC, 0xFF}, {0, 0, 0, 0}},
      {"BackReferenceWithDistanceTwo",
       {0x01, 0x41, 0x42, 0x86, 0x00, 0x00, 0xFF},
       {0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41}},
  };
  // An overlapping back-reference repeats its own output; every header byte
  // that means a back-reference decodes the same way.
  const Bytes overlap = {0x41, 0x42, 0x43, 0x41, 0x42, 0x43, 0x41, 0x42};
  for (std::uint8_t h : {0x84, 0xA4, 0xC4}) {
    cases.push_back({"ShortBackReference" + std::to_string(h),
                     concat({{0x02}, abc, {h, 0x00, 0x00, 0xFF}}), overlap});
  }
  for (std::uint8_t h : {0xF0, 0xF4, 0xF8, 0xFC}) {
    cases.push_back({"LongBackReference" + std::to_string(h),
                     concat({{0x02}, abc, {h, 0x04, 0x00, 0x00, 0xFF}}), overlap});
  }
  return cases;
}

TEST(Format1Decode, DecodesEveryExampleStream) {
  const Bytes before = {0xFF, 0x00, 0x11, 0x22, 0x33};
  const Bytes after = {0x05, 0x99, 0x88, 0x77, 0x66, 0x55};  // a direct copy if read
  for (const StreamCase& c : stream_cases()) {
    SCOPED_TRACE(c.name);
    const Decoded d =
        decode(concat({before, c.stream, after}), static_cast<std::uint32_t>(before.size()));
    EXPECT_EQ(d.result, c.expected.size());
    EXPECT_EQ(d.output, c.expected);
    EXPECT_EQ(d.end_position, before.size() + c.stream.size());
    EXPECT_EQ(d.overread, 0u);
  }
}

// Byte fills of 0x5A giving `length` output bytes.
Bytes fill_to(std::uint32_t length) {
  Bytes out;
  for (; length >= 1024; length -= 1024) out.insert(out.end(), {0xE7, 0xFF, 0x5A});
  if (length > 0) {
    out.insert(out.end(), {static_cast<std::uint8_t>(0xE4 + ((length - 1) >> 8)),
                           static_cast<std::uint8_t>((length - 1) & 0xFF), 0x5A});
  }
  return out;
}

struct LimitCase {
  std::string name;
  std::uint32_t before;  // output produced by the leading fills
  Bytes tail;
  std::uint32_t result;
  std::uint32_t tail_consumed;  // bytes of the tail read before decoding ends
  int last_byte;                // the last output byte, or -1 to skip the check
};

TEST(Format1Decode, OutputLimit) {
  const LimitCase cases[] = {
      {"FillEndingAtTheLimitThenEndMarker", kLimit, {0xFF, 0x01}, kLimit, 1, 0x5A},
      {"WordFillEndingAtTheLimitThenEndMarker",
       kLimit - 2,
       {0x41, 0x12, 0x34, 0xFF, 0x01},
       kLimit,
       4,
       0x34},
      {"IncreasingFillEndingAtTheLimitThenEndMarker",
       kLimit - 3,
       {0x62, 0x10, 0xFF},
       kLimit,
       3,
       0x12},
      {"BackReferenceEndingAtTheLimitThenEndMarker",
       kLimit - 4,
       {0x83, 0x00, 0x00, 0xFF},
       kLimit,
       4,
       0x5A},
      {"FullThenDirectCopyIsRefusedUnread", kLimit, {0x00, 0x41, 0xFF}, kLimit, 1, 0x5A},
      {"FullThenByteFillIsRefused", kLimit, {0x20, 0x41, 0xFF}, kLimit, 2, 0x5A},
      {"FullThenWordFillDropsItsFirstByte", kLimit, {0x41, 0x12, 0x34, 0xFF}, kLimit, 3, 0x5A},
      {"FullThenIncreasingFillDropsItsFirstByte", kLimit, {0x60, 0x07, 0xFF}, kLimit, 2, 0x5A},
      {"FullThenBackReferenceDropsItsFirstByte", kLimit, {0x80, 0x00, 0x00, 0xFF}, kLimit, 3, 0x5A},
      {"DirectCopyCrossingTheLimitWritesNothing",
       kLimit - 1,
       {0x01, 0x41, 0x42, 0xFF},
       kLimit - 1,
       1,
       0x5A},
      {"ByteFillCrossingTheLimitWritesNothing",
       kLimit - 1,
       {0x21, 0x41, 0xFF},
       kLimit - 1,
       2,
       0x5A},
      {"WordFillCrossingTheLimitKeepsWhatFits",
       kLimit - 1,
       {0x43, 0x12, 0x34, 0xFF},
       kLimit,
       3,
       0x12},
      {"IncreasingFillCrossingTheLimitKeepsWhatFits",
       kLimit - 1,
       {0x63, 0x07, 0xFF},
       kLimit,
       2,
       0x07},
      {"BackReferenceCrossingTheLimitKeepsWhatFits",
       kLimit - 1,
       {0x83, 0x00, 0x00, 0xFF},
       kLimit,
       3,
       0x5A},
      {"BackReferenceSourcePastTheLimitOnShortOutput", 0, {0x83, 0xFF, 0xFD, 0xFF}, 0, 3, -1},
      {"LongBackReferenceSourcePastTheLimit", 10, {0xF3, 0xFF, 0xFC, 0x01, 0xFF}, 10, 4, 0x5A},
      {"LongBackReferenceSourceUpToTheLimit", 10, {0xF3, 0xFF, 0xFC, 0x00, 0xFF}, 1034, 5, 0},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes prefix = fill_to(c.before);
    const Decoded d = decode(concat({prefix, c.tail}), 0);
    EXPECT_EQ(d.result, c.result);
    EXPECT_EQ(d.end_position, prefix.size() + c.tail_consumed);
    EXPECT_EQ(d.overread, 0u);
    if (c.last_byte >= 0 && !d.output.empty()) {
      EXPECT_EQ(d.output.back(), c.last_byte);
    }
  }
}

TEST(Format1Decode, MaxSizeClipsOnlyTheCopy) {
  const std::vector<StreamCase> cases = stream_cases();
  const StreamCase& every_kind = *std::find_if(
      cases.begin(), cases.end(), [](const StreamCase& c) { return c.name == "EveryKind"; });
  const Bytes& stream = every_kind.stream;
  const Bytes& expected = every_kind.expected;
  const auto size = static_cast<std::uint32_t>(stream.size());
  for (std::uint32_t max_size : {0u, 1u, 26u, 27u, 100u}) {
    SCOPED_TRACE(max_size);
    Bytes destination(128, 0xEE);
    const DecodeResult r = format1_decode(stream.data(), size, 0, destination.data(), max_size);
    EXPECT_EQ(r.produced, 27u);
    const std::uint32_t copied = std::min(max_size, 27u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + copied, destination.begin()));
    EXPECT_TRUE(std::all_of(destination.begin() + copied, destination.end(),
                            [](std::uint8_t b) { return b == 0xEE; }));
    EXPECT_EQ(r.end, stream.size());
  }
  // Without a destination the result stays the same.
  EXPECT_EQ(format1_decode(stream.data(), size, 0, nullptr, kLimit).produced, 27u);
}

struct PastEndCase {
  std::string name;
  Bytes image;
  std::uint32_t offset;
  Bytes output_start;  // the first output bytes; the rest are zeros
  std::uint32_t result;
  std::uint64_t end_position;
};

// Bytes not delivered because the read reached the end of the image count as
// 0 while the read position grows by the full amount. Such a stream keeps
// producing zeros (header 00, a direct copy of one byte) until the limit.
TEST(Format1Decode, ReadsPastTheEndOfTheImage) {
  // After the given output, every further output byte costs two stream bytes
  // and the final refused header one more.
  auto zeros_until_limit = [](std::uint32_t output) { return 2 * (kLimit - output) + 1; };
  const PastEndCase cases[] = {
      {"DirectCopyCutOff",
       {0x02, 0x41, 0x42},
       0,
       {0x41, 0x42, 0x00},
       kLimit,
       4 + zeros_until_limit(3)},
      {"OffsetPastTheEnd", {1, 2, 3, 4}, 100, {}, kLimit, 100 + zeros_until_limit(0)},
      {"OffsetAtTheEnd", {1, 2, 3, 4}, 4, {}, kLimit, 4 + zeros_until_limit(0)},
      {"LongHeaderCutOff", {0xE5}, 0, {}, kLimit, 3 + zeros_until_limit(257)},
      {"BackReferenceOperandCutOff",
       {0x01, 0x41, 0x42, 0x83, 0x00},
       0,
       {0x41, 0x42, 0x41, 0x42, 0x41, 0x42},
       kLimit,
       6 + zeros_until_limit(6)},
      {"FillOperandCutOff", {0x62}, 0, {0x00, 0x01, 0x02}, kLimit, 2 + zeros_until_limit(3)},
      {"OffsetNearTheTop",
       Bytes(16, 0x33),
       0xFFFFFFF0u,
       {},
       kLimit,
       0xFFFFFFF0ull + zeros_until_limit(0)},
  };
  for (const PastEndCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded d = decode(c.image, c.offset);
    EXPECT_EQ(d.result, c.result);
    EXPECT_EQ(d.end_position, c.end_position);
    EXPECT_EQ(d.overread, c.end_position - c.image.size());
    ASSERT_GE(d.output.size(), c.output_start.size());
    EXPECT_TRUE(std::equal(c.output_start.begin(), c.output_start.end(), d.output.begin()));
    EXPECT_TRUE(std::all_of(d.output.begin() + c.output_start.size(), d.output.end(),
                            [](std::uint8_t b) { return b == 0; }));
  }
}

void expect_same_as_model(const Bytes& image, std::uint32_t offset) {
  const testing::ReferenceDecoded want = testing::reference_decode(image, offset);
  const Decoded got = decode(image, offset);
  ASSERT_EQ(got.result, want.result);
  ASSERT_EQ(got.output, want.output);
  ASSERT_EQ(got.end_position, want.end_position);
  ASSERT_EQ(got.overread, want.end_position > image.size() ? want.end_position - image.size() : 0);
}

// Random command sequences, including every header form and kind, cut off at
// random places and started at random offsets, against the byte-at-a-time model.
TEST(Format1Decode, AgreesWithTheModelOnRandomImages) {
  for (std::uint32_t seed = 0; seed < 500; ++seed) {
    SCOPED_TRACE(seed);
    testing::SampleRng rng(seed);
    Bytes image;
    if (seed % 3 == 0) {
      image = testing::small_alphabet(rng, rng.between(1, 400), 256);
      // Mostly end within the image: a stream that runs past its end goes on
      // to the output limit, which the model takes long to get to.
      if (rng.chance(75)) image.push_back(0xFF);
    } else {
      // Commands with random headers and operands.
      const std::uint32_t commands = rng.between(1, 60);
      for (std::uint32_t i = 0; i < commands; ++i) {
        std::uint8_t h = rng.byte();
        if (h == 0xFF) h = 0xFE;
        image.push_back(h);
        std::uint32_t length = (h & 0x1F) + 1;
        if (h >= 0xE0) {
          image.push_back(rng.byte());
          length = (h & 3) * 256 + image.back() + 1;
        }
        const std::uint32_t kind = h >= 0xE0 ? (h >> 2) & 7 : h >> 5;
        const std::uint32_t operands = kind == 0 ? length : kind == 1 || kind == 3 ? 1 : 2;
        for (std::uint32_t k = 0; k < operands; ++k) {
          // Back-reference offsets mostly within the output so far.
          image.push_back(kind >= 4 && k == 0 && rng.chance(85) ? 0 : rng.byte());
        }
      }
      if (rng.chance(90)) image.push_back(0xFF);
      if (rng.chance(15)) image.resize(rng.between(1, static_cast<std::uint32_t>(image.size())));
    }
    const std::uint32_t offset =
        rng.chance(90) ? 0 : rng.between(0, static_cast<std::uint32_t>(image.size()) + 3);
    expect_same_as_model(image, offset);
  }
}

// Streams no encoder of this system writes: long headers where short ones
// fit, back-reference kinds 5 to 7, overlapping copies at every distance.
TEST(Format1Decode, DecodesHandWrittenStreams) {
  for (std::uint32_t seed = 0; seed < 300; ++seed) {
    SCOPED_TRACE(seed);
    testing::SampleRng rng(seed);
    testing::StreamWriter w;
    w.direct_copy({rng.byte()}, rng.chance(50));
    const std::uint32_t commands = rng.between(1, 80);
    for (std::uint32_t i = 0; i < commands; ++i) {
      const bool long_form = rng.chance(40);
      const std::uint32_t length = rng.between(1, rng.chance(10) ? 1024 : 40);
      switch (rng.between(0, 4)) {
        case 0: {
          Bytes bytes(length);
          for (auto& b : bytes) b = rng.byte();
          w.direct_copy(bytes, long_form);
          break;
        }
        case 1:
          w.byte_fill(rng.byte(), length, long_form);
          break;
        case 2:
          w.word_fill(rng.byte(), rng.byte(), length, long_form);
          break;
        case 3:
          w.increasing_fill(rng.byte(), length, long_form);
          break;
        default: {
          const std::uint32_t kind = rng.between(4, 7);
          const std::uint32_t produced = static_cast<std::uint32_t>(w.expected().size());
          const std::uint32_t offset =
              rng.between(produced > 64 && rng.chance(50) ? produced - 64 : 0, produced - 1);
          w.back_reference(kind, offset, kind == 7 ? std::min(length, 768u) : length, long_form);
          break;
        }
      }
    }
    w.end();
    const Decoded d = decode(w.stream(), 0);
    ASSERT_EQ(d.result, w.expected().size());
    ASSERT_EQ(d.output, w.expected());
    ASSERT_EQ(d.end_position, w.stream().size());
  }
}

}  // namespace
}  // namespace tilvex
