// tilvex-gfx list: the structures as the catalogue has them, and as a
// cartridge stores them, as text or as one JSON document.
#pragma once

#include <cstdio>

#include "app/gfx_cli.h"

namespace tilvex {

int run_gfx_list(const GfxRequest& request, std::FILE* out, std::FILE* err);

}  // namespace tilvex
