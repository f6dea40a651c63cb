#!/usr/bin/env bash
# The quick start: checks the build requirements (tools/setup.sh), builds the
# release preset, generates the demo cartridge, extracts all structures into
# one combined file, inserts that file again at the start of the free region,
# extracts once more and checks that both combined files are identical.
# Everything lands in build/demo/. Any failure stops the script with a non-zero
# status.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh  # installs missing Debian packages as root, else names them
cmake --preset release
cmake --build --preset release

bin="$PWD/build/release"
demo="$PWD/build/demo"
mkdir -p "$demo"
cd "$demo"
rm -f demo.smc AllGFX.bin AllGFX-again.bin

step() { printf '\n== %s\n' "$*"; }

step "tilvex-demo demo.smc"
"$bin/tilvex-demo" demo.smc

step "tilvex 100 demo.smc AllGFX.bin"
"$bin/tilvex" 100 demo.smc AllGFX.bin </dev/null

step "tilvex 101 120200 demo.smc AllGFX.bin"
"$bin/tilvex" 101 120200 demo.smc AllGFX.bin </dev/null

step "tilvex 100 demo.smc AllGFX-again.bin"
"$bin/tilvex" 100 demo.smc AllGFX-again.bin </dev/null

step "comparing AllGFX.bin with AllGFX-again.bin"
if cmp AllGFX.bin AllGFX-again.bin; then
  echo "Identical: every structure came back byte for byte ($(stat -c %s AllGFX.bin) bytes)."
else
  echo "The combined files differ." >&2
  exit 1
fi
echo "The demo files are in $demo"
