#!/usr/bin/env bash
# identify_example_test.sh APP_DIR EXAMPLES_DIR
# The integration guide's veltrane-identify example against indicator-sim at 9600,e,7,1 on a pty.
set -uo pipefail
APP=$1
EXAMPLES=$2
WORK=$(mktemp -d /tmp/veltrane-identify.XXXXXX)
SIM=
cleanup() {
  [ -n "$SIM" ] && kill "$SIM" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
"$APP/indicator-sim" --no-stdin --settings 9600,e,7,1 --weight 24360 --link "$WORK/scale" >"$WORK/sim.log" 2>&1 &
SIM=$!
for ((t = 0; t < 100; t++)); do [ -e "$WORK/scale" ] && break; sleep 0.1; done
out=$(PATH="$APP:$PATH" sh "$EXAMPLES/identify.sh" "$WORK/scale" 24360 2>/dev/null)
status=$?
expected="settings 9600,e,7,1, delimiter CR, weight at 10 length 5"
[ $status -eq 0 ] && [ "$out" = "$expected" ] || { echo "FAIL: status $status, printed \"$out\", expected \"$expected\""; exit 1; }
echo "ok: $out"
