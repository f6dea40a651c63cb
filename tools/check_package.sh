#!/usr/bin/env bash
# Builds the Debian package and the .tar.gz from the release build (run
# `cmake --workflow --preset test` or `cmake --build --preset release` first)
# and checks that the Debian package holds exactly the files of
# cmake/installed_files.txt under /usr, and that its dependencies (found by
# dpkg-shlibdeps) name the C and C++ runtime libraries.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
rm -f "$build"/tilvex_*.deb "$build"/tilvex-*.tar.gz
(cd "$build" && cpack -G DEB && cpack -G TGZ)
deb=$(ls "$build"/tilvex_*.deb)
ls "$build"/tilvex-*.tar.gz >/dev/null

# A line "FILE PROGRAM" counts only when PROGRAM was built.
expected=$(awk -v build="$build" '/^#/ {next}
  NF == 1 || system("test -x " build "/" $2) == 0 {print "./usr/" $1}' cmake/installed_files.txt | sort)
found=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
if [ "$found" != "$expected" ]; then
  echo "$deb holds other files than cmake/installed_files.txt lists:" >&2
  diff <(echo "$expected") <(echo "$found") >&2 || true
  exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in
  *libc6*libstdc++6*) ;;
  *) echo "$deb: unexpected Depends: $depends" >&2; exit 1 ;;
esac
echo "$deb: $(echo "$found" | wc -l) files, Depends: $depends"
