// Checks that the cartridge file is the one the catalogue describes.
#pragma once

#include <cstdio>

namespace tilvex {

int identify_rom(std::FILE* stream);

}  // namespace tilvex
