// Format 15 encoder: turns tiles into the 128-pixel-wide picture and writes it
// as a bit stream the decoder rebuilds row by row.
//
// Two attempts differ only in the seven-colour table (chosen once from run
// counts, once from a simulated reference-mode pass); the shorter stream wins
// and equal lengths keep the second. Within an attempt every row is encoded
// twice, as a fill-only row and as a reference-mode row, and the cheaper one is
// appended (equal costs keep the reference-mode row). Both trials start from
// the same carried bits, so comparing their totals compares their row bits.
//
// The stream is one little-endian bit string (bit 0 of each byte first); fields
// are written most significant bit first, so every code is kept here already
// bit-reversed, with its first bit in bit 0, and whole codes are appended at
// once. The last byte is padded with zero bits.

#include <algorithm>
#include <array>
#include <cstring>

#include "codec/format15.h"
#include "common/resources.h"
#include "common/types.h"

namespace tilvex {
namespace {

constexpr int kWidth = 128;
constexpr std::uint32_t kPictureCapacity = 0x8000;
// Whole 64-bit words are stored before the limit is checked at the end.
constexpr std::uint32_t kOutputCapacity = kOutputLimit + 8;
constexpr std::uint32_t kTileRowBytes = 512;

using ColourTable = std::array<std::uint8_t, 7>;

// A run of stream bits, first bit in bit 0.
struct Code {
  std::uint32_t bits = 0;
  unsigned length = 0;
};

// An n-bit field written most significant bit first.
constexpr std::uint32_t field_bits(std::uint32_t value, unsigned length) {
  std::uint32_t bits = 0;
  for (unsigned i = 0; i < length; ++i) bits |= ((value >> (length - 1 - i)) & 1u) << i;
  return bits;
}

// The count code of n: "1 b" for each bit b below the highest set bit, from
// bit 0 upwards, then a single 0.
constexpr Code count_code(unsigned n) {
  Code code;
  while (n > 1) {
    code.bits |= (1u | (n & 1u) << 1) << code.length;
    code.length += 2;
    n >>= 1;
  }
  code.length += 1;  // the closing 0
  return code;
}

constexpr std::array<Code, kWidth + 1> make_count_codes() {
  std::array<Code, kWidth + 1> codes{};
  for (unsigned n = 1; n <= kWidth; ++n) codes[n] = count_code(n);
  return codes;
}
constexpr std::array<Code, kWidth + 1> kCountCodes = make_count_codes();

constexpr std::uint32_t kCommandKeep = field_bits(0, 2);
constexpr std::uint32_t kCommandFill = field_bits(1, 2);
constexpr std::uint32_t kCommandExtend = field_bits(2, 2);
constexpr std::uint32_t kCommandCut = field_bits(3, 2);

// Bits of one trial encoding of one row. A row costs at most 17 bits per pixel
// plus its mode bit, 2177 bits.
class RowBits {
 public:
  void clear() {
    words_ = 0;
    accumulator_ = 0;
    fill_ = 0;
  }
  void put(std::uint32_t bits, unsigned length) {
    accumulator_ |= std::uint64_t{bits} << fill_;
    fill_ += length;
    if (fill_ >= 64) {
      word_[words_++] = accumulator_;
      fill_ -= 64;
      accumulator_ = std::uint64_t{bits} >> (length - fill_);
    }
  }
  std::uint32_t bit_count() const { return words_ * 64 + fill_; }
  std::uint32_t words() const { return words_; }
  std::uint64_t word(std::uint32_t i) const { return word_[i]; }
  std::uint64_t tail() const { return accumulator_; }
  unsigned tail_length() const { return fill_; }

 private:
  std::uint64_t word_[40];
  std::uint32_t words_ = 0;
  std::uint64_t accumulator_ = 0;
  unsigned fill_ = 0;
};

// The stream of one attempt, written into a caller's buffer.
class StreamWriter {
 public:
  StreamWriter(std::uint8_t* out, std::uint32_t capacity) : out_(out), capacity_(capacity) {}

  void put(std::uint64_t bits, unsigned length) {  // length at most 32
    accumulator_ |= bits << fill_;
    fill_ += length;
    if (fill_ >= 64) {
      store_word(accumulator_);
      fill_ -= 64;
      accumulator_ = bits >> (length - fill_);
    }
  }

