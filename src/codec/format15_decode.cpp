// Format 15 decoder: rebuilds the 128-pixel-wide picture row by row from the
// bit stream, then converts it into 4bpp planar tiles.
//
// The stream is read from the bytes the caller hands over, from a start
// offset. Bytes are consumed in order and the bits of each byte from bit 0
// upwards, so the stream is one little-endian bit string: the reader keeps a
// 64-bit window whose bit 0 is the next stream bit, loaded eight bytes at a
// time. Bytes at or past the end of the input read as 0. The number of bytes
// the decoder has consumed follows from the number of bits taken (a byte
// counts once its first bit is taken), so the look-ahead never shows in the
// end position.
//
// Every row starts as a copy of the row above (zeros for the first row) and is
// rewritten in place by its commands, from the right end to the left.

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "codec/format15.h"
#include "codec/format15_runs.h"
#include "common/resources.h"
#include "pixel/planar.h"

namespace tilvex {
namespace {

using format15_detail::RunStarts;

constexpr std::uint32_t kWidth = 128;
constexpr std::uint32_t kWorkSize = 0x10000;  // picture followed by its tile data

// The stream bits, in a 64-bit window whose bit 0 is the next bit.
class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::uint32_t size, std::uint32_t start)
      : data_(data), size_(size), start_(start), next_(std::uint64_t{start} + 4) {
    for (unsigned i = 0; i < 4; ++i)
      header_ |= std::uint32_t{byte_at(std::uint64_t{start} + i)} << (8 * i);
    window_ = header_ >> 28;
  }

  // The stream header as one little-endian value; its top four bits are the
  // first four stream bits.
  std::uint32_t header() const { return header_; }

  // Makes at least 57 bits visible; every read below takes at most 25 bits
  // between two refills.
  void refill() {
    if (available_ > 56) return;
    if (std::endian::native == std::endian::little && next_ + 8 <= size_) {
      std::uint64_t word;
      std::memcpy(&word, data_ + next_, 8);
      window_ |= word << available_;
      // Whole bytes only; the bits of a partly loaded byte are loaded again,
      // unchanged, by the next refill.
      const unsigned bytes = (64 - available_) >> 3;
      next_ += bytes;
      available_ += bytes * 8;
      return;
    }
    while (available_ <= 56) {
      window_ |= std::uint64_t{byte_at(next_++)} << available_;
      available_ += 8;
    }
  }

  std::uint64_t peek() const { return window_; }

  void skip(unsigned bits) {
    window_ >>= bits;
    available_ -= bits;
    taken_ += bits;
  }

  // An n-bit field, most significant bit first.
  unsigned field(unsigned bits) {
    static constexpr std::uint8_t kReversed[16] = {0, 8, 4, 12, 2, 10, 6, 14,
                                                   1, 9, 5, 13, 3, 11, 7, 15};
    const unsigned raw = static_cast<unsigned>(window_ & ((1u << bits) - 1));
    skip(bits);
    return kReversed[raw] >> (4 - bits);
  }

  // The read position: the stream start plus the header plus every byte
  // fetched so far (a byte is fetched when its first bit is taken).
  std::uint64_t read_position() const {
    const std::uint64_t fetched = taken_ <= 4 ? 0 : (taken_ - 4 + 7) / 8;
    return std::uint64_t{start_} + 4 + fetched;
  }

 private:
  std::uint8_t byte_at(std::uint64_t at) const { return at < size_ ? data_[at] : 0; }

  const std::uint8_t* data_;
  std::uint64_t size_;
  std::uint32_t start_;
  std::uint64_t next_;  // the next byte to load into the window
  std::uint32_t header_ = 0;
  std::uint64_t window_ = 0;
  unsigned available_ = 4;
  std::uint64_t taken_ = 0;  // stream bits taken, the four in the header included
};

// Reads a count code: pairs "1 b" add the weight when b is 1, a single 0 adds
// the weight and ends the code. Returns 0 for a code of more than seven pairs,
// after taking the eighth pair. The code is read whole from the window: the
// pairs end at the first even bit that is 0, and the odd bits before it are
// the count's low bits.
unsigned read_count(BitReader& reader) {
  const std::uint64_t bits = reader.peek();
  // Bits past the visible ones are 0, so a stop is always found.
  const auto stop = static_cast<unsigned>(std::countr_zero(~bits & 0x5555555555555555ull));
  const unsigned pairs = stop / 2;
  if (pairs > 7) {
    reader.skip(16);
    return 0;
  }
  // Bits 1, 3, ... of the pairs, gathered into bits 0, 1, ...
  std::uint32_t low = static_cast<std::uint32_t>(bits >> 1) & 0x5555u & ((1u << stop) - 1);
  low = (low | low >> 1) & 0x3333u;
  low = (low | low >> 2) & 0x0F0Fu;
  low = (low | low >> 4) & 0x00FFu;
  reader.skip(stop + 1);
  return low + (1u << pairs);
}

enum Command : unsigned { KeepRuns = 0, Fill = 1, ExtendRun = 2, CutRun = 3 };

