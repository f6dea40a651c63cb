#include "transfer_support.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "demo/demo_cartridge.h"
#include "rom/address.h"
#include "rom/image.h"
#include "transfer/catalogue.h"

namespace tilvex::testing {

const std::vector<std::uint8_t>& demo_cartridge(std::uint32_t size) {
  static std::map<std::uint32_t, std::vector<std::uint8_t>> built;
  auto found = built.find(size);
  if (found == built.end()) {
    std::vector<std::uint8_t> image = build_demo_cartridge(size, kDemoSeed);
    if (image.empty()) throw std::runtime_error("the demo cartridge cannot be built");
    found = built.emplace(size, std::move(image)).first;
  }
  return found->second;
}

bool open_image(const std::string& path, bool writable) {
  return rom_open(path.c_str(), writable ? 1u : 0u, 0) != nullptr;
}

std::vector<std::uint8_t> image_bytes() {
  std::vector<std::uint8_t> bytes(rom_size());
  if (!bytes.empty()) rom_read_at(bytes.data(), rom_size(), 0, 1);
  return bytes;
}

std::uint32_t pointer_target(const std::vector<std::uint8_t>& image, std::uint32_t index) {
  const std::uint8_t* entry = image.data() + kPointerTableOffset + 3 * index;
  return snes_to_file(entry[0] | entry[1] << 8 | entry[2] << 16, kMap32, 1);
}

void set_pointer(std::vector<std::uint8_t>& image, std::uint32_t index, std::uint32_t offset) {
  const std::uint32_t address = file_to_snes(offset, kMap32, 1);
  std::uint8_t* entry = image.data() + kPointerTableOffset + 3 * index;
  entry[0] = static_cast<std::uint8_t>(address);
  entry[1] = static_cast<std::uint8_t>(address >> 8);
  entry[2] = static_cast<std::uint8_t>(address >> 16);
}

std::vector<std::uint8_t> combined_part(const std::vector<std::uint8_t>& combined,
                                        std::uint32_t index) {
  const std::uint32_t offset = combined_offset(index);
  return std::vector<std::uint8_t>(combined.begin() + offset,
                                   combined.begin() + offset + structure_sizes[index]);
}

void set_combined_part(std::vector<std::uint8_t>& combined, std::uint32_t index,
                       const std::vector<std::uint8_t>& bytes) {
  std::copy(bytes.begin(), bytes.end(), combined.begin() + combined_offset(index));
}

std::vector<std::uint8_t> demo_combined_file() {
  std::vector<std::uint8_t> combined(kCombinedFileSize);
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    set_combined_part(combined, i, demo_structure(i, kDemoSeed));
  }
  return combined;
}

ScopedCwd::ScopedCwd(const std::string& directory)
    : previous_(std::filesystem::current_path().string()) {
  std::filesystem::current_path(directory);
}

ScopedCwd::~ScopedCwd() {
  std::error_code error;
  std::filesystem::current_path(previous_, error);
}

std::string hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

}  // namespace tilvex::testing
