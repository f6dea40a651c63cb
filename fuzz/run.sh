#!/usr/bin/env bash
# A longer local fuzzing run that builds on the kept corpora: each target
# fuzzes for SECONDS (default 600) from fuzz/corpus/<target>/, then what it
# found is merged back into that folder (-merge=1), which stays minimal.
# Prints per target the executions, libFuzzer's final coverage counters (cov:
# edges, ft: features) and any crash, whose input is kept in
# build/fuzz/artifacts/<target>/. Exits 1 when a target crashed.
#
#   bash fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
source fuzz/targets.sh

seconds=${1:-600}
if ! [[ "$seconds" =~ ^[0-9]+$ ]]; then
  echo "usage: bash fuzz/run.sh [SECONDS] [TARGET...]" >&2
  exit 2
fi
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=("${fuzz_targets[@]}"); fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]}" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for target in "${targets[@]}"; do
  kept="fuzz/corpus/$target"
  artifacts="build/fuzz/artifacts/$target"
  mkdir -p "$kept" "$artifacts" "$work/$target"
  before=$(fuzz_folder_size "$kept")
  log="$work/$target.log"
  status=0
  # New inputs land in the first folder; the kept corpus is only read.
  # shellcheck disable=SC2046
  "build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" $(fuzz_options "$target") "$work/$target" "$kept" \
    >"$log" 2>&1 || status=$?
  # The kept corpus and the new inputs are minimised together into a fresh
  # folder, which then replaces the kept one: it keeps every feature either
  # had, preferring the smaller inputs, so the corpus does not only grow.
  merged="$work/$target.merged"
  mkdir -p "$merged"
  # shellcheck disable=SC2046
  if "build/fuzz/$target" -merge=1 $(fuzz_options "$target") "$merged" "$kept" "$work/$target" \
    >"$work/$target.merge.log" 2>&1; then
    rm -rf "$kept"
    mv "$merged" "$kept"
  else
    echo "$target: merging back failed, the kept corpus is unchanged" >&2
  fi

  executions=$(awk '/^stat::number_of_executed_units/ {print $NF}' "$log")
  rate=$(awk '/^stat::average_exec_per_sec/ {print $NF}' "$log")
  counters=$(grep -E '^#[0-9]+[[:space:]]+(DONE|NEW|REDUCE|pulse|INITED)' "$log" | tail -n 1 |
    sed -E 's/.*(cov: [0-9]+ ft: [0-9]+).*/\1/')
  echo "$target: ${executions:-?} executions in ${seconds}s (${rate:-?}/s), ${counters:-no counters}"
  echo "  corpus: $before before, $(fuzz_folder_size "$kept") after"
  if [ "$status" -ne 0 ]; then
    failed=1
    grep -E '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' "$log" | sed 's/^/  /' || true
    echo "  CRASH (exit $status); full log kept in $artifacts/last.log"
    cp "$log" "$artifacts/last.log"
  else
    echo "  no crash"
  fi
done
exit "$failed"
