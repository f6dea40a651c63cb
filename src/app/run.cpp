// The front end: the banner, the command line, the order of a run and the
// ending report. parse_arguments does everything up to a loaded cartridge
// image (checking the arguments, refusing to use one file as both cartridge
// and graphics file, identifying the cartridge); run_program then runs
// extraction or insertion, saves the cartridge only after a successful
// insertion, closes the image and waits for a key unless the mode word asks
// it not to after a success.
//
// The cartridge is opened once: identification reads that open file, the
// image store loads it and a save replaces exactly it, so a file swapped in
// under the name meanwhile is never changed. An insertion holds an advisory
// lock on it until the image is closed. Where the system says why something
// failed, its words follow the message as one line on the error stream.
#include "app/run.h"

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>
#include <utility>

#include "app/identify.h"
#include "app/wait.h"
#include "common/hex.h"
#include "common/resources.h"
#include "platform/files.h"
#include "platform/process.h"
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

std::uint32_t cartridge_size_of(const platform::OpenFile& file) {
  // A file too long for 32 bits is not the cartridge; keep it from wrapping
  // round to a size that looks right.
  if (file.size() > std::numeric_limits<std::uint32_t>::max())
    return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(file.size());
}

// Control characters would break the one line; they show as '?'.
std::string one_line(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return line;
}

// One reason line of the error stream: "tilvex: NAME: REASON".
std::string reason_line(const std::string& name, const std::string& reason) {
  return "tilvex: " + one_line(name) + ": " +
         (reason.empty() ? "unknown error" : one_line(reason)) + "\n";
}

void print_problems(std::FILE* out, std::FILE* errors, const FileProblems& problems) {
  for (const FileProblem& problem : problems)
    print_reason(out, errors, problem.name, problem.reason);
}

// Threads for the structure work: TILVEX_THREADS when it is a number from 1
// to 16 (1 works through the structures one by one); otherwise one per core
// for insertion, whose encoders do most of its work, and one for extraction,
// where decoding every structure takes a few milliseconds: less than
// starting threads and handing the structures between them costs. The
// output is the same for every count.
unsigned thread_count(bool encoding) {
  const char* setting = std::getenv("TILVEX_THREADS");
  if (setting != nullptr && *setting != '\0') {
    char* end = nullptr;
    const unsigned long wanted = std::strtoul(setting, &end, 10);
    if (*end == '\0' && wanted >= 1 && wanted <= 16) return static_cast<unsigned>(wanted);
  }
  if (!encoding) return 1;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : (cores > 16 ? 16 : cores);
}

}  // namespace

void print_reason(std::FILE* out, std::FILE* errors, const std::string& name,
                  const std::string& reason) {
  std::fflush(out);
  std::fputs(reason_line(name, reason).c_str(), errors);
  std::fflush(errors);
}

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

int parse_arguments(int argc, char** argv, RunSettings* settings, std::FILE* out,
                    std::FILE* errors) {
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

  if (run.graphics_name &&
      (*run.graphics_name == run.rom_name ||
       platform::same_file(run.graphics_name->c_str(), run.rom_name.c_str()))) {
    std::fprintf(out, "File names are identical... bad idea!\n");
    return 0;
  }

  // Opened without waiting (a FIFO would block) and only as a regular file;
  // an insertion locks it before anything else, so a second one at the same
  // time is refused here.
  const char* rom_name = run.rom_name.c_str();
  const auto access = insertion ? platform::FileAccess::ReadWrite : platform::FileAccess::ReadOnly;
  platform::OpenFile cartridge;
  std::string reason;
  FilePtr stream;
  if (!platform::open_existing_file(rom_name, access, &cartridge, &reason) ||
      (insertion && !platform::lock_file(cartridge, &reason)) ||
      !(stream = FilePtr(platform::stream_of(cartridge, &reason)))) {
    std::fprintf(out, "Unable to open the ROM: %s\n", rom_name);
    print_reason(out, errors, rom_name, reason);
    return 0;
  }
  run.cartridge_size = cartridge_size_of(cartridge);
  const int identified = identify_rom(stream.get(), run.cartridge_size, out);
  stream.reset();
  if (identified == 0) return 0;

  if (rom_open_file(std::move(cartridge), run.run_mode & kModeInsert, 0, &reason) == nullptr) {
    std::fprintf(out, "Could not open file %s\n", rom_name);
    print_reason(out, errors, rom_name, reason);
    return 0;
  }
  // Extraction reads a mapped view of the cartridge; should another program
  // cut the file short meanwhile, the run ends with this line, not a crash.
  // Nothing is lost then: the cartridge is only read, and an old combined
  // file is replaced only at the end of a whole extraction.
  platform::exit_on_mapped_file_fault(
      reason_line(rom_name, "the file was cut short while it was being read"));
  return 1;
}

int run_program(int argc, char** argv) {
  RunSettings settings;
  std::FILE* out = stdout;
  std::FILE* errors = stderr;
  bool succeeded = false;
  if (parse_arguments(argc, argv, &settings, out, errors) != 0) {
    if ((settings.run_mode & kModeInsert) == 0) {
      std::fprintf(out, "Decompressing...\n");
      std::fflush(out);
      ExtractReport report;
      const bool extracted = extract_all(settings.graphics(), settings.rom_name.c_str(), out,
                                         &report, thread_count(false)) != 0;
      print_problems(out, errors, report.problems);
      std::fprintf(out, extracted ? "Done!\n" : "Failed!\n");
      // A per-structure file that could not be written is missing data: the
      // run says Done! as always, but does not count as a success.
      succeeded = extracted && report.skipped == 0;
    } else {
      std::fprintf(out, "Recompressing...\n");
      std::fflush(out);
      const InsertResult inserted =
          insert_all({settings.graphics(), settings.insert_address, settings.cartridge_size,
                      settings.run_mode, thread_count(true)},
                     out);
      print_problems(out, errors, inserted.problems);
      std::string reason;
      if (!inserted.inserted) {
        std::fprintf(out, "Failed!  No changes made to ROM.\n");
      } else if (rom_save(nullptr, &reason) == 0) {
        std::fprintf(out, "Unable to save the ROM: %s\n", settings.rom_name.c_str());
        print_reason(out, errors, settings.rom_name, reason);
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
