// tilvex-demo: writes the generated demo cartridge, a stand-in for the real
// one that the tool accepts, so the tool can be tried and tested end to end.
//
//   tilvex-demo [-f] [-q] [--size HEX] [--seed HEX] OUTPUT
//
// OUTPUT is never replaced without -f; '-' writes standard output.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex.h"
#include "common/version.h"
#include "demo/demo_cartridge.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"
#include "rom/header.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void print_usage(std::FILE* out) {
  std::fprintf(out,
               "usage: tilvex-demo [-f] [-q] [--size HEX] [--seed HEX] OUTPUT\n"
               "\n"
               "Writes a synthetic demo cartridge that tilvex accepts: all 473 structures\n"
               "stored with generated graphics, so the tool can be tried without a real one.\n"
               "\n"
               "  --size HEX     cartridge file size with its 0x200-byte copier header:\n"
               "                 bit 0x200 set, 0x200200 to 0x%X (default 0x%X)\n"
               "  --seed HEX     number the generated graphics follow (default 1)\n"
               "  -f, --force    replace OUTPUT if it exists\n"
               "  -q, --quiet    no report line\n"
               "  -h, --help     this text\n"
               "  -V, --version  the version\n"
               "\n"
               "Numbers are hexadecimal, with or without 0x. OUTPUT '-' is standard output.\n"
               "Exit status: 0 written, 1 failed, 2 usage error.\n",
               tilvex::kDemoLargestSize, tilvex::kDemoDefaultSize);
}

int usage_error(const std::string& problem) {
  std::fprintf(stderr, "tilvex-demo: %s\nRun 'tilvex-demo --help' for usage.\n", problem.c_str());
  return kExitUsage;
}

int failure(const std::string& problem) {
  std::fprintf(stderr, "tilvex-demo: %s\n", problem.c_str());
  return kExitFailed;
}

// Writes OUTPUT through the shared replacement, so it is never left half
// written; an existing name (even a dangling symbolic link) is refused unless
// force is set.
int write_output(const std::string& path, const std::vector<std::uint8_t>& image, bool force) {
  if (path == "-") {
    if (std::fwrite(image.data(), 1, image.size(), stdout) != image.size() ||
        std::fflush(stdout) != 0) {
      return failure(std::string("cannot write standard output: ") + std::strerror(errno));
    }
    return kExitOk;
  }
  std::error_code error;
  if (!force && std::filesystem::symlink_status(path, error).type() !=
                    std::filesystem::file_type::not_found) {
    return failure(path + " exists; use -f to replace it");
  }
  tilvex::platform::FileReplacement replacement;
  std::string why;
  if (!replacement.begin(path.c_str(), &why) ||
      !replacement.write(image.data(), image.size(), &why) || !replacement.commit(&why)) {
    return failure("cannot write " + path + ": " + why);
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  tilvex::platform::prepare_console_output();
  tilvex::platform::ignore_file_size_signal();  // a full disk is a failed write, not a kill
  std::string output;
  bool have_output = false, force = false, quiet = false, options_done = false;
  std::uint32_t size = tilvex::kDemoDefaultSize;
  std::uint32_t seed = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_done && arg.size() > 1 && arg[0] == '-') {
      std::string name = arg, value;
      bool has_value = false;
      if (const auto equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
        name = arg.substr(0, equals);
        value = arg.substr(equals + 1);
        has_value = true;
      }
      if (name == "--") {
        options_done = true;
      } else if (name == "-h" || name == "--help") {
        print_usage(stdout);
        return kExitOk;
      } else if (name == "-V" || name == "--version") {
        tilvex::print_version(stdout, "tilvex-demo");
        return kExitOk;
      } else if ((name == "-f" || name == "--force") && !has_value) {
        force = true;
      } else if ((name == "-q" || name == "--quiet") && !has_value) {
        quiet = true;
      } else if (name == "--size" || name == "--seed") {
        if (!has_value) {
          if (i + 1 >= argc) return usage_error(name + " needs a value");
          value = argv[++i];
        }
        if (!tilvex::parse_hex_argument(value, name == "--size" ? &size : &seed)) {
          return usage_error(name + " '" + value +
                             "' is not a hexadecimal number of at most 32 bits");
        }
      } else {
        return usage_error("unknown option '" + arg + "'");
      }
    } else if (!have_output) {
      output = arg;
      have_output = true;
    } else {
      return usage_error("only one OUTPUT is written");
    }
  }
  if (!have_output) return usage_error("missing OUTPUT");
  if (output.empty()) return usage_error("OUTPUT is an empty name");
  // The tool accepts only a headered cartridge of at least 0x200200 bytes.
  if ((size & tilvex::kCopierHeaderBit) == 0 || size < tilvex::kMinimumCartridgeSize ||
      size > tilvex::kDemoLargestSize) {
    char text[120];
    std::snprintf(text, sizeof text,
                  "--size 0x%X is not one the tool accepts: bit 0x200 set, 0x%X to 0x%X", size,
                  tilvex::kMinimumCartridgeSize, tilvex::kDemoLargestSize);
    return usage_error(text);
  }
  const std::vector<std::uint8_t> image = tilvex::build_demo_cartridge(size, seed);
  if (image.empty()) return failure("not enough memory to build the demo cartridge");
  const int status = write_output(output, image, force);
  if (status == kExitOk && !quiet) {
    // The report must not mix with a cartridge written to standard output.
    std::fprintf(output == "-" ? stderr : stdout,
                 "Demo cartridge %s written: 0x%X bytes, seed 0x%X.\n", output.c_str(), size, seed);
  }
  return status;
}
