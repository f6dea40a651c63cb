// tilvex-demo: writes the generated demo cartridge, a stand-in for the real
// one that the tool accepts, so the tool can be tried and tested end to end.
//
//   tilvex-demo OUTPUT.smc [--size BYTES] [--seed N]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "demo/demo_cartridge.h"
#include "platform/console.h"
#include "rom/header.h"

namespace {

void print_usage() {
  std::printf(
      "Usage: tilvex-demo OUTPUT.smc [--size BYTES] [--seed N]\n"
      "  --size  cartridge file size, with its 0x200-byte copier header\n"
      "          (default 0x%X, at most 0x%X; bit 0x200 set, at least 0x200200)\n"
      "  --seed  number the generated graphics follow (default 1)\n",
      tilvex::kDemoDefaultSize, tilvex::kDemoLargestSize);
}

// A whole number in decimal, or hexadecimal with 0x in front.
bool parse_number(const char* text, std::uint32_t* value) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || parsed > 0xFFFFFFFFull) {
    return false;
  }
  *value = static_cast<std::uint32_t>(parsed);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  tilvex::platform::prepare_console_output();
  std::string output;
  std::uint32_t size = tilvex::kDemoDefaultSize;
  std::uint32_t seed = 1;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--size") == 0 && has_value) {
      if (!parse_number(argv[++i], &size)) {
        std::printf("Not a size: %s\n", argv[i]);
        return 2;
      }
    } else if (std::strcmp(argv[i], "--seed") == 0 && has_value) {
      if (!parse_number(argv[++i], &seed)) {
        std::printf("Not a seed: %s\n", argv[i]);
        return 2;
      }
    } else if (argv[i][0] != '-' && output.empty()) {
      output = argv[i];
    } else {
      print_usage();
      return 2;
    }
  }
  if (output.empty()) {
    print_usage();
    return 2;
  }
  // The tool accepts only a headered cartridge of at least 0x200200 bytes.
  if ((size & tilvex::kCopierHeaderBit) == 0 || size < tilvex::kMinimumCartridgeSize ||
      size > tilvex::kDemoLargestSize) {
    std::printf("The size 0x%X is not one the tool accepts: bit 0x200 set, 0x200200 to 0x%X.\n",
                size, tilvex::kDemoLargestSize);
    return 2;
  }
  if (!tilvex::write_demo_cartridge(output, size, seed)) {
    std::printf("Couldn't write the demo cartridge %s\n", output.c_str());
    return 1;
  }
  std::printf("Demo cartridge %s written: 0x%X bytes, seed %u.\n", output.c_str(), size, seed);
  return 0;
}
