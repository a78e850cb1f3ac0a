#!/usr/bin/env bash
# fleet_e2e.sh APP_DIR
# A fleet: three real veltrane programs (offscreen) on three indicator-sim simulators, one mosquitto
# without persistence, one collector, one PostgreSQL cluster; everything the test's own. While the
# trucks come, the collector is killed (-9) at random moments, the broker is restarted once (and so
# forgets every queued message and session), and one site's scale.mdb is made anew (a new log). At the
# end the table weighment holds exactly the rows of the weight logs, --report is clean, and after a
# row is changed by SQL in one site's log (and asked for again, as an auditor would), --report names
# that site. Needs the program's messages to carry the log id and the digest: skipped (77) without.
set -uo pipefail
APP=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/../support/whole_program.sh"
. "$HERE/../support/postgres.sh"
need mosquitto mosquitto_pub mosquitto_sub sqlcipher socat setpriv
need_built "$APP" veltrane veltrane-mkdb indicator-sim veltrane-collect

begin_work veltrane-fleet
COLLECTOR= BROKER=
declare -A VPID
before_end_work() {
  local s
  for s in "${!VPID[@]}"; do kill -9 "${VPID[$s]}" 2>/dev/null; done
  [ -n "$COLLECTOR" ] && kill -9 "$COLLECTOR" 2>/dev/null
  [ -n "$BROKER" ] && kill "$BROKER" 2>/dev/null
  stop_postgres
}
show_logs() {
  echo "--- collector"; tail -20 "$WORK/collect.log"
  for s in 1 2 3; do echo "--- veltrane $s"; tail -5 "$WORK/s$s/veltrane.log"; done
  echo "--- report"; "$APP/veltrane-collect" --config "$WORK/collect.conf" --report
}
start_postgres
PORT=$(free_port)
cd "$WORK" || exit 1
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nmax_queued_messages 0\n' "$PORT" >broker.conf
start_broker() {
  mosquitto -c broker.conf >>broker.log 2>&1 &
  BROKER=$!
  wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT" 2>/dev/null || fail "mosquitto did not start"
}
start_broker
printf 'host = 127.0.0.1\nport = %s\ntopic = fleet/+\ndatabase = %s\nrecheck = 3\n' "$PORT" "$PG_CONNINFO" >collect.conf
start_collector() { "$APP/veltrane-collect" --config collect.conf >>collect.log 2>&1 & COLLECTOR=$!; }
kill_collector() { kill -9 "$COLLECTOR"; wait "$COLLECTOR" 2>/dev/null; }

export QT_QPA_PLATFORM=offscreen
sql() { sqlcipher -cmd ".timeout 10000" "$1" "PRAGMA key='qd584'; $2" 2>&1 | grep -vx ok; }
make_site() {  # make_site N: a fresh program folder for site N
  local d=$WORK/s$1
  mkdir -p "$d/program" "$d/run" && chmod 700 "$d/run"
  cp "$APP/veltrane" "$d/program/"
  "$APP/veltrane-mkdb" --set pw=fleet --set Startauto=on --set AutosaveonStableWeight=on \
    --comport 1="$d/indicator.tty" "$d/program" >/dev/null || fail "veltrane-mkdb"
  sql "$d/program/scale.mdb" "update feeds set mqttfeed = -1, mqtthost = '127.0.0.1', mqttport = $PORT, mqtttopic = 'fleet/s$1';"
}
start_site() {
  local d=$WORK/s$1
  (cd "$d/program" && XDG_RUNTIME_DIR=$d/run exec ./veltrane >>"$d/veltrane.log" 2>&1) &
  VPID[$1]=$!
  wait_for 30 test -S "$d/run/veltrane.dde" || fail "veltrane $1 did not start"
}
stop_site() { kill "${VPID[$1]}"; wait "${VPID[$1]}" 2>/dev/null; rm -f "$WORK/s$1/run/veltrane.dde"; }
sim() { echo "$2" | socat - UNIX-CONNECT:"$WORK/s$1/sim.ctl" | grep -q '^ok' || fail "indicator-sim $1: $2"; }
for s in 1 2 3; do
  make_site $s
  "$APP/indicator-sim" --link "$WORK/s$s/indicator.tty" --rate 25 --program "0:0.4,$((s * 1000 + 111)):1,0:0.4,$((s * 1000 + 222)):1" \
    --control "$WORK/s$s/sim.ctl" --no-stdin >"$WORK/s$s/sim.log" 2>&1 & PIDS+=($!)
  LINK=$WORK/s$s/indicator.tty
  wait_for 10 test -S "$WORK/s$s/sim.ctl" || fail "indicator-sim $s did not start"
  start_site $s
