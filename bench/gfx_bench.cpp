// Speed of tilvex-gfx's two directions over all 473 structures of the demo
// cartridge: export to PNGs and the sheet, and import of the unchanged PNGs
// (every picture decoded and compared; nothing to write) and of PNGs saved
// as RGB, which are matched colour by colour.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/demo_cartridge.h"
#include "gfx/convert.h"
#include "gfx/graphics.h"
#include "transfer/catalogue.h"

namespace {

namespace fs = std::filesystem;

// A folder holding the demo's combined graphics file, made once.
const fs::path& work_folder() {
  static const fs::path folder = [] {
    const fs::path path = fs::temp_directory_path() / "tilvex-gfx-bench";
    fs::remove_all(path);
    fs::create_directories(path);
    const auto offsets = tilvex::combined_offsets();
    std::vector<std::uint8_t> combined(tilvex::kCombinedFileSize);
    for (std::uint32_t i = 0; i < tilvex::kStructureCount; ++i) {
      const std::vector<std::uint8_t> plain = tilvex::demo_structure(i, 1);
      std::memcpy(combined.data() + offsets[i], plain.data(), plain.size());
    }
    std::string problem;
    const std::string all = (path / "all.bin").string();
    if (!tilvex::replace_file(all, combined.data(), combined.size(), &problem))
      std::fprintf(stderr, "%s\n", problem.c_str());
    return path;
  }();
  return folder;
}

void BM_GfxExportAll(benchmark::State& state) {
  const fs::path& folder = work_folder();
  const tilvex::Palette palette = tilvex::grey_palette();
  for (auto _ : state) {
    tilvex::ExportResult result;
    std::string problem;
    if (!tilvex::export_pictures((folder / "all.bin").string(), (folder / "out").string(), palette,
                                 tilvex::kDefaultColumns, &result, &problem)) {
      state.SkipWithError(problem.c_str());
      break;
    }
  }
}
BENCHMARK(BM_GfxExportAll)->Unit(benchmark::kMillisecond);

void BM_GfxImportAll(benchmark::State& state) {
  const fs::path& folder = work_folder();
  const tilvex::Palette palette = tilvex::grey_palette();
  tilvex::ExportResult exported;
  std::string problem;
  tilvex::export_pictures((folder / "all.bin").string(), (folder / "in").string(), palette,
                          tilvex::kDefaultColumns, &exported, &problem);
  for (auto _ : state) {
    tilvex::ImportResult result;
    std::vector<std::string> problems;
    if (!tilvex::import_pictures((folder / "in").string(), (folder / "all.bin").string(), palette,
                                 &result, &problems)) {
      state.SkipWithError(problems.empty() ? "import failed" : problems[0].c_str());
      break;
    }
  }
}
BENCHMARK(BM_GfxImportAll)->Unit(benchmark::kMillisecond);

}  // namespace