  void append(const RowBits& row) {
    for (std::uint32_t i = 0; i < row.words(); ++i) {
      put(row.word(i) & 0xFFFFFFFFu, 32);
      put(row.word(i) >> 32, 32);
    }
    if (row.tail_length() > 32) {
      put(row.tail() & 0xFFFFFFFFu, 32);
      put(row.tail() >> 32, row.tail_length() - 32);
    } else if (row.tail_length() > 0) {
      put(row.tail(), row.tail_length());
    }
  }

  // Writes the last, zero-padded bytes. Returns the stream length, or 0 when
  // the stream passes the output limit.
  std::uint32_t finish() {
    const unsigned tail_bytes = (fill_ + 7) / 8;
    if (overflow_ || length_ + tail_bytes > kOutputLimit) return 0;
    for (unsigned i = 0; i < tail_bytes; ++i) {
      out_[length_++] = static_cast<std::uint8_t>(accumulator_ >> (8 * i));
    }
    return length_;
  }

  void put_byte(std::uint8_t byte) { out_[length_++] = byte; }  // before any bits

 private:
  void store_word(std::uint64_t word) {
    if (overflow_ || length_ + 8 > capacity_) {
      overflow_ = true;
      return;
    }
    for (unsigned i = 0; i < 8; ++i) out_[length_ + i] = static_cast<std::uint8_t>(word >> (8 * i));
    length_ += 8;
  }

