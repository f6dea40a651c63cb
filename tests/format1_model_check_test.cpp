// The optimised format 1 encoder against the slow step-by-step encoder of
// format1_reference.h: first the slow encoder against streams worked out by
// hand, then both on thousands of generated inputs built to reach the close
// calls of the choice (repeats one byte longer than a fill, equally long
// repeats, repeats covering the whole reach, overlapping repeats, pending runs
// at 1024 bytes, streams at the output limit). Every stream is also decoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "codec/format1.h"
#include "codec/format1_tuning.h"
#include "format1_reference.h"
#include "sample_data.h"

// Under the sanitizers every byte costs far more, so the generated families shrink.
#if defined(__SANITIZE_ADDRESS__)
#define TILVEX_MODEL_CHECK_SLOW 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TILVEX_MODEL_CHECK_SLOW 1
#endif
#endif

namespace tilvex {
namespace {

using Bytes = std::vector<std::uint8_t>;

#ifdef TILVEX_MODEL_CHECK_SLOW
constexpr std::uint32_t kCountDivisor = 4;
#else
constexpr std::uint32_t kCountDivisor = 1;
#endif

constexpr std::uint32_t kLimit = 65536;

using Rng = testing::SampleRng;

using testing::unrepetitive;

void append(Bytes& out, std::initializer_list<Bytes> parts) {
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes counting(std::uint32_t from, std::uint32_t count) {
  Bytes out(count);
  for (std::uint32_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(from + i);
  return out;
}

Bytes alternating(std::uint8_t a, std::uint8_t b, std::uint32_t count) {
  Bytes out(count);
  for (std::uint32_t i = 0; i < count; ++i) out[i] = (i % 2 == 0) ? a : b;
  return out;
}

// The library's stream, or an empty vector for the result 0. A build budget
// other than kDefaultBudget makes the repeat search build its wider position
// chains at other moments, which must not change the stream.
constexpr std::uint32_t kDefaultBudget = 0xFFFFFFFF;
Bytes library_encode(const Bytes& source, std::uint32_t budget = kDefaultBudget) {
  Bytes in = source;
  in.push_back(0);  // a valid pointer also for an empty source
  Bytes out(kLimit, 0xEE);
  const auto n = static_cast<std::uint32_t>(source.size());
  const std::uint32_t length =
      budget == kDefaultBudget
          ? format1_encode(in.data(), n, out.data(), kLimit).produced
          : format1_encode_tuned(in.data(), n, out.data(), kLimit, budget).produced;
  out.resize(length);
  return out;
}

// Empty when the stream decodes to source and ends just past its end marker.
std::string round_trip_fault(const Bytes& source, const Bytes& stream) {
  constexpr std::uint32_t kOffset = 7;
  // Zeros after the stream: a missed end marker shows.
  Bytes image(kOffset + stream.size() + 4, 0x00);
  std::copy(stream.begin(), stream.end(), image.begin() + kOffset);
  Bytes out(kLimit, 0xEE);
  const DecodeResult result = format1_decode(image.data(), static_cast<std::uint32_t>(image.size()),
                                             kOffset, out.data(), kLimit);
  if (result.produced != source.size()) return "decoded length " + std::to_string(result.produced);
  if (result.end != kOffset + stream.size()) return "end position " + std::to_string(result.end);
  if (!std::equal(source.begin(), source.end(), out.begin())) return "decoded bytes differ";
  return {};
}

// Empty when the library and the slow encoder agree on source, the stream
// decodes back, and (when asked) encoding in place and a clipped copy agree too.
std::string disagreement(const Bytes& source, bool check_copies, testing::EncodeObserved* seen) {
  const Bytes expected = testing::reference_encode(source, seen);
  for (std::uint32_t budget : {kDefaultBudget, 0u, 64u}) {
    const Bytes actual = library_encode(source, budget);
    if (actual != expected) {
      std::ostringstream text;
      text << "size " << source.size() << ", budget " << budget << ": library stream of "
           << actual.size() << " bytes, model stream of " << expected.size() << " bytes";
      const auto diff =
          std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
      text << ", first difference at stream byte " << (diff.first - actual.begin());
      return text.str();
    }
  }
  if (expected.empty()) {
    Bytes untouched(kLimit, 0xEE);
    Bytes in = source;
    in.push_back(0);
    format1_encode(in.data(), static_cast<std::uint32_t>(source.size()), untouched.data(), kLimit)
        .produced;
    if (std::count(untouched.begin(), untouched.end(), 0xEE) != kLimit) {
      return "a refused stream was copied out";
    }
    return {};
  }
  std::string fault = round_trip_fault(source, expected);
  if (!fault.empty()) return fault;
  if (check_copies) {
    Bytes buffer(kLimit, 0xEE);
    std::copy(source.begin(), source.end(), buffer.begin());
    const Bytes kept = buffer;  // the source again, in a buffer that is never empty
    const auto n = static_cast<std::uint32_t>(source.size());
    if (format1_encode(buffer.data(), n, buffer.data(), kLimit).produced != expected.size() ||
        !std::equal(expected.begin(), expected.end(), buffer.begin())) {
      return "encoding in place differs";
    }
    const auto clip = static_cast<std::uint32_t>(expected.size() / 2);
    Bytes clipped(kLimit, 0xEE);
    if (format1_encode(kept.data(), n, clipped.data(), clip).produced != expected.size() ||
        !std::equal(expected.begin(), expected.begin() + clip, clipped.begin()) ||
        clipped[clip] != 0xEE) {
      return "clipped copy differs";
    }
  }
  return {};
}

// ---------------------------------------------------------------------------
// The slow encoder itself, on streams worked out by hand.

struct KnownStream {
  const char* name;
  Bytes source;
  Bytes stream;  // empty: the result is 0
};

std::vector<KnownStream> known_streams() {
  std::vector<KnownStream> cases = {
      {"empty source", {}, {0xFF}},
      {"one byte", {0x37}, {0x00, 0x37, 0xFF}},
      {"two bytes", {0x12, 0x34}, {0x01, 0x12, 0x34, 0xFF}},
      {"three equal bytes", Bytes(3, 0x41), {0x22, 0x41, 0xFF}},
      {"five equal bytes", Bytes(5, 0x41), {0x24, 0x41, 0xFF}},
      {"short increasing fill", {0x61, 0x62, 0x63}, {0x62, 0x61, 0xFF}},
      {"long byte fill", Bytes(40, 0x00), {0xE4, 0x27, 0x00, 0xFF}},
      {"increasing fill wraps", counting(0, 512), {0xED, 0xFF, 0x00, 0xFF}},
      {"increasing fill over FF", {0xFE, 0xFF, 0x00, 0x01}, {0x63, 0xFE, 0xFF}},
      {"byte fill stops at the reach", Bytes(1025, 0x00), {0xE7, 0xFF, 0x00, 0x00, 0x00, 0xFF}},
      {"every command kind",
       {0x9A, 0x3C, 0x71, 0xE5, 0x41, 0x41, 0x41, 0x41, 0x41, 0x12, 0x34, 0x12, 0x34, 0x12,
        0x34, 0x05, 0x06, 0x07, 0x08, 0x9A, 0x3C, 0x71, 0xE5, 0x41, 0x41, 0x77, 0x88},
       {0x03, 0x9A, 0x3C, 0x71, 0xE5, 0x24, 0x41, 0x45, 0x12, 0x34, 0x63, 0x05, 0x85, 0x00, 0x00,
        0x01, 0x77, 0x88, 0xFF}},
      {"repeat one byte over a byte fill",
       {0x41, 0x41, 0x41, 0x42, 0x41, 0x41, 0x41, 0x42},
       {0x22, 0x41, 0x00, 0x42, 0x22, 0x41, 0x00, 0x42, 0xFF}},
      {"repeat two bytes over a byte fill",
       {0x41, 0x41, 0x41, 0x42, 0x43, 0x41, 0x41, 0x41, 0x42, 0x43},
       {0x22, 0x41, 0x01, 0x42, 0x43, 0x84, 0x00, 0x00, 0xFF}},
      {"repeat as long as a word fill",
       {0x12, 0x34, 0x12, 0x34, 0x12, 0x34, 0x99, 0x88, 0x12, 0x34, 0x12, 0x34, 0x12, 0x34},
       {0x45, 0x12, 0x34, 0x01, 0x99, 0x88, 0x45, 0x12, 0x34, 0xFF}},
      {"equally long repeats take the earliest",
       {0xAA, 0xBB, 0xCC, 0xDD, 0x01, 0xAA, 0xBB, 0xCC, 0xDD, 0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x03},
       {0x04, 0xAA, 0xBB, 0xCC, 0xDD, 0x01, 0x83, 0x00, 0x00, 0x00, 0x02, 0x83, 0x00, 0x00, 0x00,
        0x03, 0xFF}},
      {"no command in the last two bytes", {0x01, 0x02, 0x04}, {0x02, 0x01, 0x02, 0x04, 0xFF}},
      {"repeat one byte over an increasing fill",
       {0x10, 0x11, 0x12, 0x55, 0x10, 0x11, 0x12, 0x55},
       {0x62, 0x10, 0x00, 0x55, 0x62, 0x10, 0x00, 0x55, 0xFF}},
      {"repeat two bytes over an increasing fill",
       {0x10, 0x11, 0x12, 0x55, 0x66, 0x10, 0x11, 0x12, 0x55, 0x66},
       {0x62, 0x10, 0x01, 0x55, 0x66, 0x84, 0x00, 0x00, 0xFF}},
      {"overlapping repeat",
       {0x41, 0x52, 0x63, 0x41, 0x52, 0x63, 0x41, 0x52},
       {0x02, 0x41, 0x52, 0x63, 0x84, 0x00, 0x00, 0xFF}},
  };

  Bytes zeros_stream;
  for (int i = 0; i < 64; ++i) zeros_stream.insert(zeros_stream.end(), {0xE7, 0xFF, 0x00});
  zeros_stream.push_back(0xFF);
  cases.push_back({"65536 zero bytes", Bytes(kLimit, 0x00), zeros_stream});

  const Bytes plain33 = unrepetitive(33, 33);
  cases.push_back({"33 plain bytes", plain33, concat({{0xE0, 0x20}, plain33, {0xFF}})});

  const Bytes plain1025 = unrepetitive(1025, 1025);
  cases.push_back({"1025 plain bytes", plain1025,
                   concat({{0xE3, 0xFF},
                           Bytes(plain1025.begin(), plain1025.end() - 1),
                           {0x00, plain1025.back(), 0xFF}})});

  // 63 pieces of 1024 and one of 895 need exactly 65,536 bytes; one more byte is too many.
  const Bytes plain = unrepetitive(65408, 65408);
  const Bytes at_limit(plain.begin(), plain.end() - 1);
  Bytes at_limit_stream;
  for (std::uint32_t piece = 0; piece < 63; ++piece) {
    at_limit_stream.insert(at_limit_stream.end(), {0xE3, 0xFF});
    at_limit_stream.insert(at_limit_stream.end(), at_limit.begin() + piece * 1024,
                           at_limit.begin() + (piece + 1) * 1024);
  }
  at_limit_stream.insert(at_limit_stream.end(), {0xE3, 0x7E});
  at_limit_stream.insert(at_limit_stream.end(), at_limit.begin() + 63 * 1024, at_limit.end());
  at_limit_stream.push_back(0xFF);
  cases.push_back({"stream of exactly 65536 bytes", at_limit, at_limit_stream});
  cases.push_back({"stream one byte over the limit", plain, {}});

  Bytes noise(kLimit);
  Rng rng(99);
  for (auto& b : noise) b = rng.byte();
  cases.push_back({"65536 random bytes", noise, {}});
  return cases;
}

TEST(Format1ModelCheck, SlowEncoderWritesTheKnownStreams) {
  for (const KnownStream& c : known_streams()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(testing::reference_encode(c.source), c.stream);
    EXPECT_EQ(library_encode(c.source), c.stream);
    if (!c.stream.empty()) {
      EXPECT_EQ(round_trip_fault(c.source, c.stream), "");
    }
  }
}

// ---------------------------------------------------------------------------
// Generated inputs.

// A mixture of pieces: small-alphabet noise, runs, near-fills, increasing runs
// (wrapping), word patterns, copies of earlier bytes (exact, overlapping or
// with one byte changed) and short periodic stretches. Copies of runs and
// patterns put repeats next to fills of nearly the same length.
Bytes mixed(Rng& rng, std::uint32_t size) {
  std::uint8_t palette[4];
  for (auto& v : palette) v = rng.byte();
  const std::uint32_t colours = rng.between(2, 4);
  auto colour = [&] { return palette[rng.between(0, colours - 1)]; };
  Bytes out;
  while (out.size() < size) {
    switch (rng.between(0, 8)) {
      case 0:  // small alphabet
        for (std::uint32_t n = rng.between(1, 64); n > 0; --n) out.push_back(colour());
        break;
      case 1: {  // a run, sometimes long
        const std::uint32_t n = rng.chance(20) ? rng.between(900, 1200) : rng.between(1, 40);
        out.insert(out.end(), n, colour());
        break;
      }
      case 2: {  // a fill broken by one byte
        const std::uint32_t n = rng.between(3, 80);
        Bytes run(n, colour());
        run[rng.between(0, n - 1)] ^= static_cast<std::uint8_t>(rng.between(1, 255));
        out.insert(out.end(), run.begin(), run.end());
        break;
      }
      case 3: {  // an increasing run, often across 0xFF
        const Bytes run = counting(rng.chance(50) ? rng.between(0xF0, 0xFF) : rng.byte(),
                                   rng.chance(10) ? rng.between(250, 1100) : rng.between(1, 20));
        out.insert(out.end(), run.begin(), run.end());
        break;
      }
      case 4: {  // a word pattern
        const Bytes run = alternating(colour(), colour(),
                                      rng.chance(10) ? rng.between(500, 1100) : rng.between(1, 40));
        out.insert(out.end(), run.begin(), run.end());
        break;
      }
      case 5:
      case 6: {  // a copy of earlier bytes; it may run into its own output
        if (out.empty()) break;
        const auto from = rng.between(0, static_cast<std::uint32_t>(out.size()) - 1);
        const std::uint32_t n = rng.chance(10) ? rng.between(1000, 1100) : rng.between(1, 40);
        for (std::uint32_t i = 0; i < n; ++i) out.push_back(out[from + i]);
        if (rng.chance(40)) out.back() ^= static_cast<std::uint8_t>(rng.between(1, 255));
        break;
      }
      case 7:  // noise
        for (std::uint32_t n = rng.between(1, 20); n > 0; --n) out.push_back(rng.byte());
        break;
      default: {  // a short period
        Bytes seed(rng.between(1, 8));
        for (auto& v : seed) v = colour();
        for (std::uint32_t n = rng.between(1, 200), i = 0; i < n; ++i) {
          out.push_back(seed[i % seed.size()]);
        }
        break;
      }
    }
    out.resize(std::min<std::size_t>(out.size(), size));
  }
  return out;
}

Bytes small_alphabet(Rng& rng, std::uint32_t size) {
  std::uint8_t palette[4];
  for (auto& v : palette)
    v = rng.chance(30) ? static_cast<std::uint8_t>(rng.between(0, 3)) : rng.byte();
  const std::uint32_t colours = rng.between(2, 4);
  Bytes out(size);
  for (auto& b : out) b = palette[rng.between(0, colours - 1)];
  return out;
}

Bytes periodic(Rng& rng, std::uint32_t size) {
  Bytes seed(rng.chance(80) ? rng.between(1, 12) : rng.between(13, 1500));
  for (auto& v : seed) v = rng.byte();
  Bytes out(size);
  for (std::uint32_t i = 0; i < size; ++i) out[i] = seed[i % seed.size()];
  for (std::uint32_t n = rng.between(0, 3); n > 0 && size > 0; --n) {
    out[rng.between(0, size - 1)] = rng.byte();
  }
  return out;
}

// Long runs of one byte, some broken by one byte, some of them increasing.
Bytes long_runs(Rng& rng, std::uint32_t size) {
  Bytes out;
  while (out.size() < size) {
    const std::uint32_t n = rng.between(1, 2100);
    const std::uint8_t v = static_cast<std::uint8_t>(rng.between(0, 2));
    Bytes run = rng.chance(25) ? counting(rng.byte(), n) : Bytes(n, v);
    if (rng.chance(30)) run[rng.between(0, n - 1)] = rng.byte();
    out.insert(out.end(), run.begin(), run.end());
  }
  out.resize(size);
  return out;
}

// A fill, word pattern or increasing run with a tail, and later the same kind
// of fill with the same tail at a nearby length: the repeat of the earlier
// piece is then the fill length plus a few bytes, around each margin.
Bytes margin_pairs(Rng& rng, std::uint32_t size) {
  Bytes out = unrepetitive(rng.between(0, 1u << 30), rng.between(0, 6));
  while (out.size() < size) {
    const std::uint32_t kind = rng.between(0, 2);
    const std::uint8_t a = rng.byte();
    const std::uint8_t b = static_cast<std::uint8_t>(a + rng.between(2, 250));
    auto fill = [&](std::uint32_t n) {
      return kind == 0 ? Bytes(n, a) : kind == 1 ? alternating(a, b, n) : counting(a, n);
    };
    const std::uint32_t length = rng.chance(10) ? rng.between(990, 1030) : rng.between(2, 40);
    const Bytes tail = unrepetitive(rng.between(0, 1u << 30), rng.between(0, 4));
    const Bytes gap = unrepetitive(rng.between(0, 1u << 30), rng.between(1, 5));
    const std::uint32_t later = length - std::min(length - 1, rng.between(0, 3));
    append(out, {fill(length), tail, gap, fill(later), tail, {rng.byte()}, gap});
  }
  out.resize(size);
  return out;
}

// Pieces that recur: equally long repeats at several earlier positions, and
// blocks of 1024 bytes and more that recur whole or cut short at the end.
Bytes recurring_blocks(Rng& rng, std::uint32_t size) {
  const Bytes block = unrepetitive(rng.between(0, 1u << 30),
                                   rng.chance(50) ? rng.between(4, 12) : rng.between(1000, 1100));
  Bytes out;
  while (out.size() < size) {
    const std::uint32_t from = rng.between(0, static_cast<std::uint32_t>(block.size()) - 1);
    const std::uint32_t to = rng.chance(60)
                                 ? static_cast<std::uint32_t>(block.size())
                                 : rng.between(from, static_cast<std::uint32_t>(block.size()));
    out.insert(out.end(), block.begin() + (rng.chance(50) ? 0 : from), block.begin() + to);
    if (rng.chance(70)) out.push_back(rng.byte());
  }
  out.resize(size);
  return out;
}

// Plain bytes with pending runs of about 1024 and 2048 bytes before, between
// and after short commands.
Bytes pending_runs(Rng& rng, std::uint32_t) {
  static constexpr std::uint32_t kLengths[] = {0,    1,    2,    1022, 1023, 1024,
                                               1025, 1026, 2047, 2048, 2049};
  Bytes out;
  for (int piece = rng.between(1, 3); piece > 0; --piece) {
    const Bytes plain = unrepetitive(rng.between(0, 1u << 30), kLengths[rng.between(0, 10)]);
    append(out, {plain, Bytes(rng.between(3, 6), static_cast<std::uint8_t>(out.size()))});
  }
  const Bytes tail = unrepetitive(rng.between(0, 1u << 30), kLengths[rng.between(0, 10)]);
  return concat({out, tail});
}

// Many runs of one kind (one byte, one pair or counting from one value) at
// random lengths, each followed by one of a few tails: every run start has a
// crowd of earlier candidates of nearly equal length, inside runs and across them.
Bytes run_tails(Rng& rng, std::uint32_t size) {
  const std::uint32_t kind = rng.between(0, 2);
  const std::uint8_t a = rng.byte();
  const std::uint8_t b = static_cast<std::uint8_t>(a + rng.between(2, 250));
  Bytes tails[3];
  for (Bytes& tail : tails) tail = unrepetitive(rng.between(0, 1u << 30), rng.between(0, 5));
  Bytes out;
  while (out.size() < size) {
    const std::uint32_t n = rng.chance(5) ? rng.between(900, 1100) : rng.between(1, 60);
    const Bytes run = kind == 0 ? Bytes(n, a) : kind == 1 ? alternating(a, b, n) : counting(a, n);
    append(out, {run, tails[rng.between(0, 2)]});
    if (rng.chance(30)) out.push_back(rng.byte());
  }
  out.resize(size);
  return out;
}

struct Family {
  const char* name;
  std::uint32_t count;
  std::uint32_t min_size;
  std::uint32_t max_size;
  Bytes (*make)(Rng&, std::uint32_t);
};

// Draws the size near the small end most of the time.
std::uint32_t pick_size(Rng& rng, const Family& family) {
  const std::uint32_t span = family.max_size - family.min_size;
  switch (rng.between(0, 3)) {
    case 0:
      return family.min_size + rng.between(0, std::min<std::uint32_t>(span, 64));
    case 1:
      return family.min_size + rng.between(0, std::min<std::uint32_t>(span, 1100));
    case 2: {  // next to a multiple of 1024
      const std::uint32_t near = rng.between(1, 5) * 1024 + rng.between(0, 6) - 3;
      return family.min_size + std::min(span, near);
    }
    default:
      return family.min_size + rng.between(0, span);
  }
}

TEST(Format1ModelCheck, LibraryAgreesOnGeneratedInputs) {
  const Family families[] = {
      {"mixed", 2400, 0, 6000, mixed},
      {"small alphabet", 1200, 0, 3000, small_alphabet},
      {"periodic", 800, 0, 5000, periodic},
      {"long runs", 300, 0, 12000, long_runs},
      {"margin pairs", 1600, 0, 2500, margin_pairs},
      {"recurring blocks", 600, 0, 6000, recurring_blocks},
      {"pending runs", 300, 0, 0, pending_runs},
      {"run tails", 1200, 0, 6000, run_tails},
      {"large small alphabet", 24, 8000, 40000, small_alphabet},
      {"large mixed", 24, 8000, 65536, mixed},
  };
  testing::EncodeObserved seen;
  std::uint32_t inputs = 0;
  std::uint32_t seed = 0;
  for (const Family& family : families) {
    Rng rng(++seed * 7919);
    for (std::uint32_t i = 0; i < family.count / kCountDivisor; ++i) {
      const std::uint32_t size = pick_size(rng, family);
      const Bytes source = family.make(rng, size);
      const std::string fault = disagreement(source, i % 8 == 0, &seen);
      ASSERT_EQ(fault, "") << family.name << " input " << i;
      ++inputs;
    }
  }
  // The inputs must really reach the close calls they are meant for.
  EXPECT_GT(seen.repeat_one_over_byte_fill, 10u);
  EXPECT_GT(seen.repeat_equal_to_word_fill, 10u);
  EXPECT_GT(seen.repeat_one_over_increasing_fill, 10u);
  EXPECT_GT(seen.later_equal_repeat_passed_over, 10u);
  EXPECT_GT(seen.walk_stopped_at_reach, 10u);
  EXPECT_GT(seen.overlapping_repeat_written, 10u);
  EXPECT_GT(seen.pending_run_full, 10u);
  RecordProperty("inputs", static_cast<int>(inputs));
}

// Every short input over three values that make all fills possible.
TEST(Format1ModelCheck, LibraryAgreesOnAllTinyInputs) {
  for (std::uint32_t size = 0; size <= 8; ++size) {
    std::uint32_t combinations = 1;
    for (std::uint32_t i = 0; i < size; ++i) combinations *= 3;
    for (std::uint32_t code = 0; code < combinations; ++code) {
      Bytes source;
      for (std::uint32_t i = 0, rest = code; i < size; ++i, rest /= 3) {
        source.push_back(static_cast<std::uint8_t>(rest % 3));
      }
      ASSERT_EQ(disagreement(source, false, nullptr), "") << "size " << size << " code " << code;
    }
  }
}

// Whole 65,536-byte sources, and plain data around the output limit with one
// fill of varying length inside: its stream is a few bytes below, at or over the limit.
TEST(Format1ModelCheck, LibraryAgreesOnFullSizeInputs) {
  Rng rng(65536);
  std::vector<Bytes> sources = {
      Bytes(kLimit, 0x00),   counting(0x80, kLimit), alternating(0x12, 0x34, kLimit),
      periodic(rng, kLimit), mixed(rng, kLimit),     long_runs(rng, kLimit),
  };
#ifndef TILVEX_MODEL_CHECK_SLOW
  sources.push_back(small_alphabet(rng, kLimit));
  sources.push_back(margin_pairs(rng, kLimit));
  sources.push_back(recurring_blocks(rng, kLimit));
  // Dense tile graphics, and six values: chains that walks cross far again
  // and again, in the second more of them than the encoder copies.
  sources.push_back(testing::tile_graphics(rng, kLimit, 6));
  sources.push_back(testing::small_alphabet(rng, kLimit, 6));
#endif
  const Bytes plain = unrepetitive(4242, kLimit);
  for (std::uint32_t size = 65408; size <= 65414; ++size) {
    Bytes source(plain.begin(), plain.begin() + size);
    std::fill(source.begin() + 30000, source.begin() + 30008, 0x00);
    sources.push_back(source);
  }
  std::uint32_t at_limit = 0;
  std::uint32_t refused = 0;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    ASSERT_EQ(disagreement(sources[i], i % 3 == 0, nullptr), "") << "source " << i;
    const Bytes stream = testing::reference_encode(sources[i]);
    at_limit += stream.size() == kLimit;
    refused += stream.empty();
  }
  EXPECT_GE(at_limit, 1u);
  EXPECT_GE(refused, 1u);
}

}  // namespace
}  // namespace tilvex
