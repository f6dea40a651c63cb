// Map 32 address conversion: worked values, the round trips and the bank
// threshold.
#include "rom/address.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace tilvex {
namespace {

TEST(AddressMapping, WorkedValues) {
  struct Case {
    bool to_file;
    std::uint32_t input, result;
  };
  const Case cases[] = {
      {false, 0x000200, 0x400000}, {false, 0x120200, 0x520000},  {true, 0x520000, 0x120200},
      {false, 0x300200, 0xF00000}, {false, 0x3001FF, 0x6FFFFF},  {true, 0xC00000, 0x000200},
      {true, 0x000000, 0x000200},  {true, 0xFFF23456, 0x323656},  // bits 22 and up are ignored
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(c.to_file ? snes_to_file(c.input, kMap32, 1) : file_to_snes(c.input, kMap32, 1),
              c.result);
  }
  EXPECT_EQ(snes_to_file(0x520000, kMap32, 0), 0x120000u);
  EXPECT_EQ(file_to_snes(0x120000, kMap32, 0), 0x520000u);
  EXPECT_EQ(snes_to_file(0x520000, 33, 1), 0u);
  EXPECT_EQ(file_to_snes(0x120200, 0, 1), 0u);
}

TEST(AddressMapping, FileOffsetsRoundTripBelowFourMegabytes) {
  for (std::uint32_t offset = 0x200; offset < 0x400200; offset += 0x3F1) {
    const std::uint32_t address = file_to_snes(offset, kMap32, 1);
    ASSERT_EQ(snes_to_file(address, kMap32, 1), offset) << std::hex << offset;
    const std::uint32_t bank = address >> 16;
    ASSERT_TRUE(offset < 0x300200 ? (bank >= 0x40 && bank <= 0x6F)
                                  : (bank >= 0xF0 && bank <= 0xFF));
  }
  EXPECT_NE(snes_to_file(file_to_snes(0x400200, kMap32, 1), kMap32, 1), 0x400200u);
}

TEST(AddressMapping, AddressesComeBackOnlyFromTheirOwnBanks) {
  for (std::uint32_t bank = 0; bank < 0x100; ++bank) {
    const std::uint32_t address = bank << 16 | 0x8123;
    const std::uint32_t back = file_to_snes(snes_to_file(address, kMap32, 1), kMap32, 1);
    const bool home = (bank >= 0x40 && bank <= 0x6F) || bank >= 0xF0;
    EXPECT_EQ(back == address, home) << std::hex << bank;
    EXPECT_EQ(snes_to_file(back, kMap32, 1), snes_to_file(address, kMap32, 1));
  }
}

}  // namespace
}  // namespace tilvex
