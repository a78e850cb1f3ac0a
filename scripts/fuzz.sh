#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for SECONDS (default 20), starting
# from its seed corpus in fuzz/<area>/corpus and keeping what it finds in build-fuzz/corpus/<target>.
# A crash leaves its input in build-fuzz/crashes/ and makes the script fail.
# Usage: scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-20}
OUT=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$OUT" -DVELTRANE_FUZZ=ON -DVELTRANE_BENCH=OFF >/dev/null
# target:area, the area being the folder under fuzz/ that holds its seeds
TARGETS=(dde_line_fuzz:feed decoder_fuzz:core serial_settings_fuzz:serial loader_fuzz:config)
cmake --build "$OUT" -j2 --target "${TARGETS[@]%%:*}"

mkdir -p "$OUT/crashes"
status=0
for entry in "${TARGETS[@]}"; do
  target=${entry%%:*}
  area=${entry#*:}
  corpus=$OUT/corpus/$target
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/$area/corpus" ] && seeds=("fuzz/$area/corpus")
  log=$OUT/$target.log
  if "$OUT/fuzz/$target" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$OUT/crashes/$target-" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo '?')
    echo "fuzz: $target: $runs executions in $SECONDS_EACH s, no crash"
  else
    echo "fuzz: $target FAILED; see $log and $OUT/crashes/"
    grep -E '^==[0-9]+==|SUMMARY|Test unit written' "$log" | head -5
    status=1
  fi
done
exit $status
