// A knob of the format 1 encoder's repeat search that never changes the
// stream, only how soon the search builds its wider position chains. The
// encoder's own setting suits every input; tests turn it to 0 so that every
// part of the search is used even on small inputs.
#pragma once

#include <cstdint>

#include "codec/result.h"

namespace tilvex {

// Encodes exactly as format1_encode does. A wider level of position chains is
// built once the walks since the last build have visited build_budget chain
// entries (up to 4 times more near the end of the source); 0 builds each level
// as soon as a search can use it.
EncodeResult format1_encode_tuned(const std::uint8_t* source, std::uint32_t size,
                                  std::uint8_t* destination, std::uint32_t capacity,
                                  std::uint32_t build_budget);

}  // namespace tilvex
