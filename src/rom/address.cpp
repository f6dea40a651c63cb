// Map 32: the cartridge's 4 MiB of data appear in banks 0x40-0x7F and
// 0xC0-0xFF, one linear run with the bank as the high bits. A file offset is the
// low 22 bits of the address plus the copier header. Going back, offsets below
// 0x300000 (header excluded) are given bank 0x40-0x6F addresses, the rest bank
// 0xF0-0xFF addresses, as the game's pointer table expects.
#include "rom/address.h"

namespace tilvex {

namespace {

std::uint32_t header_size(int header) { return header != 0 ? kCopierHeaderSize : 0; }

}  // namespace

std::uint32_t snes_to_file(std::uint32_t address, std::uint32_t map_type, int header) {
  if (map_type != kMap32) return 0;
  return (address & 0x3FFFFF) + header_size(header);
}

std::uint32_t file_to_snes(std::uint32_t offset, std::uint32_t map_type, int header) {
  if (map_type != kMap32) return 0;
  const std::uint32_t linear = offset - header_size(header);
  return linear < 0x300000 ? (linear | 0x400000) : (linear | 0xC00000);
}

}  // namespace tilvex