done
start_collector

# Every row of a log as "site|logid|slno|weight|datetime", sorted.
log_rows() {
  local logid
  logid=$(sql "$2" "select value from loginfo where name = 'logid';")
  sql "$2" "select slno, weight, Datetime from weightlog order by slno;" | sed "s#^#fleet/s$1|$logid|#" | tr -d '\r'
}
collected() { psql_value "select site || '|' || logid || '|' || slno || '|' || weight || '|' || served from weighment order by 1"; }
some_stored() { [ -n "$(psql_value 'select 1 from weighment limit 1' 2>/dev/null)" ]; }
wait_for 60 some_stored || fail "no weighment reached the collector"
if [ -z "$(psql_value "select logid from weighment limit 1")" ]; then
  echo "SKIP: the program's weighment messages carry no log id yet"
  exit 77
fi

# Trouble while the trucks come.
for round in 1 2 3; do
  sleep "$((1 + RANDOM % 3)).$((RANDOM % 10))"
  kill_collector
  sleep "0.$((RANDOM % 10))"
  start_collector
  if [ "$round" = 2 ]; then
    kill -TERM "$BROKER"; wait "$BROKER"
    sleep 1
    start_broker
  fi
done
echo "ok: the collector killed three times and the broker restarted without its messages"

# Site 3's scale.mdb made anew, once the collector holds its rows: the old log stays in the table.
sim 3 pause
want3() { log_rows 3 "$WORK/s3/program/scale.mdb" | sort; }
site3_whole() { [ "$(collected | grep '^fleet/s3|')" = "$(want3)" ]; }
wait_for 90 site3_whole || fail "site 3's rows before the new file"
stop_site 3
want3 >s3.old
rm -rf "$WORK/s3/program"
make_site 3
start_site 3
sim 3 resume
sleep 5
kill_collector
start_collector
for s in 1 2 3; do sim $s pause; done
expected() { { cat s3.old; for s in 1 2 3; do log_rows $s "$WORK/s$s/program/scale.mdb"; done; } | sort; }
all_whole() { [ "$(collected)" = "$(expected)" ]; }
wait_for 120 all_whole ||
  fail "the table does not hold the logs' rows: $(diff <(collected) <(expected) | head -20)"
[ "$(psql_value "select count(distinct logid) from weighment where site = 'fleet/s3'")" = 2 ] || fail "site 3 has not two logs"
echo "ok: the table holds exactly the $(expected | wc -l) rows of the four logs"
"$APP/veltrane-collect" --config collect.conf --report >report.txt || { cat report.txt; fail "the report is not clean"; }
echo "ok: the report is clean"

# A row changed by SQL in site 1's log, and asked for again.
logid=$(sql "$WORK/s1/program/scale.mdb" "select value from loginfo where name = 'logid';")
sql "$WORK/s1/program/scale.mdb" "update weightlog set weight = '7777' where slno = (select min(slno) from weightlog);"
slno=$(sql "$WORK/s1/program/scale.mdb" "select min(slno) from weightlog;")
# The site answers one request a second and drops the rest, so a request that met the collector's own
# is asked again, as an auditor would.
named() { ! "$APP/veltrane-collect" --config collect.conf --report >report.txt && grep -A3 '^fleet/s1:' report.txt | grep -q 'other content'; }
for ask in 1 2 3 4 5 6 7 8 9 10; do
  mosquitto_pub -p "$PORT" -t fleet/s1/resend -q 1 -m "{\"logid\": \"$logid\", \"slno\": [$slno]}"
  sleep 2
  named && break
done
named || fail "the report does not name fleet/s1: $(cat report.txt)"
grep -A3 '^fleet/s2:' report.txt | grep -q whole || fail "site 2 is named too: $(cat report.txt)"
echo "ok: the changed row names fleet/s1"
echo PASS
