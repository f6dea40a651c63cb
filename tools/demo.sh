#!/usr/bin/env bash
# Placeholder until the demo cartridge generator lands: builds the tool.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release
cmake --build --preset release
