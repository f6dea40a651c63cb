// Checks that the cartridge file is the one the catalogue describes.
#pragma once

#include <cstdint>
#include <cstdio>

namespace tilvex {

// Checks the open cartridge stream, whose size the caller measured, and writes
// exactly one line to messages either way: the reason it is refused, or the
// version it is. 1 when the cartridge is accepted, 0 otherwise. Moves the
// stream's position and leaves it open.
int identify_rom(std::FILE* stream, std::uint32_t size, std::FILE* messages);

}  // namespace tilvex
