#!/usr/bin/env bash
# Set-up, build and the whole test suite. No display is needed: widget tests run offscreen and the
# whole-program tests start their own Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build -DVELTRANE_WERROR=ON
cd build
ctest --output-on-failure -j2 --timeout 900
