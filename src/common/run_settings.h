// The settings of one run, written by the front end from the command line and
// read by the front end, extraction and insertion.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/types.h"

namespace tilvex {

struct RunSettings {
  std::string rom_name;                      // cartridge file, quotes removed
  std::optional<std::string> graphics_name;  // combined graphics file; absent: per-structure files
  RunMode run_mode = 0;
  std::uint32_t insert_address = 0;  // start of insertion; afterwards the ending address
  std::uint32_t cartridge_size = 0;  // size of the cartridge file as opened
};

// The one run of this process.
extern RunSettings run_settings;

// The combined graphics file's name for messages and opening; "" when absent.
inline const char* graphics_file_name() {
  return run_settings.graphics_name ? run_settings.graphics_name->c_str() : "";
}

}  // namespace tilvex