  std::uint8_t* out_;
  std::uint32_t capacity_;
  std::uint32_t length_ = 0;
  std::uint64_t accumulator_ = 0;
  unsigned fill_ = 0;
  bool overflow_ = false;
};

// The fill codes of one colour table: for each colour, the code that follows
// the count code of a fill (colour index, and the colour itself for index 7).
struct FillCodes {
  Code in_fill_row[16];
  Code in_reference_row[16];  // with the command code in front
};

FillCodes make_fill_codes(const ColourTable& table) {
  FillCodes codes;
  for (unsigned colour = 0; colour < 16; ++colour) {
    unsigned index = 7;
    for (unsigned i = 0; i < 7; ++i) {
      if (table[i] == colour) {
        index = i;
        break;
      }
    }
    Code code{field_bits(index, 3), 3};
    if (index == 7) {
      code.bits |= field_bits(colour, 4) << 3;
      code.length += 4;
    }
    codes.in_fill_row[colour] = code;
    codes.in_reference_row[colour] = Code{kCommandFill | code.bits << 2, code.length + 2};
  }
  return codes;
}

// Where the commands of a row go: bits of a trial, or the fill counts of the
// simulated pass.
struct BitSink {
  RowBits& bits;
  const FillCodes& codes;
  void fill(unsigned n, std::uint8_t colour) {
    const Code count = kCountCodes[n];
    const Code tail = codes.in_reference_row[colour];
    bits.put(count.bits | tail.bits << count.length, count.length + tail.length);
  }
  void command(unsigned n, std::uint32_t command_bits) {
    const Code count = kCountCodes[n];
    bits.put(count.bits | command_bits << count.length, count.length + 2);
  }
};

struct FillCountSink {
  std::uint32_t* fills;  // per colour
  void fill(unsigned, std::uint8_t colour) { ++fills[colour]; }
  void command(unsigned, std::uint32_t) {}
};

// The first column left of c whose pixel differs from row[c], or -1.
int run_end(const std::uint8_t* row, int c) {
  const std::uint8_t colour = row[c];
  int s = c - 1;
  while (s >= 0 && row[s] == colour) --s;
  return s;
}

// Encodes picture row `row` as a fill-only row (without its mode bit).
void encode_fill_row(const std::uint8_t* row, const FillCodes& codes, RowBits& bits) {
  int c = kWidth - 1;
  while (c >= 0) {
    const std::uint8_t v = row[c];
    const int s = run_end(row, c);
    const Code count = kCountCodes[c - s];
    const Code tail = codes.in_fill_row[v];
    bits.put(count.bits | tail.bits << count.length, count.length + tail.length);
    c = s;
  }
}

// Encodes picture row `row` as a reference-mode row (without its mode bit)
// against `ref`, a copy of the row above that is changed as the decoder
// changes its row.
template <class Sink>
void encode_reference_row(const std::uint8_t* row, std::uint8_t* ref, Sink& sink) {
  const std::uint8_t* R = row;
  std::uint8_t* F = ref;
  int c = kWidth - 1;
  while (c >= 0) {
    const std::uint8_t v = R[c];
    if (F[c] != v) {
      const int s = run_end(R, c);
      sink.fill(static_cast<unsigned>(c - s), v);
      c = s;
      continue;
    }
    // Both rows hold v at c: keep runs, extend the run or cut it.
    int k = c - 1;
    while (k >= 0 && F[k] == R[k] && R[k] == v) --k;
    int n;
    if (k < 0) {
      n = 1;
    } else if (F[k] == R[k]) {
      // A new colour, the same in both rows: count the runs both rows share.
      n = 2;
      std::uint8_t w = R[k];
      int start = k;
      --k;
      while (k >= 0) {
        if (F[k] != R[k]) {
          if (F[k] == w || R[k] == w) {
            --n;
            k = start;
          }
          break;
        }
        if (R[k] != w) {
          ++n;
          w = R[k];
          start = k;
        }
        --k;
      }
    } else {
      n = (F[k] == v || R[k] == v) ? 0 : 1;
    }

    if (n >= 1) {
      sink.command(static_cast<unsigned>(n), kCommandKeep);
      c = k;
    } else if (R[k] == v) {
      // The run goes on further left in this row than in the row above.
      const std::uint8_t covered = F[k];
      int e = k - 1;
      while (e >= 0 && R[e] == v) --e;
      if (e >= 0) F[e] = covered;
      sink.command(static_cast<unsigned>(k - e), kCommandExtend);
      c = e;
    } else {
      // The run ends earlier in this row than in the row above.
      int e = k - 1;
      while (e >= 0 && F[e] == v) --e;
      F[k] = e >= 0 ? F[e] : 0;
      sink.command(static_cast<unsigned>(k - e), kCommandCut);
      c = k;
    }
  }
}

// Byte x of the result is bit 7 - x of the plane byte.
constexpr std::array<std::uint64_t, 256> make_spread() {
  std::array<std::uint64_t, 256> spread{};
  for (unsigned b = 0; b < 256; ++b) {
    for (unsigned x = 0; x < 8; ++x) spread[b] |= std::uint64_t{(b >> (7 - x)) & 1u} << (8 * x);
  }
  return spread;
}
constexpr std::array<std::uint64_t, 256> kSpread = make_spread();

void tiles_to_picture(const std::uint8_t* tiles, std::uint32_t rows, std::uint8_t* picture) {
  for (std::uint32_t y = 0; y < rows; ++y) {
    const std::uint32_t band = y >> 3;
    const std::uint32_t r = y & 7;
    for (std::uint32_t column = 0; column < 16; ++column) {
      const std::uint8_t* tile = tiles + (band * 16 + column) * 32;
      const std::uint64_t pixels = kSpread[tile[2 * r]] | kSpread[tile[2 * r + 1]] << 1 |
                                   kSpread[tile[16 + 2 * r]] << 2 |
                                   kSpread[tile[17 + 2 * r]] << 3;
      std::uint8_t* out = picture + y * kWidth + column * 8;
      for (unsigned x = 0; x < 8; ++x) out[x] = static_cast<std::uint8_t>(pixels >> (8 * x));
    }
  }
}

// Seven entries by the first counts, falling back to the second counts, the
// lowest colour winning ties; a colour once chosen counts 0 afterwards.
ColourTable pick_table(std::uint32_t (&first)[16], std::uint32_t (&second)[16]) {
  ColourTable table{};
  for (auto& entry : table) {
    std::uint32_t best = 0;
    unsigned choice = 0;
    for (unsigned j = 0; j < 16; ++j) {
      if (first[j] > best) {
        best = first[j];
        choice = j;
      }
    }
    if (best == 0) {
      for (unsigned j = 0; j < 16; ++j) {
        if (second[j] > best) {
          best = second[j];
          choice = j;
        }
      }
    }
    entry = static_cast<std::uint8_t>(choice);
    first[choice] = 0;
    second[choice] = 0;
  }
  return table;
}

const std::uint8_t kZeroRow[kWidth] = {};

const std::uint8_t* row_above(const std::uint8_t* picture, std::uint32_t y) {
  return y == 0 ? kZeroRow : picture + (y - 1) * kWidth;
}

// First counts: runs of each colour at least two pixels long whose rightmost
// pixel differs from the pixel above; second counts: all runs of each colour.
ColourTable table_by_runs(const std::uint8_t* picture, std::uint32_t rows) {
  std::uint32_t long_runs[16] = {};
  std::uint32_t runs[16] = {};
  for (std::uint32_t y = 0; y < rows; ++y) {
    const std::uint8_t* R = picture + y * kWidth;
    const std::uint8_t* U = row_above(picture, y);
    int c = kWidth - 1;
    while (c >= 0) {
      const std::uint8_t v = R[c];
      ++runs[v];
      if (U[c] != v && c >= 1 && R[c - 1] == v) ++long_runs[v];
      c = run_end(R, c);
    }
  }
  return pick_table(long_runs, runs);
}

// First counts: the fills of each colour in a reference-mode pass over every
// row; second counts: each pixel that differs from the pixel above, and once
// each run whose rightmost pixel equals the pixel above.
ColourTable table_by_simulation(const std::uint8_t* picture, std::uint32_t rows) {
  std::uint32_t fills[16] = {};
  std::uint32_t changes[16] = {};
  for (std::uint32_t y = 0; y < rows; ++y) {
    const std::uint8_t* R = picture + y * kWidth;
    const std::uint8_t* U = row_above(picture, y);
    int c = kWidth - 1;
    while (c >= 0) {
      const std::uint8_t v = R[c];
      ++changes[v];
      c = U[c] == v ? run_end(R, c) : c - 1;
    }
  }
  std::uint8_t ref[kWidth];
  FillCountSink sink{fills};
  for (std::uint32_t y = 0; y < rows; ++y) {
    std::memcpy(ref, row_above(picture, y), kWidth);
    encode_reference_row(picture + y * kWidth, ref, sink);
  }
  return pick_table(fills, changes);
}

// One attempt: the stream of the picture with the given table, written to out.
// Returns its length, or 0 when it would pass the output limit.
std::uint32_t encode_picture(const std::uint8_t* picture, std::uint32_t rows,
                             const ColourTable& table, std::uint8_t* out) {
  StreamWriter stream(out, kOutputCapacity);
  stream.put_byte(static_cast<std::uint8_t>(table[1] << 4 | table[0]));
  stream.put_byte(static_cast<std::uint8_t>(table[3] << 4 | table[2]));
  stream.put_byte(static_cast<std::uint8_t>(table[5] << 4 | table[4]));
  stream.put(table[6], 4);  // shares its byte with the first four stream bits

  const FillCodes codes = make_fill_codes(table);
  RowBits fill_only;
  RowBits reference;
  std::uint8_t ref[kWidth];
  for (std::uint32_t y = 0; y < rows; ++y) {
    const std::uint8_t* row = picture + y * kWidth;
    fill_only.clear();
    fill_only.put(0, 1);
    encode_fill_row(row, codes, fill_only);

    reference.clear();
    reference.put(1, 1);
    std::memcpy(ref, row_above(picture, y), kWidth);
    BitSink sink{reference, codes};
    encode_reference_row(row, ref, sink);

    stream.append(fill_only.bit_count() < reference.bit_count() ? fill_only : reference);
  }
  return stream.finish();
}

}  // namespace

std::uint32_t format15_encode(const std::uint8_t* source, std::uint8_t* destination,
                              std::uint32_t size, std::uint32_t max_size,
                              std::uint32_t tile_rows) {
  if (source == nullptr) return 0;
  // The row count itself is compared, so no product can overflow.
  if (tile_rows > kFormat15MaxEncodeRows) return 0;
  // The picture is read from 512 bytes per tile row; a shorter source would
  // be read past its end.
  if (size < kTileRowBytes * tile_rows) return 0;
  const std::uint32_t rows = 8 * tile_rows;

  ByteBuffer output = allocate_bytes(kOutputCapacity);
  ByteBuffer picture = allocate_bytes(kPictureCapacity);
  ByteBuffer first = allocate_bytes(kOutputCapacity);
  if (!output || !picture || !first) return 0;

  // The source is read completely before anything is written, so it may be the
  // destination.
  tiles_to_picture(source, rows, picture.get());

  const ColourTable by_runs = table_by_runs(picture.get(), rows);
  const std::uint32_t first_length = encode_picture(picture.get(), rows, by_runs, first.get());
  if (first_length == 0) return 0;

  const ColourTable by_simulation = table_by_simulation(picture.get(), rows);
  const std::uint8_t* stream = first.get();
  std::uint32_t length = first_length;
  if (by_simulation != by_runs) {
    // Equal tables give equal streams; otherwise the second attempt wins
    // unless the first is strictly shorter.
    const std::uint32_t second_length =
        encode_picture(picture.get(), rows, by_simulation, output.get());
    if (second_length == 0) return 0;
    if (second_length <= first_length) {
      stream = output.get();
      length = second_length;
    }
  }

  if (destination != nullptr) std::memcpy(destination, stream, std::min(length, max_size));
  return length;
}

}  // namespace tilvex
