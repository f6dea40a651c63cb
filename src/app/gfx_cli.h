// The command line of tilvex-gfx: lists the structures, exports them as PNG
// pictures and imports edited pictures back. Parsing is separate from running
// so that both can be tested on their own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tilvex {

inline constexpr int kGfxExitOk = 0;
inline constexpr int kGfxExitFailed = 1;
inline constexpr int kGfxExitUsage = 2;

enum class GfxCommand { Help, Version, List, Export, Import };

struct GfxRequest {
  GfxCommand command = GfxCommand::Help;
  std::string cartridge;  // list: optional
  std::string graphics;   // export: read; import: written
  std::string dir;        // the pictures' folder
  std::string palette;    // empty: the grey ramp
  std::uint32_t row = 0;
  std::uint32_t columns = 16;
  bool json = false;
  bool quiet = false;
};

extern const char* const kGfxUsageText;

// Reads the arguments after the program name. Returns kGfxExitOk, or
// kGfxExitUsage with problem set to a one-line description.
int parse_gfx_arguments(int argc, const char* const* argv, GfxRequest* request,
                        std::string* problem);

// Carries out a parsed request; results and reports to out, problems to err.
int run_gfx_request(const GfxRequest& request, std::FILE* out, std::FILE* err);

// The whole program: argv[0] is the program name.
int gfx_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace tilvex
