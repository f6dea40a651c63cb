// The front end: the banner, the command line, the order of a run and the
// ending report. parse_arguments does everything up to a loaded cartridge
// image (checking the arguments, refusing to use one file as both cartridge
// and graphics file, identifying the cartridge); run_program then runs
// extraction or insertion, saves the cartridge only after a successful
// insertion, closes the image and waits for a key unless the mode word asks
// it not to after a success.
#include "app/run.h"

#include <sys/stat.h>

#include <cstdio>
#include <limits>
#include <string>

#include "app/identify.h"
#include "app/wait.h"
#include "common/hex.h"
#include "common/resources.h"
#include "common/same_file.h"
#include "rom/image.h"
#include "transfer/catalogue.h"
#include "transfer/extract.h"
#include "transfer/insert.h"

namespace tilvex {

const char* const kBanner =
    "\n"
    "Quillmoor Decompression/Recompression Program Version 1.00\n"
    "Created for Corvane : Quillfen Reach (SNES)\n"
    "Written by the tilvex developers\n"
    "Project page: https://tilvex.example/\n"
    "\n";

namespace {

// Names longer than this keep their quotes.
constexpr std::size_t kMaxQuotedName = 260;

void print_usage(std::FILE* out) {
  std::fprintf(out, "Usage: tilvex 0 ROMFileName [FileToSaveAs]\n");
  std::fprintf(out, "       tilvex 1 PCHexAddressToInsert ROMFileName [FileToInsert]\n\n");
  std::fprintf(out, "Example: tilvex 0 qreach.smc AllGFX.bin\n");
  std::fprintf(out, "         tilvex 1 120200 qreach.smc AllGFX.bin\n");
}

std::uint32_t file_size_of(std::FILE* stream) {
  struct stat status;
  if (::fstat(::fileno(stream), &status) != 0 || status.st_size < 0) return 0;
  // A file too long for 32 bits is not the cartridge; keep it from wrapping
  // round to a size that looks right.
  if (static_cast<unsigned long long>(status.st_size) > std::numeric_limits<std::uint32_t>::max())
    return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(status.st_size);
}

}  // namespace

void print_ending_report(std::uint32_t ending, std::FILE* out) {
  if (free_region_start < ending && ending <= free_region_end) {
    std::fprintf(out, "Done!\nEnding Address: 0x%06X, Free Space: 0x%X bytes.\n", ending,
                 free_region_end - ending);
  } else {
    std::fprintf(out, "Done!\nEnding Address: 0x%06X.\n", ending);
  }
}

std::size_t strip_quotes(std::string* name) {
  if (name == nullptr || name->size() > kMaxQuotedName) return 0;
  std::string::size_type kept = 0;
  for (char c : *name) {
    if (c != '"') (*name)[kept++] = c;
  }
  name->resize(kept);
  return kept + 1;
}

int parse_arguments(int argc, char** argv, RunSettings* settings, std::FILE* out) {
  RunSettings& run = *settings;
  run = RunSettings{};
  std::fprintf(out, "%s", kBanner);
  if (argc < 3) {
    print_usage(out);
    return 0;
  }
  if (argc > 5) {
    std::fprintf(out, "Too many parameters!\n");
    return 0;
  }

  std::uint32_t mode = 0;
  if (scan_hex(argv[1], &mode) == HexScan::TooWide) {
    std::fprintf(out, "Invalid mode word: %s\n", argv[1]);
    return 0;
  }
  run.run_mode = mode;

  const bool insertion = (run.run_mode & kModeInsert) != 0;
  if (!insertion) {
    if (argc > 4) {
      std::fprintf(out, "Too many parameters!\n");
      return 0;
    }
    run.rom_name = argv[2];
    if (argc == 4) run.graphics_name = argv[3];
  } else {
    if (argc < 4) {
      std::fprintf(out, "Not enough parameters!\n");
      return 0;
    }
    std::uint32_t address = 0;
    if (scan_hex(argv[2], &address) != HexScan::Number) {
      // Without a number the insertion would start at the very beginning of
      // the cartridge file.
      std::fprintf(out, "Invalid insertion address: %s\n", argv[2]);
      return 0;
    }
    run.insert_address = address;
    run.rom_name = argv[3];
    if (argc == 5) run.graphics_name = argv[4];
  }

  strip_quotes(&run.rom_name);
  if (run.graphics_name) strip_quotes(&*run.graphics_name);

  if (run.graphics_name && (*run.graphics_name == run.rom_name ||
                            same_existing_file(run.graphics_name->c_str(), run.rom_name.c_str()))) {
    std::fprintf(out, "File names are identical... bad idea!\n");
    return 0;
  }

  const char* rom_name = run.rom_name.c_str();
  {
    FilePtr stream(std::fopen(rom_name, insertion ? "r+b" : "rb"));
    if (!stream) {
      std::fprintf(out, "Unable to open the ROM: %s\n", rom_name);
      return 0;
    }
    run.cartridge_size = file_size_of(stream.get());
    if (identify_rom(stream.get(), run.cartridge_size, out) == 0) return 0;
  }

  if (rom_open(rom_name, run.run_mode & kModeInsert, 0) == nullptr) {
    std::fprintf(out, "Could not open file %s\n", rom_name);
    return 0;
  }
  return 1;
}

int run_program(int argc, char** argv) {
  RunSettings settings;
  std::FILE* out = stdout;
  bool succeeded = false;
  if (parse_arguments(argc, argv, &settings, out) != 0) {
    if ((settings.run_mode & kModeInsert) == 0) {
      std::fprintf(out, "Decompressing...\n");
      std::fflush(out);
      succeeded = extract_all(settings.graphics(), settings.rom_name.c_str(), out) != 0;
      std::fprintf(out, succeeded ? "Done!\n" : "Failed!\n");
    } else {
      std::fprintf(out, "Recompressing...\n");
      std::fflush(out);
      const InsertResult inserted = insert_all({settings.graphics(), settings.insert_address,
                                                settings.cartridge_size, settings.run_mode},
                                               out);
      if (!inserted.inserted) {
        std::fprintf(out, "Failed!  No changes made to ROM.\n");
      } else if (rom_save(nullptr) == 0) {
        std::fprintf(out, "Unable to save the ROM: %s\n", settings.rom_name.c_str());
        std::fprintf(out, "Failed!  No changes made to ROM.\n");
      } else {
        print_ending_report(inserted.ending, out);
        succeeded = true;
      }
    }
    rom_close();
  }
  std::fflush(out);
  if (!succeeded || (settings.run_mode & kModeNoWait) == 0) wait_for_exit_key();
  std::fflush(stdout);
  return succeeded ? 0 : 1;
}

}  // namespace tilvex
