#include "gfx/graphics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/resources.h"
#include "gfx/parallel.h"
#include "platform/files.h"
#include "transfer/catalogue.h"

namespace tilvex {

namespace fs = std::filesystem;

namespace {

std::string hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::array<std::uint32_t, kStructureCount> combined_offsets() {
  std::array<std::uint32_t, kStructureCount> offsets{};
  for (std::uint32_t i = 0; i < kStructureCount; ++i) offsets[i] = combined_offset(i);
  return offsets;
}

std::string structure_file_name(std::uint32_t index, const char* extension) {
  char name[32];
  std::snprintf(name, sizeof name, "GFX%03X.%s", index, extension);
  return name;
}

bool read_whole_file(const std::string& path, std::size_t limit, std::vector<std::uint8_t>* bytes,
                     std::string* problem) {
  const bool standard_input = path == "-";
  FilePtr owned(standard_input ? nullptr : std::fopen(path.c_str(), "rb"));
  std::FILE* file = standard_input ? stdin : owned.get();
  if (file == nullptr) {
    *problem = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  bytes->clear();
  std::uint8_t chunk[65536];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
    if (got == 0) break;
    if (bytes->size() + got > limit) {
      *problem = path + " is larger than " + hex(limit) + " bytes";
      return false;
    }
    bytes->insert(bytes->end(), chunk, chunk + got);
  }
  if (std::ferror(file)) {
    *problem = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool replace_file(const std::string& path, const std::uint8_t* data, std::size_t size,
                  std::string* problem) {
  platform::FileReplacement replacement;
  std::string reason;
  if (!replacement.begin(path.c_str(), &reason) || !replacement.write(data, size, &reason) ||
      !replacement.commit(&reason)) {
    *problem = "cannot write " + path + ": " + reason;
    return false;
  }
  return true;
}

bool load_graphics(const std::string& path, bool require_all, Graphics* graphics,
                   std::string* problem) {
  graphics->offsets = combined_offsets();
  graphics->present.fill(false);
  std::error_code error;
  graphics->folder = path != "-" && fs::is_directory(path, error);
  if (!graphics->folder) {
    if (!read_whole_file(path, kCombinedFileSize, &graphics->bytes, problem)) return false;
    if (graphics->bytes.size() != kCombinedFileSize) {
      *problem = path + " has " + hex(graphics->bytes.size()) +
                 " bytes; a combined graphics file has " + hex(kCombinedFileSize);
      return false;
    }
    graphics->present.fill(true);
    return true;
  }

  graphics->bytes.assign(kCombinedFileSize, 0);
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    const std::string name = (fs::path(path) / structure_file_name(i, "bin")).string();
    const std::uint32_t expected = structure_sizes[i];
    std::string why;
    if (!fs::exists(name, error)) {
      if (!require_all) continue;
      *problem = name + " is missing";
      return false;
    }
    const bool read = read_whole_file(name, expected, &bytes, &why);
    if (!read || bytes.size() != expected) {
      if (!require_all) continue;
      char text[64];
      std::snprintf(text, sizeof text, " bytes; structure 0x%03X has ", i);
      *problem = read ? name + " has " + hex(bytes.size()) + text + hex(expected) : why;
      return false;
    }
    std::memcpy(graphics->bytes.data() + graphics->offsets[i], bytes.data(), expected);
    graphics->present[i] = true;
  }
  return true;
}

bool store_graphics(const std::string& path, const Graphics& graphics,
                    const std::array<bool, kStructureCount>& which, std::string* problem) {
  if (!graphics.folder)
    return replace_file(path, graphics.bytes.data(), graphics.bytes.size(), problem);
  std::vector<std::uint32_t> marked;
  for (std::uint32_t i = 0; i < kStructureCount; ++i)
    if (which[i]) marked.push_back(i);
  return for_each_item(
      static_cast<std::uint32_t>(marked.size()),
      [&](std::uint32_t item, std::string* why) {
        const std::uint32_t i = marked[item];
        const std::string name = (fs::path(path) / structure_file_name(i, "bin")).string();
        return replace_file(name, graphics.bytes.data() + graphics.offsets[i], structure_sizes[i],
                            why);
      },
      problem);
}

}  // namespace tilvex
