// Cartridge identification: the catalogue is valid for one cartridge only, the
// US release, version 1.0 or 1.1, with a 512-byte copier header. The check
// looks at the file size and three fields of the cartridge's internal header
// (rom/header.h), stopping at the first that is wrong.
#include "app/identify.h"

#include <cstring>

#include "rom/header.h"

namespace tilvex {

namespace {

// One byte at a file offset; the fallback, which fails the check it feeds,
// when the byte cannot be read.
std::uint8_t byte_at(std::FILE* stream, long offset, std::uint8_t fallback) {
  unsigned char byte = fallback;
  if (std::fseek(stream, offset, SEEK_SET) != 0 || std::fread(&byte, 1, 1, stream) != 1)
    return fallback;
  return byte;
}

}  // namespace

int identify_rom(std::FILE* stream, std::uint32_t size, std::FILE* messages) {
  if ((size & kCopierHeaderBit) == 0) {
    std::fprintf(messages, "This ROM does not have a 0x200 byte copier header.\n");
    return 0;
  }
  if (size < kMinimumCartridgeSize) {
    std::fprintf(messages, "This ROM is too small to be the correct ROM.\n");
    return 0;
  }

  // An unreadable title stays all zero bytes and so never matches.
  char title[kTitleLength + 1] = {};
  if (std::fseek(stream, kTitleOffset, SEEK_SET) == 0) {
    std::size_t got = std::fread(title, 1, kTitleLength, stream);
    if (got != kTitleLength) title[0] = '\0';
  }
  if (std::memcmp(title, kExpectedTitle, kTitleLength) != 0) {
    std::fprintf(messages, "The ROM either has the wrong game title, or is in the wrong format.\n");
    return 0;
  }

  if (byte_at(stream, kCountryOffset, 0) != kCountryUs) {
    std::fprintf(messages, "This ROM is from the wrong country.  Only the US ROM is supported.\n");
    return 0;
  }

  const std::uint8_t version = byte_at(stream, kVersionOffset, 0xFF);
  if (version > kNewestVersion) {
    std::fprintf(messages,
                 "This ROM is the wrong version.  Only versions 1.0 and 1.1 are supported.\n");
    return 0;
  }

  std::fprintf(messages, "Quillfen Reach : Version 1.%i (US)\n", static_cast<int>(version));
  return 1;
}

}  // namespace tilvex
