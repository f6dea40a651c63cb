// Where the cartridge file keeps what identification checks: the copier
// header in front, and three fields of the cartridge's internal header, which
// lies at cartridge offset 0x7FC0, that is at file offset 0x81C0 behind the
// copier header. Identification reads these fields, the demo cartridge writes
// them and the tests build cartridges from them.
#pragma once

#include <cstdint>

#include "rom/address.h"

namespace tilvex {

// The size of a headered file leaves a remainder of 512 to 1023 when divided
// by 1024: bit 0x200 of the size is set.
inline constexpr std::uint32_t kCopierHeaderBit = kCopierHeaderSize;

// The smallest cartridge file accepted: 2 MiB of cartridge and the copier
// header. It holds every field below.
inline constexpr std::uint32_t kMinimumCartridgeSize = 0x200000 + kCopierHeaderSize;

inline constexpr std::uint32_t kInternalHeaderOffset = 0x7FC0 + kCopierHeaderSize;  // 0x81C0

// The game title, padded with spaces; the file holds no terminator.
inline constexpr std::uint32_t kTitleOffset = kInternalHeaderOffset;
inline constexpr char kExpectedTitle[] = "QUILLFEN REACH       ";
inline constexpr std::uint32_t kTitleLength = sizeof kExpectedTitle - 1;  // 21

inline constexpr std::uint32_t kCountryOffset = kInternalHeaderOffset + 0x19;  // 0x81D9
inline constexpr std::uint8_t kCountryUs = 1;

// The minor version: 0 for 1.0, 1 for 1.1.
inline constexpr std::uint32_t kVersionOffset = kInternalHeaderOffset + 0x1B;  // 0x81DB
inline constexpr std::uint8_t kNewestVersion = 1;

static_assert(kTitleOffset == 0x81C0 && kCountryOffset == 0x81D9 && kVersionOffset == 0x81DB);
static_assert(kVersionOffset < kMinimumCartridgeSize);

}  // namespace tilvex
