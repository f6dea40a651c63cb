// The built-in catalogue: totals per kind, the size limits, and the layout of
// the combined graphics file.
#include "transfer/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

namespace tilvex {
namespace {

TEST(Catalogue, KindsAndSizes) {
  std::uint32_t per_kind[4] = {};
  std::uint64_t total = 0;
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    const std::uint32_t size = structure_sizes[i];
    ASSERT_LT(structure_kinds[i], 4) << i;
    ++per_kind[structure_kinds[i]];
    total += size;
    EXPECT_EQ(size % 32, 0u) << i;
    EXPECT_TRUE(size >= 0x300 && size <= 0x8000) << i;
    if (structure_kinds[i] == KindBitmap) {
      EXPECT_TRUE(size >= 0x2000 && size % 0x800 == 0) << i;
    }
    if (structure_kinds[i] == KindFormat15) {
      EXPECT_TRUE(size % 512 == 0 && size >= 0x400 && size <= 0x2000) << i;
    }
  }
  EXPECT_EQ(per_kind[KindPlain], 12u);
  EXPECT_EQ(per_kind[KindBitmap], 9u);
  EXPECT_EQ(per_kind[KindFormat1], 261u);
  EXPECT_EQ(per_kind[KindFormat15], 191u);
  EXPECT_EQ(total, 0x180640u);

  // A few run boundaries, where an off-by-one in the runs would show.
  struct Entry {
    std::uint32_t index;
    StructureKind kind;
    std::uint32_t size;
  };
  const Entry entries[] = {{0x000, KindPlain, 0x8000},    {0x004, KindBitmap, 0x4000},
                           {0x0C3, KindFormat1, 0x340},   {0x11D, KindFormat1, 0x800},
                           {0x11E, KindFormat15, 0x1000}, {0x194, KindFormat15, 0x600},
                           {0x1D8, KindFormat15, 0x1000}};
  for (const Entry& e : entries) {
    EXPECT_EQ(structure_kinds[e.index], e.kind) << e.index;
    EXPECT_EQ(structure_sizes[e.index], e.size) << e.index;
  }
}

TEST(Catalogue, PointerTableAndFreeRegion) {
  ASSERT_EQ(pointer_table_ranges.size(), 1u);
  EXPECT_EQ(pointer_table_ranges[0].offset, 0x37B1Fu);
  EXPECT_EQ(pointer_table_ranges[0].count, 473u);
  EXPECT_EQ(pointer_table_ranges[0].offset + 3 * 0x1D8, 0x380A7u);
  EXPECT_EQ(free_region_end - free_region_start, 0xD9380u);
}

TEST(Catalogue, CombinedLayoutPacksThreeGroups) {
  struct Expected {
    std::uint32_t index, offset;
  };
  const Expected expected[] = {{0x000, 0},       {0x001, 0x8000},   {0x087, 0xACC00},
                               {0x11E, 0xAD400}, {0x088, 0x119600}, {0x11D, 0x17FE40}};
  for (const Expected& e : expected) EXPECT_EQ(combined_offset(e.index), e.offset) << e.index;
  EXPECT_EQ(combined_offset(0x11D) + structure_sizes[0x11D], kCombinedFileSize);

  // Every structure gets its own stretch: sorted by offset, each one starts
  // where the one before ends.
  std::vector<std::uint32_t> order(kStructureCount);
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [](std::uint32_t a, std::uint32_t b) {
    return combined_offset(a) < combined_offset(b);
  });
  std::uint32_t end = 0;
  for (std::uint32_t index : order) {
    ASSERT_EQ(combined_offset(index), end) << index;
    end += structure_sizes[index];
  }
  EXPECT_EQ(end, kCombinedFileSize);
  EXPECT_EQ(combined_offset(kStructureCount), 0u);
}

}  // namespace
}  // namespace tilvex
