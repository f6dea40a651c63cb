// Insertion: every plain structure back into the cartridge image, packed from
// the start address on, with the pointer table rewritten.
#pragma once

namespace tilvex {

int insert_all(bool combined);

}  // namespace tilvex
