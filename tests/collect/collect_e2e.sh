#!/usr/bin/env bash
# collect_e2e.sh APP_DIR
# The collector against a real PostgreSQL cluster and a real mosquitto, both the test's own, with two
# sites played by fake_site.py (messages published with mosquitto_pub; resend requests answered from
# the site's rows). Checks: every row stored once; the collector killed (-9) again and again while the
# sites publish, and rows a site never managed to publish, still end whole through its resend requests;
# rows named by a "delete" event are no gap; --report is clean, then names the site whose row came again
# with other content and exits 1; the integration guide's day report; the settings file is checked.
set -uo pipefail
APP=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/../support/whole_program.sh"
. "$HERE/../support/postgres.sh"
need mosquitto mosquitto_pub mosquitto_sub python3 setpriv
need_built "$APP" veltrane-collect

begin_work veltrane-collect
COLLECTOR=
# The fake sites' own subscribers too: left running, they would hold the test's output open.
before_end_work() {
  [ -n "$COLLECTOR" ] && kill -9 "$COLLECTOR" 2>/dev/null
  [ -n "${PORT:-}" ] && pkill -f "mosquitto_sub -p $PORT " 2>/dev/null
  stop_postgres
}
show_logs() {
  echo "--- collector"; tail -20 "$WORK/collect.log"
  echo "--- report"; "$APP/veltrane-collect" --config "$WORK/collect.conf" --report
}
start_postgres
PORT=$(free_port)
cd "$WORK" || exit 1
printf 'listener %s 127.0.0.1\nallow_anonymous true\nmax_queued_messages 0\n' "$PORT" >broker.conf
mosquitto -c broker.conf >broker.log 2>&1 & PIDS+=($!)
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT" 2>/dev/null || fail "mosquitto did not start"

cat >collect.conf <<CONF
# the test's broker and database
host = 127.0.0.1
port = $PORT
topic = fleet/+
database = $PG_CONNINFO
recheck = 2
CONF
"$APP/veltrane-collect" --config /nonexistent 2>/dev/null && fail "a missing settings file was accepted"
printf 'host = 127.0.0.1\nport = 70000\ndatabase = x\n' >bad.conf
refusal=$("$APP/veltrane-collect" --config bad.conf 2>&1)
[[ $refusal == *"Broker port: 70000 is not a port number"* ]] || fail "a wrong port was not named: $refusal"
start_collector() {
  "$APP/veltrane-collect" --config collect.conf >>collect.log 2>&1 &
  COLLECTOR=$!
}
stored() { psql_value "select count(*) from weighment"; }
stored_is() { [ "$(stored)" = "$1" ]; }
conflicts_are() { [ "$(psql_value "select count(*) from conflict")" = "$1" ]; }

LOGA=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa LOGB=bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb
# Rows 100-102 were deleted at site a before they went out: its log no longer holds them.
python3 "$HERE/fake_site.py" rows fleet/a $LOGA 1 300 >a.all
grep -v -E '"slno": 10[0-2],' a.all >a.rows
python3 "$HERE/fake_site.py" rows fleet/b $LOGB 1 300 >b.rows
for s in a b; do python3 "$HERE/fake_site.py" serve "$PORT" fleet/$s $s.rows & PIDS+=($!); done
publish() { mosquitto_pub -p "$PORT" -t "fleet/$1/weighment" -q 1 -l; }

start_collector
wait_for 20 psql_value "select 1 from collect_schema" >/dev/null 2>&1 || fail "the collector made no tables"
sed -n 1,20p a.rows | publish a
sed -n 1,20p b.rows | publish b
wait_for 20 stored_is 40 || fail "stored $(stored) of 40"
echo "ok: 40 weighments stored"

# The sites go on publishing while the collector is killed at random moments; site a never gets rows
# 250-260 out (they are only in its log).
for round in 1 2 3 4 5; do
  from=$((20 + (round - 1) * 56 + 1)) to=$((20 + round * 56))
  sed -n "${from},${to}p" a.rows | grep -v -E '"slno": (25[0-9]|260),' | publish a & pa=$!
  sed -n "${from},${to}p" b.rows | publish b & pb=$!
  sleep "0.$((RANDOM % 9))"
  kill -9 "$COLLECTOR"; wait "$COLLECTOR" 2>/dev/null
  wait "$pa" "$pb"
  start_collector
done
deleted=$(grep -E '"slno": 10[0-2],' a.all | python3 -c 'import json,sys; print(json.dumps({"count":3,"rows":[json.loads(l) for l in sys.stdin]}))')
echo "{\"logid\": \"$LOGA\", \"eventid\": 7, \"time\": \"2026-03-01 09:00:00\", \"kind\": \"delete\", \"detail\": $deleted, \"digest\": \"\"}" |
  mosquitto_pub -p "$PORT" -t fleet/a/events -q 1 -l
want=$((300 + 297))
wait_for 60 stored_is "$want" || fail "after the kills: stored $(stored) of $want"
[ "$(psql_value "select count(*) from weighment where site = 'fleet/a' and slno between 250 and 260")" = 11 ] ||
  fail "the rows site a never published were not asked for"
echo "ok: killed five times, all $want rows stored once, the unpublished ones through resend requests"

"$APP/veltrane-collect" --config collect.conf --report >report.txt || { cat report.txt; fail "the report is not clean"; }
grep -q '^fleet/a: .*297 rows' report.txt || fail "report: $(cat report.txt)"
psql_value "select value, unit, served_at from weighment where site = 'fleet/b' and slno = 7" |
  grep -qx '1070|.*|2026-03-01 08:00:07' || fail "the decoded row: $(psql_value "select value, unit, served_at from weighment where slno = 7 limit 1")"
echo "ok: the report is clean and the rows decoded"
# The integration guide's day report, as printed there.
PATH=$PG_BIN:$PATH sh "$HERE/../../docs/examples/collect-day-report.sh" 2026-03-01 "$PG_CONNINFO" >day.txt
[ "$(head -1 day.txt)" = "fleet/a 297 745470 08:00:01 08:05:00" ] || fail "day report: $(cat day.txt)"
echo "ok: the day report of the integration guide"

# A row that comes again with another weight than the stored one: the report names the site.
sed -n 5p b.rows | sed 's/"weight": "1050"/"weight": "1950"/' | publish b
wait_for 20 conflicts_are 1 || fail "the changed row was not noticed"
"$APP/veltrane-collect" --config collect.conf --report >report.txt && fail "the report was clean after a change"
grep -A3 '^fleet/b' report.txt | grep -q 'sent again with other content' || fail "report: $(cat report.txt)"
grep -A3 '^fleet/a' report.txt | grep -q 'whole' || fail "report: $(cat report.txt)"
echo "ok: the report names fleet/b and exits 1"
echo PASS
