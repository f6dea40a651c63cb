#!/bin/sh
# Runs a Windows program under wine, headless and quiet: no display, no wine
# debug output, and a wine prefix of its own (created on first use; set
# WINEPREFIX to use another). Used as the cross build's test emulator.
set -eu
: "${WINEPREFIX:=${TILVEX_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/tilvex-wine}}"
export WINEPREFIX
export WINEDEBUG=-all
# No .NET or HTML engine installers: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Tests start in parallel: one of them sets the prefix up, the others wait.
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"
