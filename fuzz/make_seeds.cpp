// fuzz_make_seeds: writes the raw seed inputs of the four fuzz targets, in each
// target's own input format, into OUTDIR/<target>/. fuzz/make_corpus.sh then
// keeps the ones that add coverage.
//
//   fuzz_make_seeds CARTRIDGE SEED OUTDIR
//
// CARTRIDGE is a demo cartridge written by `tilvex-demo CARTRIDGE --seed SEED`:
// its pointer table gives every compressed structure's stream, and the demo's
// generator gives the same structures' plain form. Added to those: the streams
// the unit tests check byte for byte, streams that hit the output limit or are
// malformed, and truncated and bit-flipped copies. Everything is drawn from
// fixed numbers, so the same cartridge gives the same files.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "../tests/format15_pictures.h"
#include "demo/demo_cartridge.h"
#include "rom/address.h"
#include "transfer/catalogue.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

Bytes hex(const char* text) {
  Bytes out;
  unsigned value = 0, digits = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    const char c = *p;
    if (c == ' ') continue;
    value = value << 4 | static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    if (++digits == 2) {
      out.push_back(static_cast<std::uint8_t>(value));
      value = digits = 0;
    }
  }
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

// Writes numbered files into one target's folder.
class SeedFolder {
 public:
  SeedFolder(const fs::path& root, const char* target) : dir_(root / target) {
    fs::create_directories(dir_);
  }
  void add(const Bytes& input) {
    char name[16];
    std::snprintf(name, sizeof name, "seed%05u", next_++);
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(input.data()),
               static_cast<std::streamsize>(input.size()));
  }
  unsigned count() const { return next_; }

 private:
  fs::path dir_;
  unsigned next_ = 0;
};

// fuzz_format1_decode: 4 bytes of start offset (little-endian), 2 bytes of max
// size (high byte first), then the image.
Bytes format1_input(const Bytes& image, std::uint32_t offset = 0, std::uint32_t max_size = 0xFFFF) {
  return concat({le32(offset),
                 {static_cast<std::uint8_t>(max_size >> 8), static_cast<std::uint8_t>(max_size)},
                 image});
}

// fuzz_format15_decode: a choice word (tile rows in its low byte; bit 0x400
// with a max size in its top half), a start offset, then the image.
Bytes format15_input(const Bytes& image, std::uint32_t choice, std::uint32_t offset = 0) {
  return concat({le32(choice), le32(offset), image});
}

// The image with one bit flipped, and the image cut within its first half.
Bytes flipped(Bytes image, std::mt19937& rng) {
  if (!image.empty()) image[rng() % image.size()] ^= static_cast<std::uint8_t>(1u << rng() % 8);
  return image;
}
Bytes truncated(const Bytes& image, std::mt19937& rng) {
  return Bytes(image.begin(), image.begin() + static_cast<long>(rng() % (image.size() / 2 + 1)));
}

// Byte fills giving `length` output bytes, 1024 at a time.
Bytes fill_to(std::uint32_t length) {
  Bytes out;
  for (; length >= 1024; length -= 1024) out.insert(out.end(), {0xE7, 0xFF, 0x5A});
  if (length > 0) {
    out.insert(out.end(), {static_cast<std::uint8_t>(0xE4 + ((length - 1) >> 8)),
                           static_cast<std::uint8_t>((length - 1) & 0xFF), 0x5A});
  }
  return out;
}

