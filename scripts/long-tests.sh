#!/usr/bin/env bash
# The long variants of the reliability tests, too slow for every test run:
#   - soak: 10 million characters of truck cycles through a pty into the core, no record lost,
#     resident memory growth under 2 MB after the warm-up;
#   - kills: the real program killed with SIGKILL 200 times while serving (needs Xvfb and trayer);
#   - fuzzing: each libFuzzer target for FUZZ_SECONDS (default 300) with clang.
# Usage: scripts/long-tests.sh [kills] [characters]
set -euo pipefail
cd "$(dirname "$0")/.."
KILLS=${1:-200}
CHARS=${2:-10000000}
FUZZ_SECONDS=${FUZZ_SECONDS:-300}

scripts/setup.sh build -DVELTRANE_WERROR=ON
echo "== soak: $CHARS characters"
build/bench/veltrane-soak --chars "$CHARS" --max-growth-kb 2048
echo "== kills: $KILLS"
bash tests/reliability/kill_test.sh "$KILLS" "$PWD/build/app" "$PWD/build/reliability-work"
echo "== fuzzing: $FUZZ_SECONDS s per target"
scripts/fuzz.sh "$FUZZ_SECONDS"