// Most commands of a reference-mode row are short: a table indexed by the next
// kLookahead stream bits gives the whole command (its length in bits, count,
// command code, colour index and explicit colour) in one step. Entries are 0 where the command does
// not fit in those bits; those, malformed count codes among them, take the
// bit-by-bit path.
constexpr unsigned kLookahead = 10;
using CommandTable = std::array<std::uint32_t, 1u << kLookahead>;

constexpr std::uint32_t pack_command(unsigned length, unsigned count, unsigned command,
                                     unsigned index, unsigned colour) {
  return length | count << 5 | command << 13 | index << 15 | colour << 18;
}

constexpr CommandTable make_command_table(bool reference_mode) {
  CommandTable table{};
  for (unsigned bits = 0; bits < table.size(); ++bits) {
    unsigned used = 0;
    bool fits = true;
    auto next = [&]() -> unsigned {
      if (used == kLookahead) fits = false;
      return fits ? (bits >> used++) & 1u : 0u;
    };
    auto field = [&](unsigned length) {
      unsigned value = 0;
      while (length-- > 0) value = value << 1 | next();
      return value;
    };
    unsigned count = 0, weight = 1;
    while (fits && next() == 1) {
      if (next() == 1) count += weight;
      weight <<= 1;
    }
    count += weight;
    const unsigned command = reference_mode ? field(2) : unsigned{Fill};
    const unsigned index = command == Fill ? field(3) : 0;
    const unsigned colour = index == 7 ? field(4) : 0;
    if (fits) table[bits] = pack_command(used, count, command, index, colour);
  }
  return table;
}

constexpr CommandTable kReferenceRowCommands = make_command_table(true);

// Fill-only rows of dithered or noisy pictures are mostly one-pixel fills of
// 4 to 8 bits. A table indexed by the next 12 stream bits gives up to two
// whole fills: for each its length in bits, its count and its colour code (0
// to 6 a table entry, 7 + v the explicit colour v). Counts that fit are below
// 32. The entry is 0 where not even the first fill fits.
constexpr unsigned kPairLookahead = 12;
using FillPairTable = std::array<std::uint32_t, 1u << kPairLookahead>;

constexpr FillPairTable make_fill_pair_table() {
  FillPairTable table{};
  for (unsigned bits = 0; bits < table.size(); ++bits) {
    unsigned used = 0;
    std::uint32_t entry = 0;
    for (unsigned k = 0; k < 2; ++k) {
      const unsigned start = used;
      bool fits = true;
      auto next = [&]() -> unsigned {
        if (used == kPairLookahead) fits = false;
        return fits ? (bits >> used++) & 1u : 0u;
      };
      unsigned count = 0, weight = 1;
      while (fits && next() == 1) {
        if (next() == 1) count += weight;
        weight <<= 1;
      }
      count += weight;
      unsigned index = 0;
      for (int i = 0; i < 3; ++i) index = index << 1 | next();
      unsigned code = index;
      if (index == 7) {
        unsigned colour = 0;
        for (int i = 0; i < 4; ++i) colour = colour << 1 | next();
        code = 7 + colour;
      }
      if (!fits) break;
      entry |= (used - start) << (4 * k) | count << (8 + 5 * k) | code << (18 + 5 * k);
    }
    table[bits] = entry;
  }
  return table;
}
constexpr FillPairTable kFillPairs = make_fill_pair_table();

void fill_pixels(std::uint8_t* row, int c, int n, std::uint8_t colour) {
  if (n == 1) {
    row[c] = colour;
  } else {
    std::memset(row + c - n + 1, colour, static_cast<std::size_t>(n));
  }
}

// A fill-only row: nothing but fills, up to two per table look-up. colours
// holds the table entries, then the 16 explicit colours.
bool decode_fill_row(BitReader& reader, std::uint8_t* row, const std::uint8_t* colours) {
  int c = static_cast<int>(kWidth) - 1;
  while (c >= 0) {
    reader.refill();
    const std::uint32_t e = kFillPairs[reader.peek() & ((1u << kPairLookahead) - 1)];
    if (e == 0) {  // a long or malformed count code
      const auto n = static_cast<int>(read_count(reader));
      if (n == 0) return false;
      const unsigned index = reader.field(3);
      const std::uint8_t colour = colours[index == 7 ? 7 + reader.field(4) : index];
      if (n > c + 1) return false;
      fill_pixels(row, c, n, colour);
      c -= n;
      continue;
    }
    const unsigned first_bits = e & 15;
    const auto n1 = static_cast<int>((e >> 8) & 31);
    if (n1 > c + 1) {
      reader.skip(first_bits);
      return false;
    }
    fill_pixels(row, c, n1, colours[(e >> 18) & 31]);
    c -= n1;
    const unsigned second_bits = (e >> 4) & 15;
    if (second_bits == 0 || c < 0) {  // the second belongs to the next row, or is not whole
      reader.skip(first_bits);
      continue;
    }
    reader.skip(first_bits + second_bits);
    const auto n2 = static_cast<int>((e >> 13) & 31);
    if (n2 > c + 1) return false;
    fill_pixels(row, c, n2, colours[(e >> 23) & 31]);
    c -= n2;
  }
  return true;
}

