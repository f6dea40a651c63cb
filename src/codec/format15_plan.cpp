// Planning of the format 15 encoder (see format15_plan.h).
//
// Why it is fast:
// - The run ends of a row come from a mask built with a few vector compares,
//   and are listed, priced and counted in one pass (one bit operation each,
//   no step waiting on the one before); the list is kept for the writer.
//   Counts per colour are added up in a vector register, so runs of the same
//   colour do not wait on each other's stores.
// - A row whose every run ends on a pixel that differs from the pixel above
//   makes the same fills in both modes: its reference-mode row costs 2 bits
//   more per run, can never win, and is neither walked nor stored. A row
//   equal to the row above is one keep command and the runs of that row.
// - Other rows walk the reference-mode commands once, against a copy of the
//   row above, counting as they go. Each command is found with a few
//   operations on run-end and equal-column masks, however many pixels it
//   passes: sprites over long runs of the row above cut them one short run
//   at a time.
// - The table by simulation falls back to its second counts only when fewer
//   than seven colours are ever filled, so those counts are taken only then,
//   as every pixel less the pixels the simulated walk skips.
#include "codec/format15_plan.h"

#include <bit>
#include <cstring>

#include "codec/format15_counts.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tilvex::format15_detail {

Mask run_ends(const std::uint8_t* row) {
  std::uint64_t words[2] = {0, 0};
#if defined(__SSE2__)
  for (int i = 0; i < 8; ++i) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16 * i));
    // The right neighbours; the last vector must not read past column 127.
    const __m128i right = i == 7
                              ? _mm_srli_si128(here, 1)
                              : _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16 * i + 1));
    const auto differ =
        static_cast<std::uint64_t>(~_mm_movemask_epi8(_mm_cmpeq_epi8(here, right)) & 0xFFFF);
    words[i >> 2] |= differ << (16 * (i & 3));
  }
#else
  for (int x = 0; x + 1 < kWidth; ++x) {
    if (row[x] != row[x + 1]) words[x >> 6] |= std::uint64_t{1} << (x & 63);
  }
#endif
  return Mask{words[0], words[1] | std::uint64_t{1} << 63};
}

namespace {

const std::uint8_t kZeroRow[kWidth] = {};

const std::uint8_t* row_above(const std::uint8_t* picture, std::uint32_t y) {
  return y == 0 ? kZeroRow : picture + (y - 1) * kWidth;
}

// The columns where R and U hold the same colour.
Mask equal_columns(const std::uint8_t* R, const std::uint8_t* U) {
  std::uint64_t words[2] = {0, 0};
#if defined(__SSE2__)
  for (int i = 0; i < 8; ++i) {
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(R + 16 * i));
    const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(U + 16 * i));
    words[i >> 2] |= static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(r, u)))
                     << (16 * (i & 3));
  }
#else
  for (int x = 0; x < kWidth; ++x) {
    if (R[x] == U[x]) words[x >> 6] |= std::uint64_t{1} << (x & 63);
  }
#endif
  return Mask{words[0], words[1]};
}

constexpr Step make_step(unsigned count, unsigned command, unsigned colour) {
  const Code code = kCountCodes[count];
  return (code.bits | field_bits(command, 2) << code.length) | (code.length + 2) << 17 |
         colour << 22;
}

// The fill steps of every count, without their colour.
constexpr std::array<Step, kWidth + 1> make_fill_steps() {
  std::array<Step, kWidth + 1> steps{};
  for (unsigned n = 1; n <= kWidth; ++n) steps[n] = make_step(n, Fill, 0);
  return steps;
}
constexpr std::array<Step, kWidth + 1> kFillSteps = make_fill_steps();

// The bits of a fill-only run by its length: the count code and 3 index bits.
constexpr std::array<std::uint8_t, kWidth + 1> make_fill_run_bits() {
  std::array<std::uint8_t, kWidth + 1> bits{};
  for (unsigned n = 1; n <= kWidth; ++n)
    bits[n] = static_cast<std::uint8_t>(kCountCodes[n].length + 3);
  return bits;
}
constexpr std::array<std::uint8_t, kWidth + 1> kFillRunBits = make_fill_run_bits();

