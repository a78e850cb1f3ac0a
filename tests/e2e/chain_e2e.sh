#!/usr/bin/env bash
# chain_e2e.sh APP_DIR
# The chained weight log as an inspector and a central subscriber meet it: the real veltrane
# (offscreen) fed by indicator-sim, a real mosquitto, veltrane-verify on the real scale.mdb.
# Checks: a log made anew under the same topic sends weighments that stay distinct by (logid, slno);
# an untouched log verifies clean and tells its start and end; a weight changed by SQL, a row deleted
# by SQL and a chain rebuilt after an edit are each found (the last one only against the digests the
# broker delivered, by the integration guide's example).
set -uo pipefail
APP=$1
EXAMPLE=$(cd "$(dirname "$0")/../../docs/examples" && pwd)/chain_check.py
. "$(dirname "$0")/../support/whole_program.sh"
need mosquitto mosquitto_sub sqlcipher socat python3
need_built "$APP" veltrane veltrane-mkdb veltrane-verify indicator-sim

begin_work veltrane-chain
VELTRANE= BROKER=
before_end_work() { [ -n "$VELTRANE" ] && kill -9 "$VELTRANE" 2>/dev/null; }
show_logs() { echo "--- veltrane output"; tail -20 "$WORK/veltrane.log" 2>/dev/null; }
PORT=$((20000 + RANDOM % 40000))
while (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; do PORT=$((PORT + 1)); done
cd "$WORK" || exit 1
mosquitto -p "$PORT" >broker.log 2>&1 & PIDS+=($!)
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT" 2>/dev/null || fail "mosquitto did not start"

PROGRAM=$WORK/program TOPIC=chain-test/site SUB=$WORK/arrived.txt
mkdir -p "$PROGRAM"
cp "$APP/veltrane" "$PROGRAM/"
sql() { sqlcipher -cmd ".timeout 10000" "${2:-$PROGRAM}/scale.mdb" "PRAGMA key='qd584'; $1" 2>&1 | grep -vx ok; }
make_log() {
  rm -f "$PROGRAM/scale.mdb" "$PROGRAM/config.mdb" "$PROGRAM/veltrane.mdb"
  "$APP/veltrane-mkdb" --set pw=chain-secret --set Startauto=on --set AutosaveonStableWeight=on --comport 1="$WORK/indicator.tty" \
    "$PROGRAM" >/dev/null || fail "veltrane-mkdb"
  sql "update feeds set mqttfeed = -1, mqtthost = '127.0.0.1', mqttport = $PORT, mqtttopic = '$TOPIC';"
}
export XDG_RUNTIME_DIR=$WORK/run QT_QPA_PLATFORM=offscreen
mkdir -m 700 "$XDG_RUNTIME_DIR"
start_veltrane() {
  (cd "$PROGRAM" && exec ./veltrane >>"$WORK/veltrane.log" 2>&1) &
  VELTRANE=$!
  wait_for 30 test -S "$XDG_RUNTIME_DIR/veltrane.dde" || fail "veltrane did not start"
}
stop_veltrane() { kill "$VELTRANE"; wait "$VELTRANE" 2>/dev/null; VELTRANE=; rm -f "$XDG_RUNTIME_DIR/veltrane.dde"; }

"$APP/indicator-sim" --link "$WORK/indicator.tty" --rate 25 --program 0:0.4,1111:1,0:0.4,2222:1 \
  --control "$WORK/sim.ctl" --no-stdin >sim.log 2>&1 & PIDS+=($!)
wait_for 10 test -S "$WORK/sim.ctl" || fail "indicator-sim did not start"
sim() { echo "$1" | socat - UNIX-CONNECT:"$WORK/sim.ctl" | grep -q '^ok' || fail "indicator-sim: $1"; }
at_least() { [ "$(sql "$1")" -ge "$2" ]; }
serve() {
  sim resume
  wait_for 90 at_least "select count(*) from weightlog;" "$1" || fail "fewer than $1 weighments served"
  sim pause
}
sim pause
mosquitto_sub -p "$PORT" -t "$TOPIC/weighment" -q 1 >"$SUB" 2>sub.log & PIDS+=($!)
arrived() { grep -c '"slno"' "$SUB"; }

# Two logs, one after the other, under one topic: slno 1..3 twice, told apart by the log id.
make_log
start_veltrane
serve 3
wait_for 30 test "$(arrived)" -ge 3 || fail "the first log's weighments did not arrive"
stop_veltrane
cp -a "$PROGRAM" "$WORK/first"
make_log
start_veltrane
serve 3
wait_for 30 test "$(arrived)" -ge 6 || fail "the second log's weighments did not arrive"
stop_veltrane
distinct=$(jq -r '"\(.logid) \(.slno)"' "$SUB" | sort -u | wc -l)
[ "$distinct" = 6 ] || fail "$distinct distinct weighments of 6: $(cat "$SUB")"
head -1 "$SUB" | grep -Eq '"logid": "[0-9a-f]{32}", "digest": "[0-9a-f]{64}"' || fail "payload: $(head -1 "$SUB")"
echo "ok: a log made anew under the same topic: all 6 weighments distinct by (logid, slno)"

verify() { "$APP/veltrane-verify" "$@" >"$WORK/report.txt"; }
verify "$WORK/first" || fail "an untouched log: $(cat "$WORK/report.txt")"
grep -q 'Rows checked: 3 (slno 1 to 3)' "$WORK/report.txt" || fail "report: $(cat "$WORK/report.txt")"
[ "$(sql "select group_concat(kind) from eventlog;" "$WORK/first")" = start,chain-start,end ] ||
  fail "events: $(sql 'select kind from eventlog;' "$WORK/first" | xargs)"
sql "select detail from eventlog where kind = 'start';" "$WORK/first" | grep -Eq '"identity":"[0-9a-f]{64}"' ||
  fail "the start event has no identity"
python3 "$EXAMPLE" "$SUB" <(sql "select slno, digest from weightlog;" "$WORK/first") >"$WORK/check.txt" ||
  fail "the chain check on an untouched log: $(cat "$WORK/check.txt")"
echo "ok: an untouched log verifies clean, locally and against the broker"

# tamper CASE SQL EXPECTED: a copy of the first log, changed by SQL, must fail verification with EXPECTED.
tamper() {
  rm -rf "$WORK/t" && cp -a "$WORK/first" "$WORK/t"
  sql "$2" "$WORK/t" >/dev/null
  verify "$WORK/t"
  local rc=$?
  [ $rc = 1 ] && grep -q "$3" "$WORK/report.txt" || fail "$1: exit $rc, $(cat "$WORK/report.txt")"
  echo "ok: $1 found"
}
tamper "a weight changed by SQL" "update weightlog set weight = '9999' where slno = 2;" "Row slno 2: NOT EXPLAINED"
tamper "a row deleted by SQL" "delete from weightlog where slno = 2;" "Gap slno 2: NOT EXPLAINED"
tamper "the newest row deleted by SQL" "delete from weightlog where slno = 3;" "Gap slno 3: NOT EXPLAINED"

# A chain rebuilt after an edit passes locally; only the broker's copies of the digests show it.
rm -rf "$WORK/t" && cp -a "$WORK/first" "$WORK/t"
logid=$(sql "select value from loginfo where name = 'logid';" "$WORK/t")
sql "update weightlog set weight = '9999' where slno = 2;" "$WORK/t"
prev=$(sql "select digest from weightlog where slno = 1;" "$WORK/t")
for n in 2 3; do
  row=$(sql "select weight || char(10) || Datetime from weightlog where slno = $n;" "$WORK/t")
  prev=$(printf '%s\n%s\n%s\n%s' "$logid" "$n" "$row" "$prev" | sha256sum | cut -c1-64)
  sql "update weightlog set digest = '$prev' where slno = $n; update loginfo set value = '$prev' where name = 'lastdigest';" "$WORK/t"
done
verify "$WORK/t" || fail "the rebuilt chain should pass locally: $(cat "$WORK/report.txt")"
python3 "$EXAMPLE" <(head -3 "$SUB") <(sql "select slno, digest from weightlog;" "$WORK/t") >"$WORK/check.txt" &&
  fail "the rebuilt chain passed against the broker: $(cat "$WORK/check.txt")"
grep -q "slno 2" "$WORK/check.txt" || fail "check: $(cat "$WORK/check.txt")"
echo "ok: a chain rebuilt after an edit is found against the digests the broker delivered"
echo PASS
