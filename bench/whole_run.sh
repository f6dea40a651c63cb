#!/usr/bin/env bash
# Whole-run speed and memory of the tool against the floor of copying the
# cartridge file (see bench/whole_run/whole_run.cpp). Builds the release preset
# first when needed.
#
#   bash bench/whole_run.sh [RUNS]        (default 7)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/release/tilvex_whole_run ]; then
  cmake --preset release >/dev/null
fi
cmake --build --preset release >/dev/null
exec build/release/tilvex_whole_run build/release "${1:-7}"
