#!/usr/bin/env bash
# Remakes the seed corpora in fuzz/corpus/<target>/ from a demo cartridge and
# the examples in fuzz_make_seeds, minimised with libFuzzer's -merge=1 together
# with the inputs already kept (such as those fuzz/run.sh merged in), or alone
# with --fresh.
#
#   bash fuzz/make_corpus.sh [--fresh]
set -euo pipefail
cd "$(dirname "$0")/.."
source fuzz/targets.sh

fresh=0
case "${1:-}" in
  --fresh) fresh=1 ;;
  "") ;;
  *) echo "usage: bash fuzz/make_corpus.sh [--fresh]" >&2; exit 2 ;;
esac

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target tilvex-demo fuzz_make_seeds "${fuzz_targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seed=1
build/fuzz/tilvex-demo "$work/demo.smc" --seed "$seed" >/dev/null
build/fuzz/fuzz_make_seeds "$work/demo.smc" "$seed" "$work/seeds"

for target in "${fuzz_targets[@]}"; do
  kept="fuzz/corpus/$target"
  merged="$work/$target.merged"
  mkdir -p "$kept" "$merged"
  inputs=("$work/seeds/$target")
  if [ "$fresh" = 0 ]; then inputs=("$kept" "${inputs[@]}"); fi
  # shellcheck disable=SC2046
  if ! "build/fuzz/$target" -merge=1 $(fuzz_options "$target") "$merged" "${inputs[@]}" \
      >"$work/$target.log" 2>&1; then
    tail -n 30 "$work/$target.log" >&2
    echo "$target: merging the seeds failed, the kept corpus is unchanged" >&2
    exit 1
  fi
  rm -rf "$kept"
  mv "$merged" "$kept"
  echo "$target: $(fuzz_folder_size "$kept")"
done
echo "corpus in all: $(fuzz_folder_size fuzz/corpus)"
