# Sourced after whole_program.sh: a PostgreSQL cluster of the test's own in $WORK/pg, on a free loopback
# port, removed with the work folder. PostgreSQL refuses to run as root, so as root the cluster runs as
# the user nobody. Sets PG_PORT and PG_CONNINFO (trust on loopback; the cluster lives for one test).
PG_BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}
PG_PORT= PG_CONNINFO=
free_port() {
  local p=$((20000 + RANDOM % 40000))
  while (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; do p=$((p + 1)); done
  echo "$p"
}
as_pg_owner() {
  if [ "$(id -u)" = 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; else "$@"; fi
}
start_postgres() {
  [ -x "$PG_BIN/initdb" ] || fail "$PG_BIN/initdb is missing (scripts/setup.sh installs postgresql)"
  PG_PORT=$(free_port)
  chmod 755 "$WORK"
  mkdir -p "$WORK/pg"
  [ "$(id -u)" = 0 ] && chown nobody:nogroup "$WORK/pg"
  as_pg_owner "$PG_BIN/initdb" -D "$WORK/pg/data" -U collect --auth=trust -E UTF8 --locale=C \
    >"$WORK/pg/initdb.log" 2>&1 || fail "initdb: $(tail -5 "$WORK/pg/initdb.log")"
  as_pg_owner "$PG_BIN/pg_ctl" -D "$WORK/pg/data" -l "$WORK/pg/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -p $PG_PORT -k $WORK/pg -c fsync=on" start >/dev/null ||
    fail "pg_ctl start: $(tail -5 "$WORK/pg/server.log")"
  PG_CONNINFO="host=127.0.0.1 port=$PG_PORT user=collect dbname=postgres"
}
stop_postgres() {
  [ -n "$PG_PORT" ] && as_pg_owner "$PG_BIN/pg_ctl" -D "$WORK/pg/data" -m immediate stop >/dev/null 2>&1
  PG_PORT=
}
# psql_value SQL: the result, unaligned, without headers.
psql_value() { "$PG_BIN/psql" -X -q -A -t -d "$PG_CONNINFO" -c "$1"; }
