#!/usr/bin/env bash
# scripts/test-package-collect.sh [BUILD_DIR]
# The second Debian package, veltrane-collect, as a server without a desktop meets it: built from
# BUILD_DIR (default build), lintian-clean, installed with dpkg; its system user, its settings file
# (that user's only) and its unit; then the installed program, run as that user the way the unit runs
# it, stores a weighment from a broker in a PostgreSQL cluster (both the test's own) and reports clean.
# `remove` keeps the settings, `purge` deletes them. Runs as root; one run at a time per machine.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
if [ "$(id -u)" != 0 ]; then
  echo "test-package-collect: FAIL: needs root (it installs the package)" >&2
  exit 1
fi
exec 9>/run/lock/veltrane-package-test.lock
flock -w 1800 9 || { echo "test-package-collect: FAIL: another package test holds the lock" >&2; exit 1; }
if dpkg-query -W -f='${Status}' veltrane-collect 2>/dev/null | grep -q 'ok installed'; then
  echo "test-package-collect: FAIL: veltrane-collect is installed on this machine" >&2
  exit 1
fi
. tests/support/whole_program.sh
. tests/support/postgres.sh
need lintian mosquitto mosquitto_pub setpriv
CONF=/etc/veltrane/collect.conf
had_etc=$([ -e /etc/veltrane ] && echo yes || echo no)
begin_work veltrane-package-collect
before_end_work() {
  stop_postgres
  dpkg-query -W veltrane-collect >/dev/null 2>&1 && dpkg --purge veltrane-collect >/dev/null 2>&1
  [ "$had_etc" = no ] && rm -rf /etc/veltrane
}
ok() { echo "test-package-collect: ok: $*"; }

rm -f "$BUILD"/package/veltrane-collect_*.deb
cmake --build "$BUILD" -j2 --target package_collect >"$WORK/cpack.log" 2>&1 || { cat "$WORK/cpack.log"; fail "building the package"; }
DEB=$(ls "$BUILD"/package/veltrane-collect_*.deb) || fail "no package"
chmod 755 "$WORK" && install -m 644 "$DEB" "$WORK/" && DEB=$WORK/$(basename "$DEB")
setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$WORK" \
  lintian --fail-on error,warning --display-info "$DEB" >"$WORK/lintian.log" 2>&1 ||
  { cat "$WORK/lintian.log"; fail "lintian"; }
dpkg-deb -f "$DEB" Depends | grep -Eq 'libqt6(gui|widgets)' && fail "the package needs a desktop: $(dpkg-deb -f "$DEB" Depends)"
ok "built $(basename "$DEB"), lintian clean, no desktop libraries"

dpkg -i "$DEB" >"$WORK/dpkg.log" 2>&1 ||
  DEBIAN_FRONTEND=noninteractive apt-get install -f -y >>"$WORK/dpkg.log" 2>&1 || { cat "$WORK/dpkg.log"; fail "dpkg -i"; }
[ "$(getent passwd veltrane-collect | cut -d: -f7)" = /usr/sbin/nologin ] || fail "no system user veltrane-collect"
[ "$(stat -c '%U:%G %a' "$CONF")" = "veltrane-collect:veltrane-collect 600" ] || fail "$CONF is $(stat -c '%U:%G %a' "$CONF")"
setpriv --reuid=nobody --regid=nogroup --clear-groups cat "$CONF" >/dev/null 2>&1 && fail "another user reads $CONF"
UNIT=/usr/lib/systemd/system/veltrane-collect.service
[ -e "$UNIT" ] || UNIT=/lib/systemd/system/veltrane-collect.service
grep -qx 'User=veltrane-collect' "$UNIT" || fail "the unit does not run as veltrane-collect"
ok "installed: the user, $CONF (0600), the unit"

start_postgres
PORT=$(free_port)
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$PORT" >"$WORK/broker.conf"
mosquitto -c "$WORK/broker.conf" >"$WORK/broker.log" 2>&1 9>&- & PIDS+=($!)
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT" 2>/dev/null || fail "mosquitto did not start"
sed -i "s/^port = .*/port = $PORT/; s/^host = .*/host = 127.0.0.1/; s|^database = .*|database = $PG_CONNINFO|" "$CONF"
as_service() { setpriv --reuid=veltrane-collect --regid=veltrane-collect --clear-groups env -i PATH=/usr/bin:/bin "$@"; }
# Without the lock: a service left behind by a failed run must not hold it.
as_service /usr/bin/veltrane-collect --config "$CONF" >"$WORK/collect.log" 2>&1 9>&- & PIDS+=($!)
wait_for 20 psql_value "select 1 from collect_schema" >/dev/null 2>&1 || { cat "$WORK/collect.log"; fail "the service made no tables"; }
# Sent again until stored: before the service's first subscription the broker keeps nothing for it,
# and a repeat is harmless.
stored() { test "$(psql_value 'select weight from weighment' 2>/dev/null)" = 24360; }
for try in 1 2 3 4 5 6 7 8 9 10; do
  mosquitto_pub -p "$PORT" -t veltrane/north/weighment -q 1 -m \
    '{"slno": 1, "weight": "24360", "datetime": "2026-03-01 08:00:00", "site": "veltrane/north", "logid": "0123456789abcdef0123456789abcdef"}'
  wait_for 2 stored && break
done
stored || { cat "$WORK/collect.log"; fail "the weighment was not stored"; }
as_service /usr/bin/veltrane-collect --config "$CONF" --report >"$WORK/report.txt" || { cat "$WORK/report.txt"; fail "--report"; }
kill "${PIDS[-1]}"
ok "ran as veltrane-collect: stored a weighment, reported clean"

dpkg --remove veltrane-collect >"$WORK/dpkg.log" 2>&1 || fail "dpkg --remove"
[ -e "$CONF" ] && [ ! -e /usr/bin/veltrane-collect ] || fail "remove: settings or program wrong"
dpkg --purge veltrane-collect >"$WORK/dpkg.log" 2>&1 || fail "dpkg --purge"
[ ! -e "$CONF" ] || fail "purge left $CONF"
ok "remove kept $CONF, purge deleted it"
echo "test-package-collect: PASS"