// Decodes one row in place over its reference row. False on a malformed command.
bool decode_row(BitReader& reader, std::uint8_t* row, const std::uint8_t* table,
                const std::uint8_t* colours) {
  reader.refill();
  const bool reference_mode = reader.field(1) != 0;
  if (!reference_mode) return decode_fill_row(reader, row, colours);
  RunStarts runs;
  runs.scan(row);
  const CommandTable& commands = kReferenceRowCommands;
  int c = static_cast<int>(kWidth) - 1;
  while (c >= 0) {
    reader.refill();
    unsigned count, command, index, explicit_colour;
    const std::uint32_t step = commands[reader.peek() & ((1u << kLookahead) - 1)];
    if (step != 0) {
      reader.skip(step & 31);
      count = (step >> 5) & 0xFF;
      command = (step >> 13) & 3;
      index = (step >> 15) & 7;
      explicit_colour = (step >> 18) & 15;
    } else {
      count = read_count(reader);
      if (count == 0) return false;
      command = reader.field(2);
      index = 0;
      explicit_colour = 0;
      if (command == Fill) {
        index = reader.field(3);
        if (index == 7) explicit_colour = reader.field(4);
      }
    }
    const int n = static_cast<int>(count);
    switch (command) {
      case Fill: {
        // The colour fields come before the length check, so a failing fill
        // has consumed them.
        if (n > c + 1) return false;
        const std::uint8_t colour =
            static_cast<std::uint8_t>(index == 7 ? explicit_colour : table[index]);
        if (n == 1) {
          row[c] = colour;
        } else {
          std::memset(row + c - n + 1, colour, static_cast<std::size_t>(n));
        }
        c -= n;
        break;
      }
      case KeepRuns:
        c = runs.keep(c, count);
        if (c < -1) return false;
        break;
      case ExtendRun: {
        const std::uint8_t colour = row[c];
        const int s = runs.left_neighbour(c);
        if (s < 0 || n > s + 1) return false;
        const std::uint8_t covered = row[s];
        std::memset(row + s - n + 1, colour, static_cast<std::size_t>(n));
        c = s - n;
        if (c >= 0) {
          row[c] = covered;
          runs.changed(row, c);
        }
        break;
      }
      case CutRun: {
        const int s = runs.left_neighbour(c);
        const std::uint8_t neighbour = s >= 0 ? row[s] : 0;
        const int next = s + n;
        if (next > static_cast<int>(kWidth) - 1) return false;
        row[next] = neighbour;
        if (next > c) {
          runs.scan(row);
        } else {
          runs.changed(row, next);
        }
        c = next;
        break;
      }
    }
  }
  return true;
}

}  // namespace

DecodeResult format15_decode(const std::uint8_t* input, std::uint32_t input_size,
                             std::uint32_t start, std::uint8_t* destination, std::uint32_t capacity,
                             std::uint32_t tile_rows) {
  // The picture and its tile data share the work buffer: at most 42 tile rows.
  // The row count itself is compared, so no product can overflow.
  if (tile_rows > kFormat15MaxDecodeRows) return {CodecStatus::invalid_argument, 0, start, 0};
  const std::uint32_t rows = 8 * tile_rows;
  const std::uint32_t picture_size = kWidth * rows;
  const std::uint32_t tile_size = picture_size / 2;

  ByteBuffer work = allocate_bytes(kWorkSize);
  if (!work) return {CodecStatus::out_of_memory, 0, start, 0};
  std::uint8_t* picture = work.get();

  const std::uint32_t size = input != nullptr ? input_size : 0;
  BitReader reader(input, size, start);
  // Entries 0 to 6 of the colour table; index 7 brings its own colour.
  std::uint8_t table[8] = {};
  for (unsigned i = 0; i < 7; ++i) table[i] = (reader.header() >> (4 * i)) & 0xF;
  // The same entries, then the explicit colours, by colour code.
  std::uint8_t colours[7 + 16];
  for (unsigned i = 0; i < 7; ++i) colours[i] = table[i];
  for (unsigned v = 0; v < 16; ++v) colours[7 + v] = static_cast<std::uint8_t>(v);

  bool ok = true;
  std::memset(picture, 0, kWidth);
  for (std::uint32_t y = 0; y < rows && ok; ++y) {
    std::uint8_t* row = picture + y * kWidth;
    if (y > 0) std::memcpy(row, row - kWidth, kWidth);
    ok = decode_row(reader, row, table, colours);
  }
  if (!ok) return stream_read(CodecStatus::malformed, 0, reader.read_position(), size);

  picture_to_tiles(picture, rows, picture + picture_size);
  if (destination != nullptr) {
    std::memcpy(destination, picture + picture_size, std::min(tile_size, capacity));
  }
  return stream_read(CodecStatus::ok, tile_size, reader.read_position(), size);
}

}  // namespace tilvex
