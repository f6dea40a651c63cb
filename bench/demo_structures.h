// The plain form of every structure of one kind in the demo cartridge (seed
// 1), as insertion hands them to the encoders: what the benchmarks that time
// the encoders on realistic graphics encode.
#pragma once

#include <cstdint>
#include <vector>

#include "demo/demo_cartridge.h"
#include "transfer/catalogue.h"

namespace tilvex::bench {

struct DemoStructures {
  std::vector<std::vector<std::uint8_t>> plain;
  std::int64_t bytes = 0;  // all of them together
};

inline DemoStructures demo_structures_of(StructureKind kind) {
  DemoStructures found;
  for (std::uint32_t index = 0; index < kStructureCount; ++index) {
    if (structure_kinds[index] != kind) continue;
    found.plain.push_back(demo_structure(index, 1));
    found.bytes += static_cast<std::int64_t>(found.plain.back().size());
  }
  return found;
}

}  // namespace tilvex::bench
