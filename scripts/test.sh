#!/usr/bin/env bash
# Set-up, build and the whole test suite, twice: the warning-clean build, then the same tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/; no -Werror there, the compiler warns
# falsely under the sanitizers). No display is needed: widget tests run offscreen and the whole-program
# tests start their own Xvfb. Tests labelled no-asan cannot run under the sanitizer and are left out
# of the second run only. Between the two, the Debian package made from build/ is installed, used,
# upgraded and purged (scripts/test-package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
scripts/setup.sh build -DVELTRANE_WERROR=ON
scripts/check-format.sh
(cd build && ctest --output-on-failure -j2 --timeout 900)
scripts/test-package.sh build
scripts/setup.sh build-asan -DVELTRANE_SANITIZE=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2 --timeout 900 -LE no-asan)
echo "test.sh: both builds and both test runs took $(( ($(date +%s) - start) / 60 )) min"