void format1_examples(SeedFolder& decode, SeedFolder& roundtrip) {
  Bytes long_copy = {0xE3, 0xFF};
  for (unsigned i = 0; i < 1024; ++i) long_copy.push_back(static_cast<std::uint8_t>(7 + i));
  long_copy.push_back(0xFF);
  const Bytes streams[] = {
      hex("FF"),
      hex("62 61 FF"),
      hex("E4 27 00 FF"),
      hex("ED FF 00 FF"),
      hex("03 9A 3C 71 E5 24 41 45 12 34 63 05 85 00 00 01 77 88 FF"),
      hex("42 41 42 FF"),
      long_copy,
      hex("E8 22 01 02 FF"),
      hex("01 41 42 83 00 05 FF"),
      hex("01 41 42 81 00 02 FF"),
      hex("83 FF FC FF"),
      hex("01 41 42 86 00 00 FF"),
      hex("02 41 42 43 A4 00 00 FF"),
      hex("02 41 42 43 C4 00 00 FF"),
      hex("02 41 42 43 F8 04 00 00 FF"),
      hex("02 41 42 43 FC 04 00 00 FF"),
      hex("E7 FF 00 00 00 FF"),
  };
  const Bytes before = hex("FF 00 11 22 33"), after = hex("05 99 88 77 66 55");
  for (const Bytes& s : streams) {
    decode.add(format1_input(s));
    decode.add(format1_input(concat({before, s, after}), 5, 0x1B));
  }
  decode.add(format1_input(streams[4], 0, 0));  // no copy wanted
  // Output near the limit, then each kind of command reaching or crossing it.
  const struct {
    std::uint32_t before;
    const char* tail;
  } limits[] = {
      {0x10000, "FF 01"},       {0xFFFE, "41 12 34 FF 01"}, {0xFFFD, "62 10 FF"},
      {0xFFFC, "83 00 00 FF"},  {0x10000, "00 41 FF"},      {0x10000, "20 41 FF"},
      {0x10000, "41 12 34 FF"}, {0x10000, "60 07 FF"},      {0x10000, "80 00 00 FF"},
      {0xFFFF, "01 41 42 FF"},  {0xFFFF, "21 41 FF"},       {0xFFFF, "43 12 34 FF"},
      {0xFFFF, "63 07 FF"},     {0xFFFF, "83 00 00 FF"},    {0, "83 FF FD FF"},
      {10, "F3 FF FC 01 FF"},   {10, "F3 FF FC 00 FF"},
  };
  for (const auto& limit : limits) {
    decode.add(format1_input(concat({fill_to(limit.before), hex(limit.tail)})));
  }
  // Streams without an end marker: the image ends in the middle of a command.
  for (const char* s : {"E3", "E3 FF 41", "2F", "41 12", "F0 04", "9F 00", ""}) {
    decode.add(format1_input(hex(s)));
  }
  decode.add(format1_input(hex("FF"), 0x80000000u));  // a start far past the image

  // Plain inputs of the encoder's known streams.
  Bytes counting(512), every_kind = hex(
                           "9A 3C 71 E5 41 41 41 41 41 12 34 12 34 12 34 05 06 07 08 9A 3C 71 E5 "
                           "41 41 77 88");
  for (unsigned i = 0; i < counting.size(); ++i) counting[i] = static_cast<std::uint8_t>(i);
  for (const Bytes& plain :
       {Bytes{}, hex("37"), hex("12 34"), Bytes(5, 0x41), hex("61 62 63"), Bytes(40, 0), counting,
        hex("FE FF 00 01"), Bytes(1025, 0), every_kind}) {
    roundtrip.add(plain);
  }
}

void format15_examples(SeedFolder& decode, SeedFolder& roundtrip) {
  using tilvex::testing::StreamBuilder;
  const std::array<std::uint8_t, 7> table{3, 9, 0, 0, 0, 0, 0};
  auto two_runs = [&] { return StreamBuilder(table).row(false).fill(64, 1).fill(64, 0); };
  auto complete = [](StreamBuilder s, int rows) {
    for (int row = rows; row < 8; ++row) s.row(false).fill(128, 2);
    return s.bytes();
  };
  StreamBuilder eight_pairs(table);
  eight_pairs.row(false);
  for (int i = 0; i < 16; ++i) eight_pairs.bit(1);
  const Bytes streams[] = {
      tilvex::testing::kZeroStream,
      tilvex::testing::kHalfStream,
      tilvex::testing::kMovingStream,
      hex("e6 00 00 e0 be e1 0b 1b 5b 18 e6 5f 77 97 56 97 bb 4f eb 13 00"),
      hex("04 00 00 b0 3e 02 43 61 95 f0 7d 5d da fb ef 34 5f 9f 56 09"),
      eight_pairs.bytes(),
      complete(StreamBuilder(table).row(false).fill(128, 2), 1),
      StreamBuilder(table).row(false).fill(64, 0).fill(65, 7, 12).bytes(),
      complete(StreamBuilder(table).row(false).fill(64, 0).fill(64, 7, 12), 1),
      StreamBuilder(table).row(true).keep(2).bytes(),
      complete(StreamBuilder(table).row(true).keep(1), 1),
      StreamBuilder(table).row(true).extend(1).bytes(),
      two_runs().row(true).extend(65).bytes(),
      complete(two_runs().row(true).extend(64), 2),
      StreamBuilder(table).row(true).cut(129).bytes(),
      complete(StreamBuilder(table).row(true).cut(128).keep(1), 1),
      hex("21 43"),
  };
  for (const Bytes& s : streams) {
    decode.add(format15_input(s, 1));
    decode.add(format15_input(concat({Bytes(7, 0xA5), s, Bytes(16, 0xA5)}), 1, 7));
  }
  // Tile rows 0, 42 and 43, a clipped copy, no copy, a huge row count, a start
  // far away.
  for (std::uint32_t choice : {0u, 42u, 43u, 1u | 0x400u | 5u << 16, 1u | 0x400u}) {
    decode.add(format15_input(tilvex::testing::kHalfStream, choice));
  }
  decode.add(format15_input(concat({le32(0x20000000), tilvex::testing::kHalfStream}), 0x200));
  decode.add(format15_input(tilvex::testing::kHalfStream, 0x101, 0xFFFFFFFEu));

  for (const auto& picture : {tilvex::testing::half_picture(), tilvex::testing::moving_picture()}) {
    roundtrip.add(concat({{0}, tilvex::testing::tiles_from_picture(picture)}));
  }
  std::mt19937 rng(15);
  for (std::uint32_t rows : {1u, 2u, 4u}) {
    for (int i = 0; i < 5; ++i) {
      const auto picture = tilvex::testing::random_picture(rng, rows);
      roundtrip.add(concat(
          {{static_cast<std::uint8_t>(rows - 1)}, tilvex::testing::tiles_from_picture(picture)}));
    }
  }
}

