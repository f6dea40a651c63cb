// tilvex-gfx: argument parsing, export and import. The listing lives in
// gfx_list.cpp.
#include "app/gfx_cli.h"

#include <cstring>
#include <new>
#include <vector>

#include "app/gfx_list.h"
#include "gfx/convert.h"
#include "gfx/palette.h"
#include "gfx/picture.h"

#ifndef TILVEX_VERSION
#define TILVEX_VERSION "unknown"
#endif

namespace tilvex {

const char* const kGfxUsageText =
    "usage: tilvex-gfx list [CARTRIDGE] [--json]\n"
    "       tilvex-gfx export GRAPHICS DIR [--palette FILE [--row N]] [--columns N] [-q]\n"
    "       tilvex-gfx import DIR GRAPHICS [--palette FILE [--row N]] [-q]\n"
    "       tilvex-gfx --help | --version\n"
    "\n"
    "list    one line per structure: number, kind, plain size, offset in the\n"
    "        combined graphics file and its own file name. With CARTRIDGE (which\n"
    "        must be the one tilvex accepts) also its pointer, file offset and\n"
    "        stored size there, and the use of the free region. --json prints\n"
    "        one JSON document instead.\n"
    "export  GRAPHICS is a combined graphics file (\"-\": standard input) or a\n"
    "        folder of GFX000.bin to GFX1D8.bin. Writes DIR/GFX000.png to\n"
    "        DIR/GFX1D8.png, indexed PNGs of 4 bits whose pixels are the colour\n"
    "        indices of the tiles, --columns tiles to a row (decimal 1 to 256,\n"
    "        default 16), and DIR/sheet.png with every structure and its number.\n"
    "import  reads every DIR/GFX%03X.png present back into GRAPHICS (a combined\n"
    "        file, replaced as a whole, or a folder of per-structure files). An\n"
    "        indexed PNG gives its indices; a grey, RGB or RGBA one is matched\n"
    "        against the palette (fully transparent pixels are colour 0). When\n"
    "        any picture is refused, nothing is written.\n"
    "\n"
    "--palette FILE  32-byte SNES colours, 512-byte SNES colour memory, JASC-PAL,\n"
    "                GIMP .gpl, Adobe .act, raw RGB triplets (.pal) or a PNG with\n"
    "                a palette; without it a grey ramp (0 black, 15 white)\n"
    "--row N         which 16 colours of a larger palette (decimal 0 to 15,\n"
    "                default 0)\n"
    "-q, --quiet     no report line on success\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 usage error.\n";

namespace {

int usage(std::string* problem, std::string text) {
  *problem = std::move(text);
  return kGfxExitUsage;
}

// A decimal number from low to high, digits only.
bool parse_decimal(const char* text, std::uint32_t low, std::uint32_t high, std::uint32_t* value) {
  if (*text == '\0' || std::strlen(text) > 9) return false;
  std::uint32_t v = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    v = v * 10 + static_cast<std::uint32_t>(*c - '0');
  }
  if (v < low || v > high) return false;
  *value = v;
  return true;
}

bool load_request_palette(const GfxRequest& request, Palette* palette, std::FILE* err) {
  *palette = grey_palette();
  if (request.palette.empty()) return true;
  std::string problem;
  if (load_palette(request.palette, request.row, palette, &problem)) return true;
  std::fprintf(err, "tilvex-gfx: %s\n", problem.c_str());
  return false;
}

int run_export(const GfxRequest& request, std::FILE* out, std::FILE* err) {
  Palette palette;
  if (!load_request_palette(request, &palette, err)) return kGfxExitFailed;
  ExportResult result;
  std::string problem;
  if (!export_pictures(request.graphics, request.dir, palette, request.columns, &result,
                       &problem)) {
    std::fprintf(err, "tilvex-gfx: %s\n", problem.c_str());
    return kGfxExitFailed;
  }
  if (!request.quiet) {
    std::fprintf(out, "exported %u structures to %s (GFX000.png to GFX1D8.png, %s)\n",
                 result.pictures, request.dir.c_str(), kSheetName);
  }
  return kGfxExitOk;
}

int run_import(const GfxRequest& request, std::FILE* out, std::FILE* err) {
  Palette palette;
  if (!load_request_palette(request, &palette, err)) return kGfxExitFailed;
  ImportResult result;
  std::vector<std::string> problems;
  if (!import_pictures(request.dir, request.graphics, palette, &result, &problems)) {
    for (const std::string& problem : problems)
      std::fprintf(err, "tilvex-gfx: %s\n", problem.c_str());
    std::fprintf(err, "tilvex-gfx: nothing written to %s\n", request.graphics.c_str());
    return kGfxExitFailed;
  }
  if (!request.quiet) {
    std::fprintf(out, "read %u pictures from %s: %u structure%s changed, %s %s\n", result.pictures,
                 request.dir.c_str(), result.changed, result.changed == 1 ? "" : "s",
                 request.graphics.c_str(), result.changed == 0 ? "left as it was" : "written");
  }
  return kGfxExitOk;
}

}  // namespace

