// Helpers for the extraction, insertion and end-to-end tests: the demo
// cartridge on disk, the image store opened the way the front end opens it,
// and plain structures in and out of a combined file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace tilvex::testing {

inline constexpr std::uint32_t kDemoSeed = 1;

// The demo cartridge image of this size (built once per process and size).
const std::vector<std::uint8_t>& demo_cartridge(std::uint32_t size = kMinimumCartridgeSize);

// Opens path in the image store as the front end does (writable for
// insertion); false when rom_open fails.
bool open_image(const std::string& path, bool writable);

// The whole open image, as it stands in memory.
std::vector<std::uint8_t> image_bytes();

// The file offset that pointer-table entry index of image points at.
std::uint32_t pointer_target(const std::vector<std::uint8_t>& image, std::uint32_t index);
void set_pointer(std::vector<std::uint8_t>& image, std::uint32_t index, std::uint32_t offset);

// Structure index as it lies in a combined graphics file.
std::vector<std::uint8_t> combined_part(const std::vector<std::uint8_t>& combined,
                                        std::uint32_t index);
void set_combined_part(std::vector<std::uint8_t>& combined, std::uint32_t index,
                       const std::vector<std::uint8_t>& bytes);

// The demo cartridge's structures as a combined graphics file.
std::vector<std::uint8_t> demo_combined_file();

// Changes the working directory for the life of the object.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& directory);
  ~ScopedCwd();
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::string previous_;
};

std::string hex(std::uint32_t value, int digits);

}  // namespace tilvex::testing
