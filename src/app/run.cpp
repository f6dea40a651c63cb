// The front end: the banner, the command line, the order of a run and the
// ending report. parse_arguments does everything up to a loaded cartridge
// image (checking the arguments, refusing to use one file as both cartridge
// and graphics file, identifying the cartridge); run_program then runs
// extraction or insertion, saves the cartridge only after a successful
// insertion, closes the image and waits for a key unless the mode word asks
// it not to after a success.
#include "app/run.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <limits>
#include <string>

#include "app/identify.h"
#include "app/wait.h"
#include "common/resources.h"
#include "common/run_settings.h"
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

void print_usage() {
  std::printf("Usage: tilvex 0 ROMFileName [FileToSaveAs]\n");
  std::printf("       tilvex 1 PCHexAddressToInsert ROMFileName [FileToInsert]\n\n");
  std::printf("Example: tilvex 0 qreach.smc AllGFX.bin\n");
  std::printf("         tilvex 1 120200 qreach.smc AllGFX.bin\n");
}

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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

void print_ending_report(std::uint32_t ending) {
  if (free_region_start < ending && ending <= free_region_end) {
    std::printf("Done!\nEnding Address: 0x%06X, Free Space: 0x%X bytes.\n", ending,
                free_region_end - ending);
  } else {
    std::printf("Done!\nEnding Address: 0x%06X.\n", ending);
  }
}

HexScan scan_hex(const char* text, std::uint32_t* value) {
  if (text == nullptr) return HexScan::NoNumber;
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // "0x" introduces the digits only when a digit follows; otherwise the "0"
  // itself is the number.
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_digit_value(p[2]) >= 0) p += 2;
  if (hex_digit_value(*p) < 0) return HexScan::NoNumber;
  std::uint64_t number = 0;
  bool too_wide = false;
  for (int digit; (digit = hex_digit_value(*p)) >= 0; ++p) {
    number = number * 16 + static_cast<std::uint64_t>(digit);
    if (number > std::numeric_limits<std::uint32_t>::max()) {
      too_wide = true;
      number = 0;  // keep scanning to the end of the digits, no overflow
    }
  }
  if (too_wide) return HexScan::TooWide;
  std::uint32_t result = static_cast<std::uint32_t>(number);
  *value = negative ? 0u - result : result;
  return HexScan::Number;
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

int parse_arguments(int argc, char** argv) {
  run_settings = RunSettings{};
  std::printf("%s", kBanner);
  if (argc < 3) {
    print_usage();
    return 0;
  }
  if (argc > 5) {
    std::printf("Too many parameters!\n");
    return 0;
  }

  std::uint32_t mode = 0;
  if (scan_hex(argv[1], &mode) == HexScan::TooWide) {
    std::printf("Invalid mode word: %s\n", argv[1]);
    return 0;
  }
  run_settings.run_mode = mode;

  const bool insertion = (run_settings.run_mode & kModeInsert) != 0;
  if (!insertion) {
    if (argc > 4) {
      std::printf("Too many parameters!\n");
      return 0;
    }
    run_settings.rom_name = argv[2];
    if (argc == 4) run_settings.graphics_name = argv[3];
  } else {
    if (argc < 4) {
      std::printf("Not enough parameters!\n");
      return 0;
    }
    std::uint32_t address = 0;
    if (scan_hex(argv[2], &address) != HexScan::Number) {
      // Without a number the insertion would start at the very beginning of
      // the cartridge file.
      std::printf("Invalid insertion address: %s\n", argv[2]);
      return 0;
    }
    run_settings.insert_address = address;
    run_settings.rom_name = argv[3];
    if (argc == 5) run_settings.graphics_name = argv[4];
  }

  strip_quotes(&run_settings.rom_name);
  if (run_settings.graphics_name) strip_quotes(&*run_settings.graphics_name);

  if (run_settings.graphics_name &&
      (*run_settings.graphics_name == run_settings.rom_name ||
       same_existing_file(run_settings.graphics_name->c_str(), run_settings.rom_name.c_str()))) {
    std::printf("File names are identical... bad idea!\n");
    return 0;
  }

  const char* rom_name = run_settings.rom_name.c_str();
  {
    FilePtr stream(std::fopen(rom_name, insertion ? "r+b" : "rb"));
    if (!stream) {
      std::printf("Unable to open the ROM: %s\n", rom_name);
      return 0;
    }
    run_settings.cartridge_size = file_size_of(stream.get());
    if (identify_rom(stream.get()) == 0) return 0;
  }

  if (rom_open(rom_name, (run_settings.run_mode & kModeInsert) | kRomFixedSize | kRomLoadWhole,
               0) == nullptr) {
    std::printf("Could not open file %s\n", rom_name);
    return 0;
  }
  return 1;
}

int run_program(int argc, char** argv) {
  bool succeeded = false;
  if (parse_arguments(argc, argv) != 0) {
    const bool combined = run_settings.graphics_name.has_value();
    if ((run_settings.run_mode & kModeInsert) == 0) {
      std::printf("Decompressing...\n");
      std::fflush(stdout);
      succeeded = extract_all(combined) != 0;
      std::printf(succeeded ? "Done!\n" : "Failed!\n");
    } else {
      std::printf("Recompressing...\n");
      std::fflush(stdout);
      if (insert_all(combined) == 0) {
        std::printf("Failed!  No changes made to ROM.\n");
      } else if (rom_save(nullptr) == 0) {
        std::printf("Unable to save the ROM: %s\n", run_settings.rom_name.c_str());
        std::printf("Failed!  No changes made to ROM.\n");
      } else {
        print_ending_report(run_settings.insert_address);
        succeeded = true;
      }
    }
    rom_close();
  }
  if (!succeeded || (run_settings.run_mode & kModeNoWait) == 0) wait_for_exit_key();
  std::fflush(stdout);
  return succeeded ? 0 : 1;
}

}  // namespace tilvex
