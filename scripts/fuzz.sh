#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for the given
# number of seconds (default 60), starting from its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DORVA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target fuzzers

mapfile -t fuzzers < <(find build-fuzz/fuzz -type f -perm -u+x -name 'fuzz_*' | sort)
[ ${#fuzzers[@]} -gt 0 ] || { echo "no fuzz targets"; exit 0; }
for f in "${fuzzers[@]}"; do
  name=$(basename "$f")
  work="build-fuzz/corpus/$name"
  mkdir -p "$work"
  seeds=$(find fuzz -type d -name "$name" -path '*corpus*' | head -n 1)
  echo "== $name (${seconds}s)"
  "$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
       "$work" ${seeds:+"$seeds"} 2>&1 | tail -n 3
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "$name failed"; exit 1; }
done
