#!/usr/bin/env bash
# Makes sure the Debian packages for building and testing tilvex are present.
# Run as root it installs the missing ones; otherwise it stops at once naming
# them and the command that installs them. Extra packages may be named as
# arguments (.ci/run adds the ones for the sanitizers, fuzzers and packages).
set -euo pipefail

packages=(cmake make g++ libgtest-dev libbenchmark-dev groff-base "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing the missing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# CMake 3.25 or newer (Debian 12 has 3.25.1).
version=$(cmake --version | sed -n '1s/^cmake version \([0-9][0-9.]*\).*/\1/p')
if ! printf '3.25\n%s\n' "$version" | sort -V -C; then
  echo "CMake $version is too old: tilvex needs CMake 3.25 or newer." >&2
  exit 1
fi
