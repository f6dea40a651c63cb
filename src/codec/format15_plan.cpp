// Planning of the format 15 encoder (see format15_plan.h).
#include "codec/format15_plan.h"

#include <cstring>

namespace tilvex::format15_detail {
namespace {

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

}  // namespace

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

}  // namespace tilvex::format15_detail
