#include <gtest/gtest.h>

#include "common/types.h"

TEST(Build, LinksTheLibrary) { EXPECT_EQ(tilvex::kStructureCount, 473u); }
