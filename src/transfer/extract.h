// Extraction: every structure out of the loaded cartridge image into its plain
// form, written to the combined graphics file or to per-structure files.
#pragma once

namespace tilvex {

int extract_all(bool combined);

}  // namespace tilvex
