#include "transfer/catalogue.h"

namespace tilvex {

const std::array<StructureKind, kStructureCount> structure_kinds{};
const std::array<std::uint32_t, kStructureCount> structure_sizes{};
const std::array<PointerTableRange, 1> pointer_table_ranges{{{kPointerTableOffset, kStructureCount}}};
std::array<std::uint8_t, kStructureCount * 3> pointer_table{};
std::array<std::uint32_t, kStructureCount> structure_offsets{};
void layout_offsets(bool) {}
std::uint32_t structure_offset(std::uint32_t index) { return structure_offsets[index]; }

}  // namespace tilvex
