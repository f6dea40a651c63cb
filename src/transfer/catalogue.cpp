// The catalogue is written down as runs of consecutively numbered structures
// that share a kind and a plain size; the two 473-entry tables are expanded
// from the runs at compile time, and the static_asserts below reject a run
// table that has lost or gained a structure.
//
// The combined graphics file does not keep index order: it holds structures
// 0x000-0x087, then 0x11E-0x1D8, then 0x088-0x11D, back to back.
#include "transfer/catalogue.h"

namespace tilvex {

namespace {

struct Run {
  std::uint32_t first;  // first and last structure of the run
  std::uint32_t last;
  StructureKind kind;
  std::uint32_t size;  // plain size of each structure in bytes
};

constexpr StructureKind P = KindPlain;
constexpr StructureKind B = KindBitmap;
constexpr StructureKind F1 = KindFormat1;
constexpr StructureKind F15 = KindFormat15;

constexpr Run kRuns[] = {
    {0x000, 0x000, P, 0x8000},   {0x001, 0x002, P, 0x4000},   {0x003, 0x003, B, 0x8000},
    {0x004, 0x004, B, 0x4000},   {0x005, 0x005, P, 0x4000},   {0x006, 0x009, B, 0x8000},
    {0x00A, 0x00A, B, 0x6000},   {0x00B, 0x00B, B, 0x2000},   {0x00C, 0x010, P, 0x1000},
    {0x011, 0x011, P, 0x1800},   {0x012, 0x012, P, 0x400},    {0x013, 0x013, P, 0x1000},
    {0x014, 0x014, B, 0x4000},   {0x015, 0x024, F1, 0x1000},  {0x025, 0x037, F1, 0x800},
    {0x038, 0x03B, F1, 0x1000},  {0x03C, 0x040, F1, 0x800},   {0x041, 0x044, F15, 0x1000},
    {0x045, 0x05E, F1, 0x1000},  {0x05F, 0x060, F1, 0x2000},  {0x061, 0x061, F1, 0x1000},
    {0x062, 0x073, F1, 0x800},   {0x074, 0x075, F1, 0x1000},  {0x076, 0x07D, F1, 0x800},
    {0x07E, 0x082, F1, 0x1000},  {0x083, 0x090, F1, 0x800},   {0x091, 0x0A9, F1, 0x1000},
    {0x0AA, 0x0AA, F1, 0x400},   {0x0AB, 0x0AE, F1, 0x800},   {0x0AF, 0x0B0, F1, 0x1000},
    {0x0B1, 0x0BC, F1, 0x800},   {0x0BD, 0x0BD, F1, 0x1000},  {0x0BE, 0x0BF, F1, 0x800},
    {0x0C0, 0x0C2, F1, 0x300},   {0x0C3, 0x0C3, F1, 0x340},   {0x0C4, 0x0C5, F1, 0x800},
    {0x0C6, 0x0C7, F1, 0x1000},  {0x0C8, 0x0D1, F1, 0x800},   {0x0D2, 0x0EC, F1, 0x1000},
    {0x0ED, 0x0ED, F1, 0x400},   {0x0EE, 0x0F0, F1, 0x1000},  {0x0F1, 0x10E, F1, 0x800},
    {0x10F, 0x10F, F1, 0x400},   {0x110, 0x11D, F1, 0x800},   {0x11E, 0x12F, F15, 0x1000},
    {0x130, 0x130, F15, 0x400},  {0x131, 0x137, F15, 0x1000}, {0x138, 0x18F, F15, 0x400},
    {0x190, 0x190, F15, 0x2000}, {0x191, 0x193, F15, 0x800},  {0x194, 0x194, F15, 0x600},
    {0x195, 0x1A4, F15, 0x1000}, {0x1A5, 0x1A9, F15, 0x2000}, {0x1AA, 0x1AE, F15, 0x1000},
    {0x1AF, 0x1BE, F15, 0x800},  {0x1BF, 0x1C6, F15, 0x1000}, {0x1C7, 0x1CE, F15, 0x400},
    {0x1CF, 0x1D2, F15, 0x1000}, {0x1D3, 0x1D6, F15, 0x800},  {0x1D7, 0x1D8, F15, 0x1000},
};

constexpr bool runs_are_contiguous() {
  std::uint32_t next = 0;
  for (const Run& run : kRuns) {
    if (run.first != next || run.last < run.first) return false;
    next = run.last + 1;
  }
  return next == kStructureCount;
}
static_assert(runs_are_contiguous(), "the runs must cover every structure once, in order");

constexpr std::array<StructureKind, kStructureCount> expand_kinds() {
  std::array<StructureKind, kStructureCount> kinds{};
  for (const Run& run : kRuns) {
    for (std::uint32_t i = run.first; i <= run.last; ++i) kinds[i] = run.kind;
  }
  return kinds;
}

constexpr std::array<std::uint32_t, kStructureCount> expand_sizes() {
  std::array<std::uint32_t, kStructureCount> sizes{};
  for (const Run& run : kRuns) {
    for (std::uint32_t i = run.first; i <= run.last; ++i) sizes[i] = run.size;
  }
  return sizes;
}

constexpr auto kKinds = expand_kinds();
constexpr auto kSizes = expand_sizes();

constexpr std::uint32_t size_total() {
  std::uint32_t total = 0;
  for (std::uint32_t size : kSizes) total += size;
  return total;
}
static_assert(size_total() == kCombinedFileSize, "the plain sizes must fill the combined file");

// Structure ranges of the combined file, in file order (first, one past last).
constexpr std::uint32_t kGroups[][2] = {{0x000, 0x088}, {0x11E, 0x1D9}, {0x088, 0x11E}};

// Each structure's offset in the combined file: the sizes of all structures
// before it in file order.
constexpr std::array<std::uint32_t, kStructureCount> layout_offsets() {
  std::array<std::uint32_t, kStructureCount> offsets{};
  std::uint32_t offset = 0;
  for (const auto& group : kGroups) {
    for (std::uint32_t index = group[0]; index < group[1]; ++index) {
      offsets[index] = offset;
      offset += kSizes[index];
    }
  }
  return offsets;
}

constexpr auto kCombinedOffsets = layout_offsets();

}  // namespace

const std::array<StructureKind, kStructureCount> structure_kinds = kKinds;
const std::array<std::uint32_t, kStructureCount> structure_sizes = kSizes;
const std::array<PointerTableRange, 1> pointer_table_ranges{
    {{kPointerTableOffset, kStructureCount}}};

std::uint32_t combined_offset(std::uint32_t index) {
  return index < kStructureCount ? kCombinedOffsets[index] : 0;
}

}  // namespace tilvex