// Lists the runs of R and prices its fill-only row. long_runs counts the runs
// of at least two pixels whose rightmost pixel differs from the pixel above.
// One pass over the run ends, one bit operation each; nothing in it waits on
// more than the run before. In rows of many short runs (kShortRuns) the pass
// only lists and counts them: every run costs 4 bits, and the few longer runs
// add the rest of their count codes, their lengths found from the mask.
template <bool kShortRuns>
void plan_fill_row(const std::uint8_t* R, const Mask& ends, const Mask& equal, RunList& runs,
                   RowCost& cost, ColourCounts& long_runs) {
  ColourCounts colours;
  unsigned count = 0;
  unsigned bits = 1;
  int previous = -1;
  runs.ends[0] = -1;
  for (int half = 0; half < 2; ++half) {
    for (std::uint64_t word = half == 0 ? ends.low : ends.high; word != 0; word &= word - 1) {
      const int c = 64 * half + std::countr_zero(word);
      runs.ends[++count] = static_cast<std::int8_t>(c);
      colours.add(R[c]);
      if constexpr (!kShortRuns) {
        bits += kFillRunBits[c - previous];
        previous = c;
      }
    }
  }
  // Runs of two pixels or more end where the column before is no run end.
  const Mask longer = {ends.low & ~(ends.low << 1 | 1),
                       ends.high & ~(ends.high << 1 | ends.low >> 63)};
  if constexpr (kShortRuns) {
    bits += 4 * count;
    for (int half = 0; half < 2; ++half) {
      for (std::uint64_t word = half == 0 ? longer.low : longer.high; word != 0; word &= word - 1) {
        const int c = 64 * half + std::countr_zero(word);
        bits += kCountCodes[c - highest_at_or_below(ends, c - 1)].length - 1;
      }
    }
  }
  for (int half = 0; half < 2; ++half) {
    const std::uint64_t counted = half == 0 ? longer.low & ~equal.low : longer.high & ~equal.high;
    for (std::uint64_t word = counted; word != 0; word &= word - 1) {
      long_runs.add(R[64 * half + std::countr_zero(word)]);
    }
  }
  runs.count = count;
  colours.store(cost.fill_colours);
  cost.fill_bits = static_cast<std::uint16_t>(bits);
}

bool has(const Mask& m, int x) { return ((x < 64 ? m.low : m.high) >> (x & 63)) & 1; }

void set(Mask& m, int x, bool on) {
  std::uint64_t& word = x < 64 ? m.low : m.high;
  const std::uint64_t bit = std::uint64_t{1} << (x & 63);
  word = on ? word | bit : word & ~bit;
}

