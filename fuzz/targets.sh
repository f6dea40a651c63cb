# Shared by the fuzz scripts and CI: the fuzz targets, their kept corpora and
# dictionaries. Source it from the top of the repository.
fuzz_targets=(fuzz_format1_decode fuzz_format1_roundtrip fuzz_format15_decode
              fuzz_format15_roundtrip)

# The libFuzzer options every run of target $1 takes: its dictionary, if any,
# and the memory limit.
fuzz_options() {
  local dict="fuzz/$1.dict"
  echo -rss_limit_mb=2048
  if [ -f "$dict" ]; then echo "-dict=$dict"; fi
}

# Files and bytes in a folder, as "N files, M bytes".
fuzz_folder_size() {
  local files bytes
  files=$(find "$1" -type f | wc -l)
  bytes=$(find "$1" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
  echo "$files files, $bytes bytes"
}
