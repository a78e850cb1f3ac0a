#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format makes of it, and names the files.
# scripts/check-format.sh --fix rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
drift=()
for f in "${files[@]}"; do
  clang-format "$f" | cmp -s - "$f" || drift+=("$f")
done
if [ ${#drift[@]} -gt 0 ]; then
  printf 'check-format: %s differs from .clang-format (scripts/check-format.sh --fix)\n' "${drift[@]}" >&2
  exit 1
fi