// The commands of a reference-mode row R against F, a copy of the row above
// that is changed as the decoder changes its row. Returns the number stored.
//
// Each command is found from masks in a few bit operations, however many
// pixels it passes: ends and above_ends are the run ends of R and of the row
// above, equal the columns where R and F agree. A command changes F only at
// the new cursor, and what follows reads F only at and left of the cursor:
// equal is kept exact there with one bit per change, and the run ends of F
// left of the cursor stay those of the row above.
template <bool kFillsFromList>
unsigned plan_reference_row(const std::uint8_t* R, std::uint8_t* F, const RunList& runs,
                            const Mask& ends, const Mask& above_ends, Mask equal, RowCost& cost,
                            Step* steps) {
  unsigned count = 0;
  unsigned bits = 1;
  ColourCounts colours;
  auto add = [&](int n, unsigned command) {
    steps[count++] = make_step(static_cast<unsigned>(n), command, kNoColour);
    bits += kCountCodes[n].length + 2;
  };
  // The cursor is always a run end of R, ends[i] of the run list: keeping n
  // runs moves it n run ends left, every other command one. An extension
  // takes its end from the list; the fills find theirs from the mask, which
  // does not wait on a load.
  unsigned i = runs.count;
  int c = kWidth - 1;
  while (c >= 0) {
    const std::uint8_t v = R[c];
    if (!has(equal, c)) {
      const int s = kFillsFromList ? runs.ends[i - 1] : highest_at_or_below(ends, c - 1);
      --i;
      const Step step = kFillSteps[c - s];
      steps[count++] = step | static_cast<Step>(v) << 22;
      bits += step_length(step) + 3;
      colours.add(v);
      c = s;
      continue;
    }
    // Both rows hold v at c: keep runs, extend the run or cut it. k is the
    // first column left of c where the rows differ or the run of v ends.
    const Mask unequal = {~equal.low, ~equal.high};
    int k = highest_at_or_below(Mask{unequal.low | ends.low, unequal.high | ends.high}, c - 1);
    int n;
    if (k < 0) {
      n = 1;
    } else if (has(equal, k)) {
      // A new colour, the same in both rows: the runs both rows share reach
      // down to the first column j where they differ. One run more for each
      // run end of R between; where the pixel at j would join the run above
      // it in either row, that run is not kept.
      const int j = highest_at_or_below(unequal, k - 1);
      n = 2 + static_cast<int>(count_between(ends, j + 1, k - 1));
      if (j < 0) {
        k = -1;
      } else {
        const std::uint8_t w = R[j + 1];
        if ((static_cast<int>(F[j] == w) | static_cast<int>(R[j] == w)) != 0) {
          --n;
          k = lowest_at_or_above(ends, j + 1);
        } else {
          k = j;
        }
      }
    } else {
      n = static_cast<int>(F[k] != v) & static_cast<int>(R[k] != v);
    }

    if (n >= 1) {
      add(n, KeepRuns);
      i -= static_cast<unsigned>(n);
      c = k;
    } else if (R[k] == v) {
      // The run goes on further left in this row than in the row above.
      const std::uint8_t covered = F[k];
      const int e = runs.ends[--i];
      if (e >= 0) {
        F[e] = covered;
        set(equal, e, R[e] == covered);
      }
      add(k - e, ExtendRun);
      c = e;
    } else {
      // The run ends earlier in this row than in the row above.
      const int e = highest_at_or_below(above_ends, k - 1);
      F[k] = e >= 0 ? F[e] : 0;
      set(equal, k, R[k] == F[k]);
      add(k - e, CutRun);
      --i;
      c = k;
    }
  }
  colours.store(cost.reference_colours);
  cost.reference_bits = static_cast<std::uint16_t>(bits);
  return count;
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

// pick_table reads the second counts only when the first have fewer than
// seven colours above 0.
bool needs_second_counts(const std::uint32_t (&first)[16]) {
  unsigned colours = 0;
  for (const std::uint32_t count : first) colours += count != 0;
  return colours < 7;
}

}  // namespace

