#!/usr/bin/env bash
# bench/collect/collect_bench.sh [BUILD_DIR] [ROWS] [SITES]
# A PostgreSQL cluster, a mosquitto and veltrane-collect of the benchmark's own on loopback; then
# collect_burst: the rows stored per second from a burst (default 100,000 weighments from 1,000 sites)
# and the time from a publish to its committed row.
set -uo pipefail
BUILD=${1:-build}
ROWS=${2:-100000}
SITES=${3:-1000}
APP=$BUILD/app
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/../../tests/support/whole_program.sh"
. "$HERE/../../tests/support/postgres.sh"
need mosquitto setpriv
need_built "$APP" veltrane-collect
need_built "$BUILD/bench" collect_burst
BUILD=$(cd "$BUILD" && pwd) APP=$BUILD/app
begin_work veltrane-collect-bench
before_end_work() { stop_postgres; }
start_postgres
PORT=$(free_port)
cd "$WORK" || exit 1
# The broker queues without limit for the collector: the default (1000 messages) would drop most of a burst.
printf 'listener %s 127.0.0.1\nallow_anonymous true\nmax_queued_messages 0\nmax_inflight_messages 1000\nset_tcp_nodelay true\n' "$PORT" >broker.conf
mosquitto -c broker.conf >broker.log 2>&1 & PIDS+=($!)
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT" 2>/dev/null || fail "mosquitto did not start"
printf 'host = 127.0.0.1\nport = %s\ntopic = bench/+\ndatabase = %s\nrecheck = 3600\n' "$PORT" "$PG_CONNINFO" >collect.conf
"$APP/veltrane-collect" --config collect.conf >collect.log 2>&1 & PIDS+=($!)
wait_for 20 psql_value "select 1 from collect_schema" >/dev/null 2>&1 || fail "the collector made no tables"
sleep 1
"$BUILD/bench/collect_burst" "$PORT" "$PG_CONNINFO" "$ROWS" "$SITES" 50 || fail "collect_burst"
echo "repeats: $(psql_value "select count(*) - count(distinct (site, logid, slno)) from weighment")"
