// Planning of the format 15 encoder: what every row costs, which does not
// depend on the colour table except through the codes of the fill colours,
// and the two colour tables the two attempts use.
//
// Each row is planned twice, as the runs of a fill-only row and as the
// commands of a reference-mode row against the row above (changed as the
// decoder changes its row). For each of the two a row keeps its bit count with
// every fill colour in the table and how many fills it makes of each colour,
// so pricing a row under a table takes a few operations however many runs it
// has. Only the reference-mode commands are stored: a fill-only row is written
// straight from its pixels.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "codec/format15_bits.h"

namespace tilvex::format15_detail {

inline constexpr int kWidth = 128;

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
inline constexpr std::array<Code, kWidth + 1> kCountCodes = make_count_codes();

// One reference-mode command, packed: its count code and command code (bits
// 0-16), their length (bits 17-21) and, for a fill, the colour whose index
// code follows (bits 22-26; kNoColour for the other commands).
using Step = std::uint32_t;
inline constexpr unsigned kNoColour = 16;
inline constexpr unsigned step_bits(Step step) { return step & 0x1FFFF; }
inline constexpr unsigned step_length(Step step) { return (step >> 17) & 31; }
inline constexpr unsigned step_colour(Step step) { return step >> 22; }

// What a row costs. The bit counts include the row mode bit and 3 index bits
// per fill, as if every fill colour were in the table; each fill whose colour
// is not costs 4 bits more.
struct RowCost {
  std::uint8_t fill_colours[16];       // fill-only runs, by colour
  std::uint8_t reference_colours[16];  // reference-mode fills, by colour
  std::uint16_t fill_bits;
  std::uint16_t reference_bits;
  std::uint32_t first_step;  // the reference-mode commands in the step array
  std::uint8_t step_count;   // 0 when the row can only be written fill-only
};

// 128 columns as two words, bit x for column x.
struct Mask {
  std::uint64_t low, high;
};

// The columns at which a run of the row ends: x where pixel x + 1 differs,
// and column 127.
Mask run_ends(const std::uint8_t* row);

// The highest set bit of m at or below column c (-1 to 127), or -1. Both
// words are looked at, so no branch depends on which word c lies in.
inline int highest_at_or_below(const Mask& m, int c) {
  const unsigned up = static_cast<unsigned>(c + 1);  // columns 0 to c, 0 to 128 of them
  const std::uint64_t low_keep = up >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << (up & 63)) - 1;
  const std::uint64_t high_keep = up <= 64 ? 0 : ~std::uint64_t{0} >> ((128 - up) & 63);
  const std::uint64_t high = m.high & high_keep, low = m.low & low_keep;
  const int in_high = 127 - std::countl_zero(high);
  const int in_low = 63 - std::countl_zero(low);  // -1 when low is 0
  return high != 0 ? in_high : in_low;
}

// The lowest set bit of m at or above column c (0 to 127), or 128.
inline int lowest_at_or_above(const Mask& m, int c) {
  if (c < 64) {
    const std::uint64_t low = m.low & (~std::uint64_t{0} << c);
    if (low != 0) return std::countr_zero(low);
    c = 64;
  }
  const std::uint64_t high = m.high & (~std::uint64_t{0} << (c - 64));
  return high != 0 ? 64 + std::countr_zero(high) : kWidth;
}

// The set bits of m in columns from to to (0 to 127; none when from > to).
inline unsigned count_between(const Mask& m, int from, int to) {
  if (from > to) return 0;
  auto window = [](int a, int b) {  // columns a to b of one word, 0 <= a <= b <= 63
    return (~std::uint64_t{0} << a) & (~std::uint64_t{0} >> (63 - b));
  };
  unsigned count = 0;
  if (from < 64) count += count_bits(m.low & window(from, to < 64 ? to : 63));
  if (to >= 64) count += count_bits(m.high & window(from < 64 ? 0 : from - 64, to - 64));
  return count;
}

// The run ends of a row in ascending order after a leading -1, so that run i
// (from 1 to the count returned) covers columns ends[i - 1] + 1 to ends[i].
// The last is column 127. Found from the mask with one bit operation each, so
// no walk over the runs waits on the one before.
struct RunList {
  std::int8_t ends[kWidth + 1];
  unsigned count;
};
inline void list_runs(const Mask& mask, RunList& runs) {
  unsigned count = 0;
  runs.ends[0] = -1;
  for (std::uint64_t word = mask.low; word != 0; word &= word - 1) {
    runs.ends[++count] = static_cast<std::int8_t>(std::countr_zero(word));
  }
  for (std::uint64_t word = mask.high; word != 0; word &= word - 1) {
    runs.ends[++count] = static_cast<std::int8_t>(64 + std::countr_zero(word));
  }
  runs.count = count;
}

// Plans every row of a picture of `rows` rows of kWidth pixels: one cost and
// one run list per row and the reference-mode commands into steps (room for
// kWidth per row), and picks both colour tables.
void plan_picture(const std::uint8_t* picture, std::uint32_t rows, RowCost* costs,
                  RunList* run_lists, Step* steps, ColourTable& by_runs,
                  ColourTable& by_simulation);

}  // namespace tilvex::format15_detail
