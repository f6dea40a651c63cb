// Format 15 encoder: turns tiles into the 128-pixel-wide picture and writes it
// as a bit stream the decoder rebuilds row by row.
//
// Two attempts differ only in the seven-colour table (chosen once from run
// counts, once from a simulated reference-mode pass); the shorter stream wins
// and equal lengths keep the second. Within an attempt every row is priced
// twice, as a fill-only row and as a reference-mode row, and the cheaper one is
// written (equal costs keep the reference-mode row). Both trials of a row start
// from the same carried bits, so comparing their totals compares their row bits.
//
// The commands of both trials of a row do not depend on the colour table: only
// the codes of the fill colours do. So every row is planned once, as its list
// of fill-only runs and its list of reference-mode commands; the simulated pass
// counts the fills of the second list, and each attempt prices both lists with
// its table and writes the winner.
//
// The stream is one little-endian bit string (bit 0 of each byte first); fields
// are written most significant bit first, so every code is kept here already
// bit-reversed, with its first bit in bit 0, and whole codes are appended at
// once. The last byte is padded with zero bits.

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "codec/format15.h"
#include "common/resources.h"
#include "common/types.h"

namespace tilvex {
namespace {

constexpr int kWidth = 128;
constexpr std::uint32_t kPictureCapacity = 0x8000;
// Whole 64-bit words are stored before the output limit is checked at the end.
constexpr std::uint32_t kOutputCapacity = kOutputLimit + 8;
constexpr std::uint32_t kTileRowBytes = 512;

using ColourTable = std::array<std::uint8_t, 7>;

enum Command : unsigned { KeepRuns = 0, Fill = 1, ExtendRun = 2, CutRun = 3 };

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

// One command of a planned row: its count (1 to 128), command and, for a fill,
// the colour.
struct Step {
  std::uint8_t count;
  std::uint8_t command;
  std::uint8_t colour;
};

// The planned commands of every row: at most 128 fill-only runs and at most
// 128 reference-mode commands per row, since each moves the cursor left.
struct RowPlan {
  Step fills[kWidth];
  Step commands[kWidth];
  std::uint8_t fill_count;
  std::uint8_t command_count;
};

// The first column left of c whose pixel differs from row[c], or -1.
int run_end(const std::uint8_t* row, int c) {
  const std::uint8_t colour = row[c];
  int s = c - 1;
  while (s >= 0 && row[s] == colour) --s;
  return s;
}

const std::uint8_t kZeroRow[kWidth] = {};

const std::uint8_t* row_above(const std::uint8_t* picture, std::uint32_t y) {
  return y == 0 ? kZeroRow : picture + (y - 1) * kWidth;
}

// The runs of a fill-only row, from the right end.
void plan_fill_row(const std::uint8_t* R, RowPlan& plan) {
  plan.fill_count = 0;
  for (int c = kWidth - 1; c >= 0;) {
    const int s = run_end(R, c);
    plan.fills[plan.fill_count++] = Step{static_cast<std::uint8_t>(c - s), Fill, R[c]};
    c = s;
  }
}

// The commands of a reference-mode row R against F, a copy of the row above
// that is changed as the decoder changes its row.
void plan_reference_row(const std::uint8_t* R, std::uint8_t* F, RowPlan& plan) {
  plan.command_count = 0;
  auto add = [&](int n, unsigned command, std::uint8_t colour) {
    plan.commands[plan.command_count++] =
        Step{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(command), colour};
  };
  int c = kWidth - 1;
  while (c >= 0) {
    const std::uint8_t v = R[c];
    if (F[c] != v) {
      const int s = run_end(R, c);
      add(c - s, Fill, v);
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
      add(n, KeepRuns, 0);
      c = k;
    } else if (R[k] == v) {
      // The run goes on further left in this row than in the row above.
      const std::uint8_t covered = F[k];
      int e = k - 1;
      while (e >= 0 && R[e] == v) --e;
      if (e >= 0) F[e] = covered;
      add(k - e, ExtendRun, 0);
      c = e;
    } else {
      // The run ends earlier in this row than in the row above.
      int e = k - 1;
      while (e >= 0 && F[e] == v) --e;
      F[k] = e >= 0 ? F[e] : 0;
      add(k - e, CutRun, 0);
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
                                   kSpread[tile[16 + 2 * r]] << 2 | kSpread[tile[17 + 2 * r]] << 3;
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

// Plans every row and picks both colour tables.
//
// By runs: first counts are the runs of each colour at least two pixels long
// whose rightmost pixel differs from the pixel above, second counts all runs
// of each colour (both read off the fill-only runs).
//
// By simulation: first counts are the fills of each colour among the
// reference-mode commands; second counts are each pixel that differs from the
// pixel above, and once each run whose rightmost pixel equals the pixel above.
void plan_picture(const std::uint8_t* picture, std::uint32_t rows, RowPlan* plans,
                  ColourTable& by_runs, ColourTable& by_simulation) {
  std::uint32_t long_runs[16] = {}, runs[16] = {}, fills[16] = {}, changes[16] = {};
  std::uint8_t ref[kWidth];
  for (std::uint32_t y = 0; y < rows; ++y) {
    const std::uint8_t* R = picture + y * kWidth;
    const std::uint8_t* U = row_above(picture, y);
    RowPlan& plan = plans[y];

    plan_fill_row(R, plan);
    int c = kWidth - 1;
    for (unsigned i = 0; i < plan.fill_count; ++i) {
      const Step& run = plan.fills[i];
      ++runs[run.colour];
      if (U[c] != run.colour && run.count >= 2) ++long_runs[run.colour];
      c -= run.count;
    }

    std::memcpy(ref, U, kWidth);
    plan_reference_row(R, ref, plan);
    for (unsigned i = 0; i < plan.command_count; ++i) {
      if (plan.commands[i].command == Fill) ++fills[plan.commands[i].colour];
    }

    for (c = kWidth - 1; c >= 0;) {
      const std::uint8_t v = R[c];
      ++changes[v];
      c = U[c] == v ? run_end(R, c) : c - 1;
    }
  }
  by_runs = pick_table(long_runs, runs);
  by_simulation = pick_table(fills, changes);
}

// The stream of one attempt, written into a caller's buffer of
// kOutputCapacity bytes.
class StreamWriter {
 public:
  explicit StreamWriter(std::uint8_t* out) : out_(out) {}

  void put_byte(std::uint8_t byte) { out_[length_++] = byte; }  // before any bits

  void put(std::uint32_t bits, unsigned length) {  // length at most 32
    accumulator_ |= std::uint64_t{bits} << fill_;
    fill_ += length;
    if (fill_ >= 64) {
      store_word();
      fill_ -= 64;
      accumulator_ = std::uint64_t{bits} >> (length - fill_);
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

 private:
  void store_word() {
    if (overflow_ || length_ + 8 > kOutputCapacity) {
      overflow_ = true;
      return;
    }
    for (unsigned i = 0; i < 8; ++i)
      out_[length_ + i] = static_cast<std::uint8_t>(accumulator_ >> (8 * i));
    length_ += 8;
  }

  std::uint8_t* out_;
  std::uint32_t length_ = 0;
  std::uint64_t accumulator_ = 0;
  unsigned fill_ = 0;
  bool overflow_ = false;
};

// What follows the count code of each command under one colour table: for a
// fill its colour index (and the colour itself for index 7), with the command
// code in front in a reference-mode row.
struct CommandCodes {
  Code fill_row[16];        // by colour
  Code reference_fill[16];  // by colour
  Code command[4];          // by command, for the other commands
};

CommandCodes make_command_codes(const ColourTable& table) {
  CommandCodes codes;
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
    codes.fill_row[colour] = code;
    codes.reference_fill[colour] = Code{field_bits(Fill, 2) | code.bits << 2, code.length + 2};
  }
  for (unsigned command = 0; command < 4; ++command)
    codes.command[command] = Code{field_bits(command, 2), 2};
  return codes;
}

Code reference_tail(const CommandCodes& codes, const Step& step) {
  return step.command == Fill ? codes.reference_fill[step.colour] : codes.command[step.command];
}

void put_step(StreamWriter& stream, const Step& step, const Code& tail) {
  const Code count = kCountCodes[step.count];
  stream.put(count.bits | tail.bits << count.length, count.length + tail.length);
}

// One attempt: the stream of the planned picture with the given table, written
// to out. Returns its length, or 0 when it would pass the output limit.
std::uint32_t encode_picture(const RowPlan* plans, std::uint32_t rows, const ColourTable& table,
                             std::uint8_t* out) {
  StreamWriter stream(out);
  stream.put_byte(static_cast<std::uint8_t>(table[1] << 4 | table[0]));
  stream.put_byte(static_cast<std::uint8_t>(table[3] << 4 | table[2]));
  stream.put_byte(static_cast<std::uint8_t>(table[5] << 4 | table[4]));
  stream.put(table[6], 4);  // shares its byte with the first four stream bits

  const CommandCodes codes = make_command_codes(table);
  for (std::uint32_t y = 0; y < rows; ++y) {
    const RowPlan& plan = plans[y];
    std::uint32_t fill_bits = 1;
    for (unsigned i = 0; i < plan.fill_count; ++i) {
      const Step& step = plan.fills[i];
      fill_bits += kCountCodes[step.count].length + codes.fill_row[step.colour].length;
    }
    std::uint32_t reference_bits = 1;
    for (unsigned i = 0; i < plan.command_count; ++i) {
      const Step& step = plan.commands[i];
      reference_bits += kCountCodes[step.count].length + reference_tail(codes, step).length;
    }

    if (fill_bits < reference_bits) {
      stream.put(0, 1);
      for (unsigned i = 0; i < plan.fill_count; ++i) {
        put_step(stream, plan.fills[i], codes.fill_row[plan.fills[i].colour]);
      }
    } else {
      stream.put(1, 1);
      for (unsigned i = 0; i < plan.command_count; ++i) {
        put_step(stream, plan.commands[i], reference_tail(codes, plan.commands[i]));
      }
    }
  }
  return stream.finish();
}

}  // namespace

std::uint32_t format15_encode(const std::uint8_t* source, std::uint8_t* destination,
                              std::uint32_t size, std::uint32_t max_size, std::uint32_t tile_rows) {
  if (source == nullptr) return 0;
  // The row count itself is compared, so no product can overflow.
  if (tile_rows > kFormat15MaxEncodeRows) return 0;
  // The picture is read from 512 bytes per tile row; a shorter source would
  // be read past its end.
  if (size < kTileRowBytes * tile_rows) return 0;
  const std::uint32_t rows = 8 * tile_rows;

  // One block of working memory: both attempts' streams, the picture and the
  // row plans.
  ByteBuffer work = allocate_bytes(2 * kOutputCapacity + kPictureCapacity + rows * sizeof(RowPlan));
  if (!work) return 0;
  std::uint8_t* const output = work.get();
  std::uint8_t* const first = output + kOutputCapacity;
  std::uint8_t* const picture = first + kOutputCapacity;
  RowPlan* const plans = reinterpret_cast<RowPlan*>(picture + kPictureCapacity);
  std::uninitialized_default_construct_n(plans, rows);

  // The source is read completely before anything is written, so it may be the
  // destination.
  tiles_to_picture(source, rows, picture);

  ColourTable by_runs, by_simulation;
  plan_picture(picture, rows, plans, by_runs, by_simulation);

  const std::uint32_t first_length = encode_picture(plans, rows, by_runs, first);
  if (first_length == 0) return 0;
  const std::uint8_t* stream = first;
  std::uint32_t length = first_length;
  if (by_simulation != by_runs) {
    // Equal tables give equal streams; otherwise the second attempt wins
    // unless the first is strictly shorter.
    const std::uint32_t second_length = encode_picture(plans, rows, by_simulation, output);
    if (second_length == 0) return 0;
    if (second_length <= first_length) {
      stream = output;
      length = second_length;
    }
  }

  if (destination != nullptr) std::memcpy(destination, stream, std::min(length, max_size));
  return length;
}

}  // namespace tilvex
