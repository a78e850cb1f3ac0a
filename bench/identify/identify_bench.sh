#!/usr/bin/env bash
# identify_bench.sh APP_DIR: veltrane-identify's time to the answer against indicator-sim on a pty, one
# line per case: the simulator's arguments, the settings found, the seconds it reported.
set -uo pipefail
APP=${1:-build/app}
WORK=$(mktemp -d /tmp/veltrane-identify-bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
run_case() {
  "$APP/indicator-sim" --no-stdin --weight 1234 --rate 10 --link "$WORK/scale" "$@" >/dev/null 2>&1 &
  local sim=$!
  for ((t = 0; t < 100; t++)); do [ -e "$WORK/scale" ] && break; sleep 0.1; done
  local out
  out=$("$APP/veltrane-identify" --device "$WORK/scale" --weight 1234 --probe --json 2>/dev/null)
  kill "$sim"; wait "$sim" 2>/dev/null
  printf '%s\t%s\n' "$*" "$(printf '%s' "$out" | python3 -c 'import json,sys; r=json.load(sys.stdin); print(r.get("settings","not found"), r.get("delimiter",""), r.get("request") or "", r["seconds"], sep="\t")')"
}
run_case --settings 9600,n,8,1
run_case --settings 19200,n,8,1
run_case --settings 4800,e,7,1
run_case --settings 4800,e,7,2
run_case --settings 1200,o,7,1
run_case --settings 9600,e,7,1
run_case --settings 9600,o,8,1
run_case --settings 2400,n,8,2
run_case --settings 38400,n,8,1
run_case --settings 57600,n,8,1
run_case --settings 115200,n,8,1
run_case --settings 300,n,8,1
run_case --settings 2400,n,8,1 --format stx-etx
run_case --settings 9600,n,8,1 --format reversed
run_case --settings 9600,n,8,1 --mode poll --request ENQ
# A line with nothing on it.
"$APP/indicator-sim" --no-stdin --mode print --link "$WORK/scale" >/dev/null 2>&1 &
sim=$!
for ((t = 0; t < 100; t++)); do [ -e "$WORK/scale" ] && break; sleep 0.1; done
printf 'silent line\t%s\n' "$("$APP/veltrane-identify" --device "$WORK/scale" --json 2>/dev/null)"
kill "$sim"; wait "$sim" 2>/dev/null
