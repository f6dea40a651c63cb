#!/bin/sh
# Runs a command with a pseudo-terminal as its standard input and output, so
# that a Windows program started under wine gets a real console. Standard
# input of the terminal stays open and silent for the whole run.
set -eu
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkfifo "$dir/input"
exec 3<>"$dir/input"
command=""
for word in "$@"; do
  command="$command '$(printf '%s' "$word" | sed "s/'/'\\\\''/g")'"
done
script -qec "$command" /dev/null <&3
