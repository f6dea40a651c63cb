#include "app/gfx_list.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/identify.h"
#include "common/resources.h"
#include "gfx/graphics.h"
#include "gfx/listing.h"
#include "transfer/catalogue.h"

namespace tilvex {

namespace {

// Identifies the open cartridge as tilvex does; *verdict gets its one line
// (without the line feed) whether it is accepted or not.
bool identify_cartridge(std::FILE* stream, std::uint32_t size, std::string* verdict) {
  FilePtr messages(std::tmpfile());
  const bool accepted = identify_rom(stream, size, messages ? messages.get() : stderr) == 1;
  if (messages && std::fseek(messages.get(), 0, SEEK_SET) == 0) {
    char line[256] = {};
    if (std::fgets(line, sizeof line, messages.get()) != nullptr) *verdict = line;
    if (!verdict->empty() && verdict->back() == '\n') verdict->pop_back();
  }
  return accepted;
}

// Loads and identifies the cartridge; false after saying why on err.
bool load_cartridge(const std::string& path, std::vector<std::uint8_t>* image, std::string* verdict,
                    std::FILE* err) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!file || error) {
    std::fprintf(err, "tilvex-gfx: cannot read %s: %s\n", path.c_str(),
                 !file ? std::strerror(errno) : error.message().c_str());
    return false;
  }
  if (size > 0xFFFFFFFFu) {
    std::fprintf(err, "tilvex-gfx: %s is too large to be the cartridge\n", path.c_str());
    return false;
  }
  if (!identify_cartridge(file.get(), static_cast<std::uint32_t>(size), verdict)) {
    std::fprintf(err, "tilvex-gfx: %s: %s\n", path.c_str(), verdict->c_str());
    return false;
  }
  image->resize(static_cast<std::size_t>(size));
  if (std::fseek(file.get(), 0, SEEK_SET) != 0 ||
      std::fread(image->data(), 1, image->size(), file.get()) != image->size()) {
    std::fprintf(err, "tilvex-gfx: cannot read %s\n", path.c_str());
    return false;
  }
  return true;
}

std::string json_string(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

void print_text(const std::vector<ListEntry>& entries, const FreeRegionUse* use, std::FILE* out) {
  std::fprintf(out, "num  kind       size    combined  file%s\n",
               use ? "        pointer   offset    stored" : "");
  for (const ListEntry& e : entries) {
    std::fprintf(out, "%03X  %-9s  0x%04X  0x%06X  %s", e.index, kind_name(e.kind), e.size,
                 e.offset, structure_file_name(e.index, "bin").c_str());
    if (use != nullptr) {
      std::fprintf(out, "  0x%06X  0x%06X  ", e.pointer, e.file_offset);
      if (e.stored_size != 0) {
        std::fprintf(out, "0x%X", e.stored_size);
      } else {
        std::fputs("-", out);
      }
    }
    std::fputc('\n', out);
  }
  std::fprintf(out, "total: %u structures, 0x%X bytes in the combined file\n",
               static_cast<unsigned>(entries.size()), kCombinedFileSize);
  if (use != nullptr) {
    std::fprintf(out,
                 "free region 0x%06X-0x%06X: %u structures in 0x%X bytes, data ends at 0x%06X, "
                 "0x%X bytes free\n",
                 use->start, use->end, use->structures, use->used, use->data_end,
                 use->end - use->data_end);
  }
}

void print_json(const std::vector<ListEntry>& entries, const FreeRegionUse* use,
                const std::string& cartridge, const std::string& verdict, std::FILE* out) {
  std::fputs("{\n  \"structures\": [\n", out);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ListEntry& e = entries[i];
    std::fprintf(out,
                 "    {\"number\": %u, \"hex\": \"%03X\", \"kind\": \"%s\", \"size\": %u, "
                 "\"offset\": %u, \"file\": \"%s\"",
                 e.index, e.index, kind_name(e.kind), e.size, e.offset,
                 structure_file_name(e.index, "bin").c_str());
    if (use != nullptr) {
      std::fprintf(out, ", \"pointer\": %u, \"file_offset\": %u, \"stored_size\": ", e.pointer,
                   e.file_offset);
      if (e.stored_size != 0) {
        std::fprintf(out, "%u", e.stored_size);
      } else {
        std::fputs("null", out);
      }
    }
    std::fprintf(out, "}%s\n", i + 1 < entries.size() ? "," : "");
  }
  std::fprintf(out, "  ],\n  \"count\": %u,\n  \"total_size\": %u",
               static_cast<unsigned>(entries.size()), kCombinedFileSize);
  if (use != nullptr) {
    std::fprintf(out,
                 ",\n  \"cartridge\": {\"file\": %s, \"identified\": %s, \"free_region\": "
                 "{\"start\": %u, \"end\": "
                 "%u, \"structures\": %u, \"used\": %u, \"data_end\": %u, \"free\": %u}}",
                 json_string(cartridge).c_str(), json_string(verdict).c_str(), use->start, use->end,
                 use->structures, use->used, use->data_end, use->end - use->data_end);
  }
  std::fputs("\n}\n", out);
}

}  // namespace

int run_gfx_list(const GfxRequest& request, std::FILE* out, std::FILE* err) {
  std::vector<ListEntry> entries = catalogue_listing();
  FreeRegionUse use;
  std::string verdict;
  const bool with_cartridge = !request.cartridge.empty();
  if (with_cartridge) {
    std::vector<std::uint8_t> image;
    if (!load_cartridge(request.cartridge, &image, &verdict, err)) return kGfxExitFailed;
    use = add_cartridge(image.data(), static_cast<std::uint32_t>(image.size()), &entries);
  }
  if (request.json) {
    print_json(entries, with_cartridge ? &use : nullptr, request.cartridge, verdict, out);
  } else {
    if (with_cartridge) std::fprintf(out, "%s\n", verdict.c_str());
    print_text(entries, with_cartridge ? &use : nullptr, out);
  }
  return std::fflush(out) == 0 ? kGfxExitOk : kGfxExitFailed;
}

}  // namespace tilvex