int parse_gfx_arguments(int argc, const char* const* argv, GfxRequest* request,
                        std::string* problem) {
  *request = GfxRequest{};
  const char* palette = nullptr;
  const char* row = nullptr;
  const char* columns = nullptr;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      request->command = GfxCommand::Help;
      return kGfxExitOk;
    }
    if (arg == "--version" || arg == "-V") {
      request->command = GfxCommand::Version;
      return kGfxExitOk;
    }
    const char** slot = arg == "--palette"   ? &palette
                        : arg == "--row"     ? &row
                        : arg == "--columns" ? &columns
                                             : nullptr;
    if (slot != nullptr) {
      if (i + 1 >= argc) return usage(problem, arg + " needs a value");
      if (*slot != nullptr) return usage(problem, arg + " given twice");
      *slot = argv[++i];
    } else if (arg == "--json") {
      request->json = true;
    } else if (arg == "-q" || arg == "--quiet") {
      request->quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage(problem, "unknown option '" + arg + "'");
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty()) return usage(problem, "missing command");
  const std::string command = words[0];
  words.erase(words.begin());
  if (command == "list") {
    request->command = GfxCommand::List;
    if (words.size() > 1) return usage(problem, "list takes at most one CARTRIDGE");
    if (!words.empty()) request->cartridge = words[0];
  } else if (command == "export" || command == "import") {
    const bool exporting = command == "export";
    request->command = exporting ? GfxCommand::Export : GfxCommand::Import;
    if (words.size() != 2) {
      return usage(problem,
                   exporting ? "export needs GRAPHICS and DIR" : "import needs DIR and GRAPHICS");
    }
    request->graphics = words[exporting ? 0 : 1];
    request->dir = words[exporting ? 1 : 0];
    if (!exporting && request->graphics == "-")
      return usage(problem, "import writes GRAPHICS, so it cannot be standard output");
  } else {
    return usage(problem, "unknown command '" + command + "'");
  }

  const bool pictures = request->command != GfxCommand::List;
  if (request->json && pictures) return usage(problem, "--json applies to list only");
  if (palette != nullptr && !pictures)
    return usage(problem, "--palette applies to export and import");
  if (columns != nullptr && request->command != GfxCommand::Export)
    return usage(problem, "--columns applies to export only");
  if (row != nullptr && palette == nullptr) return usage(problem, "--row needs --palette");
  if (palette != nullptr) request->palette = palette;
  if (row != nullptr && !parse_decimal(row, 0, 15, &request->row))
    return usage(problem, "--row '" + std::string(row) + "' is not a decimal number from 0 to 15");
  if (columns != nullptr && !parse_decimal(columns, 1, kMostColumns, &request->columns)) {
    return usage(problem,
                 "--columns '" + std::string(columns) + "' is not a decimal number from 1 to 256");
  }
  return kGfxExitOk;
}

int run_gfx_request(const GfxRequest& request, std::FILE* out, std::FILE* err) {
  try {
    switch (request.command) {
      case GfxCommand::List:
        return run_gfx_list(request, out, err);
      case GfxCommand::Export:
        return run_export(request, out, err);
      case GfxCommand::Import:
        return run_import(request, out, err);
      case GfxCommand::Version:
        std::fprintf(out, "tilvex-gfx %s\n", TILVEX_VERSION);
        return kGfxExitOk;
      case GfxCommand::Help:
        break;
    }
  } catch (const std::bad_alloc&) {
    std::fprintf(err, "tilvex-gfx: out of memory\n");
    return kGfxExitFailed;
  }
  std::fputs(kGfxUsageText, out);
  return kGfxExitOk;
}

int gfx_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  GfxRequest request;
  std::string problem;
  const int status = parse_gfx_arguments(argc, argv, &request, &problem);
  if (status != kGfxExitOk) {
    std::fprintf(err, "tilvex-gfx: %s\n", problem.c_str());
    std::fputs("Run 'tilvex-gfx --help' for usage.\n", err);
    return status;
  }
  return run_gfx_request(request, out, err);
}

}  // namespace tilvex
