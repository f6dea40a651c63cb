#!/usr/bin/env bash
# Line and branch coverage of the two decoders by the kept corpora: builds the
# targets with clang source-based coverage (preset "coverage"), runs each over
# its corpus once, and reports the decoders' source files, then every line and
# branch the corpora do not reach. An HTML report goes to build/coverage/html.
#
#   bash fuzz/coverage.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source fuzz/targets.sh

profdata=$(command -v llvm-profdata-14 || command -v llvm-profdata)
cov=$(command -v llvm-cov-14 || command -v llvm-cov)
sources=(src/codec/format1_decode.cpp src/codec/format15_decode.cpp)

cmake --preset coverage >/dev/null
cmake --build --preset coverage --target "${fuzz_targets[@]}" >/dev/null

out=build/coverage/profiles
rm -rf "$out"
mkdir -p "$out"
objects=()
for target in "${fuzz_targets[@]}"; do
  # -runs=0: run every corpus input once, then stop.
  # shellcheck disable=SC2046
  LLVM_PROFILE_FILE="$out/$target.profraw" "build/coverage/$target" -runs=0 \
    $(fuzz_options "$target") "fuzz/corpus/$target" >"$out/$target.log" 2>&1 ||
    { tail -n 20 "$out/$target.log" >&2; exit 1; }
  objects+=(-object "build/coverage/$target")
done
"$profdata" merge -sparse "$out"/*.profraw -o "$out/corpus.profdata"

# The first -object is the binary; the others add theirs. Every target has its
# own LLVMFuzzerTestOneInput, which llvm-cov reports as mismatched data.
args=(-instr-profile="$out/corpus.profdata" "${objects[@]:1}")
quiet() { "$@" 2> >(grep -v -e 'mismatched data' -e $'^\e\\[0m$' >&2); }
quiet "$cov" report "${args[@]}" -use-color=false -show-branch-summary "${sources[@]}"
quiet "$cov" show "${args[@]}" -format=html -show-branches=count -output-dir=build/coverage/html \
  "${sources[@]}" >/dev/null

echo
echo "Not reached by the corpora (file:lines, file:line branch N):"
quiet "$cov" export "${args[@]}" -use-color=false -format=lcov "${sources[@]}" | awk -F'[:,]' '
  function flush() {
    if (first) print file ":" first (last > first ? "-" last : "") " lines"
    first = 0
  }
  /^SF:/ { file = substr($0, 4); sub(".*/src/", "src/", file) }
  /^DA:/ && $3 == 0 {
    if (first && $2 == last + 1) { last = $2 } else { flush(); first = last = $2 }
    missed++
  }
  /^BRDA:/ { flush() }
  /^BRDA:/ && ($5 == "-" || $5 == 0) { print file ":" $2 " branch " $4; missed++ }
  /^end_of_record/ { flush() }
  END { if (missed == 0) print "nothing" }'
