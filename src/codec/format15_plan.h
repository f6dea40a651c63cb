// Planning of the format 15 encoder: the commands of every row, which do not
// depend on the colour table, and the two colour tables the two attempts use.
//
// Each row is planned twice, as the runs of a fill-only row and as the
// commands of a reference-mode row against the row above (changed as the
// decoder changes its row). The tables are chosen from counts over the
// picture: by runs, and by a simulated reference-mode pass.
#pragma once

#include <array>
#include <cstdint>

namespace tilvex::format15_detail {

inline constexpr int kWidth = 128;

using ColourTable = std::array<std::uint8_t, 7>;

enum Command : unsigned { KeepRuns = 0, Fill = 1, ExtendRun = 2, CutRun = 3 };

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

// Plans every row of a picture of `rows` rows of kWidth pixels into plans
// (one per row) and picks both colour tables.
void plan_picture(const std::uint8_t* picture, std::uint32_t rows, RowPlan* plans,
                  ColourTable& by_runs, ColourTable& by_simulation);

}  // namespace tilvex::format15_detail
