#!/usr/bin/env bash
# Set-up, build and the whole test suite: the warning-clean build, its format and static checks
# (.clang-format, .clang-tidy), the test suite in the C locale, its unit tests once more in a
# decimal-comma one (de_DE.UTF-8: numbers must not follow the locale; the whole-program tests drive the
# same code through the same formatting), then the unit tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/; no -Werror there, the compiler warns falsely under the
# sanitizers). The static checks run at a low priority beside the test run, whose whole-program tests
# spend most of their time waiting. No display is needed: widget tests run offscreen and the
# whole-program tests start their own Xvfb. Tests labelled no-asan cannot run under the sanitizer. Before the sanitizer build, the database layer and its tests run once more
# on SQLCipher 4 (build-sqlcipher4/, against files the first build made), and the Debian package made
# from build/ is installed, used, upgraded and purged (scripts/test-package.sh), and so is the collector's
# package (scripts/test-package-collect.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
scripts/setup.sh build -DVELTRANE_WERROR=ON
scripts/check-format.sh
tidy_start=$(date +%s)
tidy_log=$(mktemp)
nice -n 19 scripts/check-tidy.sh build >"$tidy_log" 2>&1 &
tidy=$!
tests_ok=0
(cd build && ctest --output-on-failure -j2 --timeout 900) || tests_ok=$?
tidy_ok=0
wait "$tidy" || tidy_ok=$?
cat "$tidy_log"
rm -f "$tidy_log"
echo "test.sh: the static checks and the test run took $(( $(date +%s) - tidy_start )) s"
[ "$tidy_ok" = 0 ] && [ "$tests_ok" = 0 ] || exit 1
if ! locale -a | grep -x 'de_DE.utf8' >/dev/null; then
  echo "test.sh: the locale de_DE.UTF-8 is missing (scripts/setup.sh makes it as root)" >&2
  exit 1
fi
comma_start=$(date +%s)
(cd build && LC_ALL=de_DE.UTF-8 LANG=de_DE.UTF-8 ctest --output-on-failure -j2 --timeout 900 -LE e2e)
echo "test.sh: the run under de_DE.UTF-8 took $(( $(date +%s) - comma_start )) s"
scripts/test-sqlcipher4.sh build
scripts/test-package.sh build
scripts/test-package-collect.sh build
scripts/setup.sh build-asan -DVELTRANE_SANITIZE=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2 --timeout 900 -LE 'no-asan|e2e')
echo "test.sh: both builds and the three test runs took $(( ($(date +%s) - start) / 60 )) min"
