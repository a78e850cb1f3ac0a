#!/usr/bin/env bash
# The static checks of .clang-tidy over the project's own C++ (product, tests, benchmarks), against the
# compile commands of a build folder; fails on any finding.
#   scripts/check-tidy.sh [BUILD_DIR] [FILE_REGEX]     (default build, every file)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
FILTER=${2:-"^$PWD/(platform|config|core|wizard|shell|feeds|ddeclient|tools|tests|bench)/"}
cmake -S . -B "$BUILD" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
command -v run-clang-tidy >/dev/null || { echo "check-tidy: run-clang-tidy is missing (clang-tidy)" >&2; exit 1; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
run-clang-tidy -p "$BUILD" -j "$(nproc)" -quiet "$FILTER" >"$log" 2>&1 || true
if grep -E '(error|warning): ' "$log" | grep -v -E '^(Error while processing|[0-9]+ warnings? generated)' |
  sed 's/\x1b\[[0-9;]*m//g' | sort -u | grep .; then
  echo "check-tidy: the findings above need a change (or a reasoned NOLINT)" >&2
  exit 1
fi
echo "check-tidy: clean"
