#include "rom/image.h"

namespace tilvex {

RomHandle rom_handle() { return nullptr; }
const std::uint8_t* rom_open(const char*, std::uint32_t, std::uint32_t) { return nullptr; }
bool rom_close() { return false; }
int rom_save(const char*) { return 0; }
std::uint32_t rom_size() { return 0; }
int rom_seek(RomHandle, std::int32_t, int) { return 0; }
std::uint32_t rom_read(void*, std::uint32_t, std::uint32_t, RomHandle) { return 0; }
std::uint32_t rom_write(const void*, std::uint32_t, std::uint32_t, RomHandle) { return 0; }
int rom_read_at(void*, std::uint32_t, std::uint32_t, int) { return 0; }
int rom_write_at(const void*, std::uint32_t, std::uint32_t, int) { return 0; }
int rom_set_fill(std::uint32_t) { return 1; }
std::uint8_t rom_fill_byte() { return 0; }
bool rom_erase(std::uint32_t, std::uint32_t) { return false; }

}  // namespace tilvex