// By runs: first counts are the runs of each colour at least two pixels long
// whose rightmost pixel differs from the pixel above, second counts all runs.
//
// By simulation: first counts are the fills of each colour among the
// reference-mode commands; second counts come from a walk of each row from
// the right that counts the colour of every pixel it visits, moving past the
// whole run where the pixel equals the pixel above and one column otherwise.
void plan_picture(const std::uint8_t* picture, std::uint32_t rows, RowCost* costs,
                  RunList* run_lists, Step* steps, ColourTable& by_runs,
                  ColourTable& by_simulation) {
  std::uint32_t long_runs[16] = {}, run_counts[16] = {}, fills[16] = {};
  std::uint8_t ref[kWidth];
  RunList runs;
  std::uint32_t step_total = 0;
  Mask above_ends = run_ends(kZeroRow);
  for (std::uint32_t y = 0; y < rows; ++y) {
    const std::uint8_t* R = picture + y * kWidth;
    const std::uint8_t* U = row_above(picture, y);
    RowCost& cost = costs[y];
    std::memset(&cost, 0, sizeof cost);
    const Mask ends = run_ends(R);
    const Mask equal = equal_columns(R, U);
    RunList& runs = run_lists[y];
    ColourCounts row_long_runs;
    if (y > 0 && (equal.low & equal.high) == ~std::uint64_t{0}) {
      // The row above again, as often in flat areas: the same runs, none of
      // them long runs that differ from above, and in reference mode one
      // command that keeps them all.
      const RowCost& above = costs[y - 1];
      runs = run_lists[y - 1];
      std::memcpy(cost.fill_colours, above.fill_colours, sizeof cost.fill_colours);
      cost.fill_bits = above.fill_bits;
      cost.first_step = step_total;
      cost.step_count = 1;
      steps[step_total++] = make_step(runs.count, KeepRuns, kNoColour);
      cost.reference_bits = static_cast<std::uint16_t>(1 + kCountCodes[runs.count].length + 2);
    } else {
      const bool short_runs = count_bits(ends.low) + count_bits(ends.high) > kWidth / 2;
      if (short_runs) {
        plan_fill_row<true>(R, ends, equal, runs, cost, row_long_runs);
      } else {
        plan_fill_row<false>(R, ends, equal, runs, cost, row_long_runs);
      }
      if (((equal.low & ends.low) | (equal.high & ends.high)) == 0) {
        // The same fills as the fill-only row, each with its command code.
        std::memcpy(cost.reference_colours, cost.fill_colours, sizeof cost.fill_colours);
        cost.reference_bits = static_cast<std::uint16_t>(cost.fill_bits + 2 * runs.count);
      } else {
        std::memcpy(ref, U, kWidth);
        cost.first_step = step_total;
        // In rows of many short runs most commands are fills, which then
        // take their run ends from the list.
        cost.step_count = static_cast<std::uint8_t>(
            short_runs ? plan_reference_row<true>(R, ref, runs, ends, above_ends, equal, cost,
                                                  steps + step_total)
                       : plan_reference_row<false>(R, ref, runs, ends, above_ends, equal, cost,
                                                   steps + step_total));
        step_total += cost.step_count;
      }
    }
    above_ends = ends;
    std::uint8_t row_long[16];
    row_long_runs.store(row_long);
    for (unsigned v = 0; v < 16; ++v) {
      long_runs[v] += row_long[v];
      run_counts[v] += cost.fill_colours[v];
      fills[v] += cost.reference_colours[v];
    }
  }

  std::uint32_t visits[16] = {};
  if (needs_second_counts(fills)) {
    // Within each run the walk counts every pixel from the run's right end
    // down to the first that equals the pixel above, then leaves the run. So
    // it counts every pixel, less the pixels left of the rightmost equal one
    // in each run that has one. The pixels are counted one by one in rows of
    // many runs, by run in the others, in four sets, so no count waits on the
    // one before.
    std::uint32_t pixels[4][16] = {};
    std::uint32_t skipped[16] = {};
    for (std::uint32_t y = 0; y < rows; ++y) {
      const std::uint8_t* R = picture + y * kWidth;
      const Mask ends = run_ends(R);
      if (std::popcount(ends.low) + std::popcount(ends.high) > 32) {
        for (int x = 0; x < kWidth; x += 4) {
          ++pixels[0][R[x]];
          ++pixels[1][R[x + 1]];
          ++pixels[2][R[x + 2]];
          ++pixels[3][R[x + 3]];
        }
      } else {
        list_runs(ends, runs);
        for (unsigned i = 1; i <= runs.count; ++i) {
          pixels[i & 3][R[runs.ends[i]]] +=
              static_cast<std::uint32_t>(runs.ends[i] - runs.ends[i - 1]);
        }
      }
      const Mask equal = equal_columns(R, row_above(picture, y));
      for (int c = highest_at_or_below(equal, kWidth - 1); c >= 0;) {
        const int s = highest_at_or_below(ends, c - 1);
        skipped[R[c]] += static_cast<std::uint32_t>(c - s - 1);
        c = highest_at_or_below(equal, s);
      }
    }
    for (unsigned v = 0; v < 16; ++v) {
      visits[v] = pixels[0][v] + pixels[1][v] + pixels[2][v] + pixels[3][v] - skipped[v];
    }
  }
  by_runs = pick_table(long_runs, run_counts);
  by_simulation = pick_table(fills, visits);
}

}  // namespace tilvex::format15_detail