// The demo cartridge's compressed structures: each stream as it stands, cut
// within its first half and with a bit flipped, and each plain structure for
// the round trips.
bool demo_structures(const Bytes& cartridge, std::uint32_t seed, SeedFolder* folders) {
  using namespace tilvex;
  if (cartridge.size() < kPointerTableOffset + 3 * kStructureCount) return false;
  std::array<std::uint32_t, kStructureCount> offsets{};
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    const std::uint8_t* entry = &cartridge[kPointerTableOffset + 3 * i];
    const std::uint32_t address = entry[0] | entry[1] << 8 | entry[2] << 16;
    offsets[i] = snes_to_file(address, kMap32, 1);
    if (offsets[i] == 0 || offsets[i] >= cartridge.size()) return false;
  }
  std::mt19937 rng(seed);
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    const StructureKind kind = structure_kinds[i];
    if (kind != KindFormat1 && kind != KindFormat15) continue;
    // The structures lie back to back in index order; the last one's stream
    // is taken with what follows it.
    const std::uint32_t end =
        i + 1 < kStructureCount && offsets[i + 1] > offsets[i]
            ? offsets[i + 1]
            : std::min<std::uint32_t>(offsets[i] + 0x2000,
                                      static_cast<std::uint32_t>(cartridge.size()));
    const Bytes stream(cartridge.begin() + offsets[i], cartridge.begin() + end);
    const Bytes plain = demo_structure(i, seed);
    const std::uint32_t size = structure_sizes[i];
    if (kind == KindFormat1) {
      folders[0].add(format1_input(stream, 0, size));
      folders[0].add(format1_input(truncated(stream, rng), 0, size));
      folders[0].add(format1_input(flipped(stream, rng), 0, size));
      // The round trip checks inputs up to 8 KiB against a quadratic model
      // encoder: long seeds would slow every later run of that target.
      folders[1].add(Bytes(plain.begin(), plain.begin() + std::min<long>(plain.size(), 1024)));
    } else {
      const std::uint32_t rows = size / 512;
      folders[2].add(format15_input(stream, rows));
      folders[2].add(format15_input(truncated(stream, rng), rows));
      folders[2].add(format15_input(flipped(stream, rng), rows));
      folders[3].add(concat({{static_cast<std::uint8_t>(rows - 1)}, plain}));
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "Usage: fuzz_make_seeds CARTRIDGE SEED OUTDIR\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const Bytes cartridge{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const std::uint32_t seed = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const fs::path root = argv[3];
  SeedFolder folders[] = {{root, "fuzz_format1_decode"},
                          {root, "fuzz_format1_roundtrip"},
                          {root, "fuzz_format15_decode"},
                          {root, "fuzz_format15_roundtrip"}};
  if (!demo_structures(cartridge, seed, folders)) {
    std::fprintf(stderr, "fuzz_make_seeds: %s is not a demo cartridge\n", argv[1]);
    return 1;
  }
  format1_examples(folders[0], folders[1]);
  format15_examples(folders[2], folders[3]);
  for (const SeedFolder& folder : folders) std::printf("%u ", folder.count());
  std::printf("seeds written to %s\n", argv[3]);
  return 0;
}
