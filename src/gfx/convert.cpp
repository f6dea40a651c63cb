#include "gfx/convert.h"

#include <atomic>
#include <cstring>
#include <filesystem>

#include "gfx/graphics.h"
#include "gfx/parallel.h"
#include "gfx/png_io.h"
#include "gfx/sheet.h"
#include "transfer/catalogue.h"

namespace tilvex {

namespace fs = std::filesystem;

namespace {

// A PNG is small; this bounds what a stray huge file can cost.
constexpr std::size_t kMostPngBytes = std::size_t{64} << 20;

struct ExportJob {
  const std::string* dir;
  const Palette* palette;
  std::uint32_t columns;
  const std::uint8_t* const* structures;
  std::atomic<std::uint32_t> written{0};
};

// Item 0 is the sheet, the largest, so it starts first; item n is structure
// n - 1.
bool export_one(ExportJob* job, std::uint32_t item, std::string* problem) {
  std::string why;
  std::vector<std::uint8_t> png;
  if (item == 0) {
    const std::string name = (fs::path(*job->dir) / kSheetName).string();
    const Sheet sheet = render_sheet(job->structures, structure_sizes.data(), kStructureCount,
                                     job->columns, *job->palette);
    if (!encode_indexed_png(sheet.pixels.data(), sheet.width, sheet.height, 8, sheet.palette.data(),
                            kSheetColours, &png, &why)) {
      *problem = name + ": " + why;
      return false;
    }
    return replace_file(name, png.data(), png.size(), problem);
  }
  const std::uint32_t i = item - 1;
  const std::string name = (fs::path(*job->dir) / structure_file_name(i, "png")).string();
  const TileGrid grid = tile_grid(structure_sizes[i], job->columns);
  std::vector<std::uint8_t> pixels(std::size_t{grid.width} * grid.height);
  tiles_to_indices(job->structures[i], grid, pixels.data());
  if (!encode_indexed_png(pixels.data(), grid.width, grid.height, 4, job->palette->data(),
                          kPaletteColours, &png, &why)) {
    *problem = name + ": " + why;
    return false;
  }
  if (!replace_file(name, png.data(), png.size(), problem)) return false;
  ++job->written;
  return true;
}

}  // namespace

bool export_pictures(const std::string& graphics_path, const std::string& dir,
                     const Palette& palette, std::uint32_t columns, ExportResult* result,
                     std::string* problem) {
  Graphics graphics;
  if (!load_graphics(graphics_path, true, &graphics, problem)) return false;
  std::error_code error;
  fs::create_directories(dir, error);
  if (error || !fs::is_directory(dir, error)) {
    *problem = "cannot create folder " + dir + (error ? ": " + error.message() : "");
    return false;
  }
  const std::uint8_t* structures[kStructureCount];
  for (std::uint32_t i = 0; i < kStructureCount; ++i)
    structures[i] = graphics.bytes.data() + graphics.offsets[i];

  ExportJob job;
  job.dir = &dir;
  job.palette = &palette;
  job.columns = columns;
  job.structures = structures;
  const bool done = for_each_item(
      kStructureCount + 1,
      [&job](std::uint32_t item, std::string* why) { return export_one(&job, item, why); },
      problem);
  result->pictures = job.written;
  return done;
}

bool import_pictures(const std::string& dir, const std::string& graphics_path,
                     const Palette& palette, ImportResult* result,
                     std::vector<std::string>* problems) {
  std::error_code error;
  if (!fs::is_directory(dir, error)) {
    problems->push_back(dir + " is not a folder");
    return false;
  }
  Graphics graphics;
  std::string problem;
  if (!load_graphics(graphics_path, false, &graphics, &problem)) {
    problems->push_back(problem);
    return false;
  }

  std::array<bool, kStructureCount> changed{};
  std::vector<std::uint8_t> file;
  std::vector<std::uint8_t> tiles;
  PngPicture picture;
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    const std::string name = (fs::path(dir) / structure_file_name(i, "png")).string();
    if (!fs::exists(name, error)) continue;
    ++result->pictures;
    const std::uint32_t size = structure_sizes[i];
    tiles.assign(size, 0);
    if (!read_whole_file(name, kMostPngBytes, &file, &problem)) {
      problems->push_back(problem);
      continue;
    }
    // A picture of the wrong size is refused before it is decoded.
    std::uint32_t width = 0, height = 0;
    if (png_dimensions(file.data(), file.size(), &width, &height) &&
        (width % 8 != 0 || width == 0 || height != tile_grid(size, width / 8).height)) {
      picture = PngPicture{};
      picture.width = width;
      picture.height = height;
    } else if (!decode_png(file.data(), file.size(), false, &picture, &problem)) {
      problems->push_back(name + ": " + problem);
      continue;
    }
    if (!picture_to_tiles(picture, palette, size, tiles.data(), &problem)) {
      problems->push_back(name + ": " + problem);
      continue;
    }
    std::uint8_t* old = graphics.bytes.data() + graphics.offsets[i];
    if (!graphics.present[i] || std::memcmp(old, tiles.data(), size) != 0) {
      std::memcpy(old, tiles.data(), size);
      changed[i] = true;
      ++result->changed;
    }
  }
  if (result->pictures == 0) {
    problems->push_back(dir + " holds no pictures named GFX000.png to GFX1D8.png");
    return false;
  }
  if (!problems->empty()) return false;
  if (result->changed == 0) return true;
  if (!store_graphics(graphics_path, graphics, changed, &problem)) {
    problems->push_back(problem);
    return false;
  }
  return true;
}

}  // namespace tilvex
