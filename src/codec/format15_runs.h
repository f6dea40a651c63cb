// Where the runs of a format 15 row start, for the decoder.
#pragma once

#include <bit>
#include <cstdint>

#include "codec/format15_bits.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tilvex::format15_detail {

// Where the runs of the row being decoded start: bit x is set when pixel x
// differs from pixel x - 1, and bit 0 always. The left neighbour of the run at
// c is then the highest set bit at or below c, minus one, found in constant
// time however long the run. Commands read the row only at and left of the
// cursor, and change it there only at the new cursor, so the bits are kept
// exact up to the cursor with one bit per change; a cut that moves the cursor
// right, over pixels the fills have set, has them scanned again.
class RunStarts {
 public:
  void scan(const std::uint8_t* row) {
    std::uint64_t words[2] = {0, 0};
#if defined(__SSE2__)
    for (int i = 0; i < 8; ++i) {
      const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16 * i));
      const __m128i left =
          i == 0 ? _mm_slli_si128(here, 1)
                 : _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16 * i - 1));
      const auto differ =
          static_cast<std::uint64_t>(~_mm_movemask_epi8(_mm_cmpeq_epi8(here, left)) & 0xFFFF);
      words[i >> 2] |= differ << (16 * (i & 3));
    }
#else
    for (int x = 1; x < kRowWidth; ++x) {
      if (row[x] != row[x - 1]) words[x >> 6] |= std::uint64_t{1} << (x & 63);
    }
#endif
    low_ = words[0] | 1;
    high_ = words[1];
  }

  // Pixel x (0 to 127) changed; bits left of x stay as they were. Pixel
  // x - 1 is read even for x = 0, so there must be a byte before the row.
  // Both words are written, with no reference to one of them, so that they
  // stay in registers.
  void changed(const std::uint8_t* row, int x) {
    const auto u = static_cast<unsigned>(x);
    const std::uint64_t bit = std::uint64_t{1} << (u & 63);
    const std::uint64_t in_low = u < 64 ? bit : 0;
    const std::uint64_t in_high = u < 64 ? 0 : bit;
    const std::uint64_t differ = row[x] != row[x - 1] ? ~std::uint64_t{0} : 0;
    low_ = ((low_ & ~in_low) | (in_low & differ)) | 1;
    high_ = (high_ & ~in_high) | (in_high & differ);
  }

  // The first column left of c (0 to 127) whose pixel differs from pixel c, or -1.
  // Both words are looked at and the answer picked at the end, which leaves
  // the compiler free to do without a branch on run lengths.
  int left_neighbour(int c) const {
    const auto x = static_cast<unsigned>(c);
    const std::uint64_t all = ~std::uint64_t{0};
    const std::uint64_t high = high_ & (x >= 64 ? all >> (127 - x) : 0);
    const std::uint64_t low = low_ & (x >= 64 ? all : all >> ((63 - x) & 63));
    const int from_high = 126 - std::countl_zero(high);
    const int from_low = 62 - std::countl_zero(low);  // low holds bit 0
    return high != 0 ? from_high : from_low;
  }

  // Where n keep steps from c (0 to 127) end, each moving to the left
  // neighbour of the run: one left of the n-th run start at or below c. -2
  // when a step would start left of column 0. Short keeps, nearly all of
  // them, step run by run; longer ones count set bits, so that no keep costs
  // more than a few steps.
  int keep(int c, unsigned n) const {
    if (n <= 4) {
      for (; n > 0; --n) {
        if (c < 0) return -2;
        c = left_neighbour(c);
      }
      return c;
    }
    std::uint64_t high = 0;
    std::uint64_t low = low_;
    if (c >= 64) {
      high = high_ & (~std::uint64_t{0} >> (127 - c));
    } else {
      low &= ~std::uint64_t{0} >> (63 - c);
    }
    const auto in_high = count_bits(high);
    if (n <= in_high) return 64 + nth_highest(high, n) - 1;
    n -= in_high;
    if (n > count_bits(low)) return -2;
    return nth_highest(low, n) - 1;
  }

 private:
  static constexpr int kRowWidth = 128;

  // The position of the n-th highest set bit of m (n from 1 to popcount(m)).
  static int nth_highest(std::uint64_t m, unsigned n) {
    int top = 63;
    if (n == 1) return top - std::countl_zero(m);
    for (int half = 32; half >= 1; half >>= 1) {
      // The window is the 2 * half bits up to top; look at its upper half.
      const std::uint64_t upper = (m >> (top - half + 1)) & ((std::uint64_t{1} << half) - 1);
      const auto count = count_bits(upper);
      if (n > count) {
        n -= count;
        top -= half;
      }
    }
    return top;
  }

  std::uint64_t low_ = 1;
  std::uint64_t high_ = 0;
};

}  // namespace tilvex::format15_detail
