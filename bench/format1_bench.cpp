// Format 1 codec speed: decoding and encoding realistic 4-bit tile graphics,
// runs and fills, and inputs built to make the repeat search work hard.
// Throughput is counted in plain bytes (decoder output, encoder input).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "../tests/sample_data.h"
#include "codec/format1.h"
#include "demo_structures.h"

namespace {

using tilvex::testing::Bytes;
using tilvex::testing::SampleRng;

constexpr std::uint32_t kLimit = 0x10000;

// Thue-Morse sequence over two byte values: no run longer than two, and every
// short factor occurs all over the input.
Bytes thue_morse(std::uint32_t size) {
  Bytes out(size);
  for (std::uint32_t i = 0; i < size; ++i) out[i] = (std::popcount(i) & 1) ? 0xFF : 0x00;
  return out;
}

// Fibonacci word over two byte values: highly repetitive without being periodic.
Bytes fibonacci_word(std::uint32_t size) {
  std::string a = "0", b = "01";
  while (b.size() < size) {
    std::string next = b + a;
    a = std::move(b);
    b = std::move(next);
  }
  Bytes out(size);
  for (std::uint32_t i = 0; i < size; ++i) out[i] = b[i] == '0' ? 0x11 : 0x22;
  return out;
}

// Zero runs of many different lengths, each ended by a different byte, so that
// runs share long prefixes but rarely continue the same way.
Bytes zero_runs(std::uint32_t size) {
  SampleRng rng(5);
  Bytes out;
  while (out.size() < size) {
    out.insert(out.end(), rng.between(1, 1100), 0);
    out.push_back(static_cast<std::uint8_t>(rng.between(1, 255)));
  }
  out.resize(size);
  return out;
}

// Runs of 0x00 and 0xFF taking turns, 3 or 4 bytes long: every run starts a
// byte fill, and runs of the same key are everywhere.
Bytes alternating_runs(std::uint32_t size) {
  SampleRng rng(8);
  Bytes out;
  for (bool zero = true; out.size() < size; zero = !zero)
    out.insert(out.end(), rng.between(3, 4), zero ? 0x00 : 0xFF);
  out.resize(size);
  return out;
}

// One random block repeated with a changed byte in each copy at a random place.
Bytes mutated_copies(std::uint32_t size, std::uint32_t block) {
  SampleRng rng(6);
  Bytes pattern = tilvex::testing::small_alphabet(rng, block, 256);
  Bytes out;
  while (out.size() < size) {
    Bytes copy = pattern;
    copy[rng.between(0, block - 1)] ^= 0x5A;
    out.insert(out.end(), copy.begin(), copy.end());
  }
  out.resize(size);
  return out;
}

Bytes sample(const std::string& kind, std::uint32_t size) {
  SampleRng rng(42);
  if (kind == "tiles") return tilvex::testing::tile_graphics(rng, size);
  if (kind == "dense_tiles") return tilvex::testing::tile_graphics(rng, size, 6);
  if (kind == "runs") return tilvex::testing::byte_runs(rng, size, 200);
  if (kind == "zeros") return Bytes(size, 0);
  if (kind == "mixture") return tilvex::testing::mixture(rng, size);
  if (kind == "periodic") return tilvex::testing::periodic(rng, size, 7, 0);
  if (kind == "two_values") return tilvex::testing::small_alphabet(rng, size, 2);
  if (kind == "three_values") return tilvex::testing::small_alphabet(rng, size, 3);
  if (kind == "four_values") return tilvex::testing::small_alphabet(rng, size, 4);
  if (kind == "thue_morse") return thue_morse(size);
  if (kind == "fibonacci") return fibonacci_word(size);
  if (kind == "zero_runs") return zero_runs(size);
  if (kind == "alternating_runs") return alternating_runs(size);
  if (kind == "copies_64") return mutated_copies(size, 64);
  if (kind == "copies_1500") return mutated_copies(size, 1500);
  if (kind == "unrepetitive") return tilvex::testing::unrepetitive(7, size);
  return tilvex::testing::small_alphabet(rng, size, 256);  // "noise": fails at the limit
}

void BM_Format1Encode(benchmark::State& state, const std::string& kind) {
  const std::uint32_t size = static_cast<std::uint32_t>(state.range(0));
  const Bytes source = sample(kind, size);
  Bytes out(kLimit);
  std::uint32_t length = 0;
  for (auto _ : state) {
    length = tilvex::format1_encode(source.data(), size, out.data(), kLimit).produced;
    benchmark::DoNotOptimize(length);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
  state.counters["stream"] = length;
}

void BM_Format1Decode(benchmark::State& state, const std::string& kind) {
  const std::uint32_t size = static_cast<std::uint32_t>(state.range(0));
  const Bytes source = sample(kind, size);
  Bytes stream(kLimit);
  const std::uint32_t length =
      tilvex::format1_encode(source.data(), size, stream.data(), kLimit).produced;
  if (length == 0) {
    state.SkipWithError("input does not encode");
    return;
  }
  Bytes out(kLimit);
  for (auto _ : state) {
    benchmark::DoNotOptimize(tilvex::format1_decode(stream.data(), length, 0, out.data(), kLimit));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
  state.counters["stream"] = length;
}

// Every format 1 structure of the demo cartridge, as insertion encodes them.
void BM_Format1EncodeDemo(benchmark::State& state) {
  const tilvex::bench::DemoStructures demo = tilvex::bench::demo_structures_of(tilvex::KindFormat1);
  Bytes out(kLimit);
  for (auto _ : state) {
    for (const Bytes& plain : demo.plain) {
      const auto size = static_cast<std::uint32_t>(plain.size());
      benchmark::DoNotOptimize(tilvex::format1_encode(plain.data(), size, out.data(), kLimit));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * demo.bytes);
  state.SetLabel(std::to_string(demo.plain.size()) + " structures");
}
BENCHMARK(BM_Format1EncodeDemo);

// The same structures encoded once and then decoded, as extraction does.
void BM_Format1DecodeDemo(benchmark::State& state) {
  const tilvex::bench::DemoStructures demo = tilvex::bench::demo_structures_of(tilvex::KindFormat1);
  std::vector<Bytes> streams;
  for (const Bytes& plain : demo.plain) {
    Bytes stream(kLimit);
    stream.resize(tilvex::format1_encode(plain.data(), static_cast<std::uint32_t>(plain.size()),
                                         stream.data(), kLimit)
                      .produced);
    streams.push_back(std::move(stream));
  }
  Bytes out(kLimit);
  for (auto _ : state) {
    for (const Bytes& stream : streams) {
      benchmark::DoNotOptimize(tilvex::format1_decode(
          stream.data(), static_cast<std::uint32_t>(stream.size()), 0, out.data(), kLimit));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * demo.bytes);
  state.SetLabel(std::to_string(demo.plain.size()) + " structures");
}
BENCHMARK(BM_Format1DecodeDemo);

#define SIZES ->Arg(2048)->Arg(8192)->Arg(65536)

BENCHMARK_CAPTURE(BM_Format1Decode, tiles, std::string("tiles")) SIZES;
BENCHMARK_CAPTURE(BM_Format1Decode, dense_tiles, std::string("dense_tiles")) SIZES;
BENCHMARK_CAPTURE(BM_Format1Decode, runs, std::string("runs"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Decode, zeros, std::string("zeros"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Decode, mixture, std::string("mixture"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Decode, periodic, std::string("periodic"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Decode, two_values, std::string("two_values"))->Arg(65536);

BENCHMARK_CAPTURE(BM_Format1Encode, tiles, std::string("tiles")) SIZES;
BENCHMARK_CAPTURE(BM_Format1Encode, dense_tiles, std::string("dense_tiles")) SIZES;
BENCHMARK_CAPTURE(BM_Format1Encode, runs, std::string("runs"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, zeros, std::string("zeros"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, mixture, std::string("mixture"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, periodic, std::string("periodic"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, noise, std::string("noise"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, unrepetitive, std::string("unrepetitive"))->Arg(65407);
// Inputs meant to make the repeat search slow.
BENCHMARK_CAPTURE(BM_Format1Encode, two_values, std::string("two_values"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, three_values, std::string("three_values"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, four_values, std::string("four_values"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, thue_morse, std::string("thue_morse"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, fibonacci, std::string("fibonacci"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, zero_runs, std::string("zero_runs"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, alternating_runs, std::string("alternating_runs"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, copies_64, std::string("copies_64"))->Arg(65536);
BENCHMARK_CAPTURE(BM_Format1Encode, copies_1500, std::string("copies_1500"))->Arg(65536);

}  // namespace
