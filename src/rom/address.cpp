#include "rom/address.h"

namespace tilvex {

std::uint32_t snes_to_file(std::uint32_t, std::uint32_t, int) { return 0; }
std::uint32_t file_to_snes(std::uint32_t, std::uint32_t, int) { return 0; }

}  // namespace tilvex
