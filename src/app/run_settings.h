// The settings of one run, built by parse_arguments from the command line and
// kept by the front end; the layers below receive what they need of them as
// parameters.
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
  std::uint32_t insert_address = 0;  // start of insertion
  std::uint32_t cartridge_size = 0;  // size of the cartridge file as opened

  // The combined graphics file's name, or null for per-structure files.
  const char* graphics() const { return graphics_name ? graphics_name->c_str() : nullptr; }
};

}  // namespace tilvex
