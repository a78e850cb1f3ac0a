#!/usr/bin/env bash
# scripts/test-package.sh [BUILD_DIR]
# The Debian package as an operator's PC meets it. Builds the package from BUILD_DIR (default build),
# checks it with lintian, installs it with dpkg, and as a fresh user in the groups veltrane and dialout
# runs the installed program under Xvfb with trayer as the notification area against indicator-sim
# until a weighment is served; a second start brings the running copy's window forward. Then a newer
# build goes over it (settings and weight log must survive). With the export database as output, the
# template stays pristine and a new output folder gets an empty copy that the CSV's readers may read;
# a stop request ends the program while the copy's box is up. `remove` must keep the data and `purge`
# delete it. Runs as root (dpkg, a user of its own) and removes everything it installed, also on
# failure. One run at a time per machine.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
start=$(date +%s)

if [ "$(id -u)" != 0 ]; then
  echo "test-package: FAIL: needs root (it installs the package and adds a user)" >&2
  exit 1
fi
exec 9>/run/lock/veltrane-package-test.lock
flock -w 1800 9 || { echo "test-package: FAIL: another package test holds the lock" >&2; exit 1; }
if dpkg-query -W -f='${Status}' veltrane 2>/dev/null | grep -q 'ok installed'; then
  echo "test-package: FAIL: veltrane is installed on this machine; the test would replace it" >&2
  exit 1
fi
for tool in cpack lintian desktop-file-validate appstreamcli file Xvfb trayer xdotool xwininfo sqlcipher setpriv; do
  command -v "$tool" >/dev/null || { echo "test-package: FAIL: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

STATE=/var/lib/veltrane
APPDIR=/usr/lib/veltrane
KEY="PRAGMA key='qd584';"
WORK=$(mktemp -d /tmp/veltrane-package.XXXXXX)
chmod 755 "$WORK"
TESTUSER=vltpkg$$
had_group=$(getent group veltrane >/dev/null && echo yes || echo no)
had_state=$([ -e "$STATE" ] && echo yes || echo no)
old_revision=$(sed -n 's/^VELTRANE_PACKAGE_REVISION:STRING=//p' "$BUILD/CMakeCache.txt" 2>/dev/null)
PIDS=()

cleanup() {
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[i]}" 2>/dev/null; done
  wait 2>/dev/null
  dpkg-query -W veltrane >/dev/null 2>&1 && dpkg --purge veltrane >/dev/null 2>&1
  id "$TESTUSER" >/dev/null 2>&1 && userdel --remove "$TESTUSER" 2>/dev/null
  [ "$had_group" = no ] && getent group veltrane >/dev/null && groupdel veltrane
  [ "$had_state" = no ] && rm -rf "$STATE"
  [ -n "${LINK:-}" ] && rm -f "/run/lock/LCK..${LINK//\//_}"
  cmake -S . -B "$BUILD" -DVELTRANE_PACKAGE_REVISION="${old_revision:-1}" >/dev/null
  rm -rf "$WORK"
  echo "test-package: took $(($(date +%s) - start)) s"
}
trap cleanup EXIT
fail() {
  echo "test-package: FAIL: $*" >&2
  [ -f "$WORK/veltrane.log" ] && { echo "--- veltrane output"; cat "$WORK/veltrane.log"; } >&2
  exit 1
}
ok() { echo "test-package: ok: $*"; }
wait_for() {
  local limit=$1; shift
  for ((t = 0; t < limit * 5; t++)); do "$@" && return 0; sleep 0.2; done
  return 1
}
# A package with the given Debian revision, built from BUILD_DIR; prints its path.
build_package() {
  cmake -S . -B "$BUILD" -DVELTRANE_PACKAGE_REVISION="$1" >/dev/null || return 1
  rm -rf "$BUILD/package"
  cmake --build "$BUILD" -j2 --target package >"$WORK/cpack-$1.log" 2>&1 || { cat "$WORK/cpack-$1.log" >&2; return 1; }
  # Copied where the unprivileged users of this test can read it.
  install -m 644 "$BUILD"/package/veltrane_*-"$1"_*.deb "$WORK/" && ls "$WORK"/veltrane_*-"$1"_*.deb
}
install_package() {
  dpkg -i "$1" >"$WORK/dpkg.log" 2>&1 && return 0
  # Dependencies the machine lacks: apt fetches them and finishes the configuration.
  DEBIAN_FRONTEND=noninteractive apt-get install -f -y >>"$WORK/dpkg.log" 2>&1 || { cat "$WORK/dpkg.log" >&2; return 1; }
}
perms() { stat -c '%U:%G %a' "$@"; }
db() { sqlcipher -cmd '.timeout 5000' "$STATE/scale.mdb" "$KEY $1"; }

# --- build and static checks
DEB1=$(build_package 1) || fail "building the package"
ok "built $(basename "$DEB1")"
setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$WORK" \
  lintian --fail-on error,warning --display-info "$DEB1" >"$WORK/lintian.log" 2>&1 ||
  { cat "$WORK/lintian.log" >&2; fail "lintian"; }
[ -s "$WORK/lintian.log" ] && cat "$WORK/lintian.log"
ok "lintian: no errors or warnings"

# --- first installation
install_package "$DEB1" || fail "dpkg -i $DEB1"
[ "$(perms "$STATE")" = "root:veltrane 2770" ] || fail "$STATE is $(perms "$STATE")"
for name in scale.mdb config.mdb veltrane.mdb wizardlog.txt wizardreport.txt; do
  [ "$(perms "$STATE/$name")" = "root:veltrane 660" ] || fail "$STATE/$name is $(perms "$STATE/$name")"
  [ $name = veltrane.mdb ] || [ "$(readlink "$APPDIR/$name")" = "$STATE/$name" ] || fail "$APPDIR/$name does not lead to $STATE"
done
# The export template is read-only data: the default output folder's veltrane.mdb is not the template.
TEMPLATE=/usr/share/veltrane/veltrane.mdb
[ "$(readlink -f "$APPDIR/veltrane.mdb")" = $TEMPLATE ] && [ "$(perms $TEMPLATE)" = "root:root 644" ] ||
  fail "the export template is $(readlink -f "$APPDIR/veltrane.mdb"), $(perms "$(readlink -f "$APPDIR/veltrane.mdb")")"
for name in veltrane quorlink veltrane-mkdb; do
  [ "$(readlink -f /usr/bin/$name)" = "$APPDIR/$name" ] || fail "/usr/bin/$name"
done
[ "$(readlink -f /usr/bin/veltrane-indicator-sim)" = "$APPDIR/indicator-sim" ] || fail "/usr/bin/veltrane-indicator-sim"
# Every command has its manual page, and the guides are where the manual says.
for command in $(dpkg -L veltrane | grep '^/usr/bin/'); do
  man_page=/usr/share/man/man1/$(basename "$command").1.gz
  [ -s "$man_page" ] || fail "no manual page for $command"
done
for guide in operator.md integration.md images/main-window.png examples/web-weight.sh; do
  [ -s "/usr/share/doc/veltrane/$guide" ] || fail "no /usr/share/doc/veltrane/$guide"
done
[ "$(readlink -f /usr/bin/veltrane)" = "$APPDIR/veltrane" ] || fail "/usr/bin/veltrane"
[ "$(readlink -f /usr/bin/veltrane-verify)" = "$APPDIR/veltrane-verify" ] || fail "/usr/bin/veltrane-verify"
[ -f /usr/share/man/man1/veltrane-verify.1.gz ] || fail "veltrane-verify has no manual page"
/usr/bin/veltrane-verify "$APPDIR" >/dev/null || fail "veltrane-verify on the new log"
[ "$(readlink -f "$APPDIR/12.wav")" = /usr/share/veltrane/12.wav ] || fail "voice files are not linked"
[ "$(readlink -f "$APPDIR/veltrane-sample.html")" = /usr/share/veltrane/veltrane-sample.html ] || fail "the sample page is not linked"
[ "$(db 'select outputFilelocation from config;')" = "$STATE/" ] || fail "output folder: $(db 'select outputFilelocation from config;')"
desktop-file-validate /usr/share/applications/example.veltrane.Veltrane.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net /usr/share/metainfo/example.veltrane.Veltrane.metainfo.xml >"$WORK/appstream.log" 2>&1 ||
  { cat "$WORK/appstream.log" >&2; fail "appstreamcli validate"; }
for size in 16 22 24 32 48 64 128 256; do
  file "/usr/share/icons/hicolor/${size}x${size}/apps/veltrane.png" | grep -q "PNG image data, $size x $size" ||
    fail "icon ${size}x${size}"
done
grep -q '<svg' /usr/share/icons/hicolor/scalable/apps/veltrane.svg || fail "scalable icon"
ok "installed: layout, permissions, menu entry, metadata and icons"

# --- an operator: a fresh user in the groups veltrane and dialout
HOMEDIR=$WORK/home
useradd --create-home --home-dir "$HOMEDIR" --groups veltrane,dialout --shell /bin/sh "$TESTUSER" ||
  fail "useradd"
RUN=$WORK/run
install -d -m 700 -o "$TESTUSER" "$RUN"
# Runs a command as the operator; always in a subshell, so that a background start's $! is the program.
as_user() {
  exec setpriv --reuid="$(id -u "$TESTUSER")" --regid="$(id -g "$TESTUSER")" --init-groups \
    env -i HOME="$HOMEDIR" USER="$TESTUSER" LOGNAME="$TESTUSER" PATH=/usr/bin:/bin \
    XDG_RUNTIME_DIR="$RUN" DISPLAY="${DISPLAY:-}" QT_QPA_PLATFORM=xcb "$@"
}
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
as_nobody cat "$STATE/scale.mdb" >/dev/null 2>&1 && fail "a user outside the group reads the settings"
as_nobody ls "$STATE" >/dev/null 2>&1 && fail "a user outside the group lists $STATE"

# The simulator's device belongs to the group dialout, as a USB adapter's does.
LINK=$WORK/indicator.tty
veltrane-indicator-sim --link "$LINK" --program 0:3,24360:8,0:4 --no-stdin >"$WORK/sim.log" 2>&1 &
PIDS+=($!)
wait_for 10 test -e "$LINK" || fail "indicator-sim did not start"
chown root:dialout "$(readlink -f "$LINK")" && chmod 0660 "$(readlink -f "$LINK")" || fail "device permissions"

# Settings changed by the operator, through the application folder's link, as a group member.
(as_user sqlcipher -cmd '.timeout 5000' "$APPDIR/scale.mdb" "$KEY
  update config set pw = 'pkg-secret', Startauto = -1, AutosaveonStableWeight = -1;
  insert or replace into comports (port, device) values (1, '$LINK');") >/dev/null || fail "settings as $TESTUSER"

exec 8>"$WORK/display"
Xvfb -displayfd 8 -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
exec 8>&-
wait_for 10 test -s "$WORK/display" || fail "Xvfb did not start"
export DISPLAY=:$(cat "$WORK/display")
trayer --edge top --align right --widthtype pixel --width 100 --heighttype pixel --height 24 >"$WORK/trayer.log" 2>&1 &
PIDS+=($!)
wait_for 10 sh -c 'xwininfo -root -tree | grep -q "\"panel\""' || fail "trayer did not start"

# --help and --version answer without a display and without starting the program.
for command in veltrane quorlink; do
  help=$(cd "$HOMEDIR" && as_user env DISPLAY= timeout 10 /usr/bin/$command --help) &&
    [[ $help == *Usage:* ]] || fail "$command --help: $help"
  [ "$(cd "$HOMEDIR" && as_user env DISPLAY= timeout 10 /usr/bin/$command --version | head -1)" = "$command 3.0" ] ||
    fail "$command --version"
done
# The identity covers the installed program file: its digest is the one of the bytes in the package.
version=$(cd "$HOMEDIR" && as_user env DISPLAY= timeout 10 /usr/bin/veltrane --version)
[[ $version == *"SHA-256 "[0-9a-f]*"$APPDIR/veltrane"* ]] || fail "veltrane --version gives no identity: $version"
ok "--help and --version of veltrane and quorlink"

# Started from the home folder through /usr/bin: the program finds its folder from its own file.
(cd "$HOMEDIR" && as_user /usr/bin/veltrane) >"$WORK/veltrane.log" 2>&1 &
VELTRANE=$!
PIDS+=($VELTRANE)
in_tray() { xwininfo -root -tree | grep '"veltrane": ("veltrane" "veltrane")' | grep -qv 'Ver 3.0'; }
main_shown() { [ -n "$(xdotool search --onlyvisible --name 'Marlume Veltrane Ver 3.0' 2>/dev/null)" ]; }
logged_weighment() { db 'select weight from weightlog;' | grep -qx 24360; }
wait_for 30 in_tray || fail "no tray icon after start"
CSV=$STATE/veltrane.csv
wait_for 90 grep -q '^24360,' "$CSV" 2>/dev/null || fail "no weighment in $CSV"
[ "$(stat -c %G "$CSV")" = veltrane ] || fail "$CSV belongs to the group $(stat -c %G "$CSV")"
wait_for 30 logged_weighment || fail "the weight log holds no weighment"
ok "served as $TESTUSER: $(tail -1 "$CSV" | tr -d '\r')"

main_shown && fail "the main window is shown; it belongs in the tray"
(cd "$HOMEDIR" && as_user timeout 20 /usr/bin/veltrane) >"$WORK/second.log" 2>&1 ||
  fail "a second start ended with $? ($(cat "$WORK/second.log"))"
wait_for 10 main_shown || fail "a second start did not bring the window forward"
kill -0 "$VELTRANE" 2>/dev/null || fail "the running copy ended"
ok "a second start brought the running copy's window forward and ended"
kill "$VELTRANE"
wait "$VELTRANE" 2>/dev/null

logged=$(db 'select count(*) from weightlog;')
settings_before=$(db "select pw, Startauto from config; select device from comports where port = 1;")
csv_before=$(cat "$CSV")

# --- a newer build over it
DEB2=$(build_package 2) || fail "building the newer package"
install_package "$DEB2" || fail "dpkg -i $DEB2"
[ "$(dpkg-query -W -f='${Version}' veltrane)" = "$(dpkg-deb -f "$DEB2" Version)" ] || fail "the upgrade did not take"
[ "$(db 'select count(*) from weightlog;')" = "$logged" ] || fail "the weight log changed in the upgrade"
[ "$(db "select pw, Startauto from config; select device from comports where port = 1;")" = "$settings_before" ] ||
  fail "settings changed in the upgrade"
[ "$(cat "$CSV")" = "$csv_before" ] || fail "the CSV file changed in the upgrade"
[ "$(perms "$STATE")" = "root:veltrane 2770" ] && [ "$(perms "$STATE/scale.mdb")" = "root:veltrane 660" ] ||
  fail "permissions changed in the upgrade"
ok "upgraded to $(dpkg-query -W -f='${Version}' veltrane): $logged weighment(s) and the settings kept"

# --- the export database: the template never collects a weighment
template_sum=$(sha256sum <$TEMPLATE)
db "update config set outputFiletype = 'Access file with three fields';" >/dev/null || fail "output type"
(cd "$HOMEDIR" && as_user /usr/bin/veltrane) >"$WORK/veltrane.log" 2>&1 &
VELTRANE=$!
PIDS+=($VELTRANE)
exported() { sqlcipher "$STATE/veltrane.mdb" 'select weight from weightlog;' 2>/dev/null | grep -qx 24360; }
wait_for 90 exported || fail "no weighment in $STATE/veltrane.mdb"
kill "$VELTRANE"
wait "$VELTRANE" 2>/dev/null
[ "$(sha256sum <$TEMPLATE)" = "$template_sum" ] || fail "the export template changed"
# A new output folder, as for an ERP: the designed copy step, its box, and a stop request meanwhile.
ERP=$WORK/erp
install -d -m 755 -o "$TESTUSER" "$ERP"
# An output folder must hold a file of some kind to count as there.
touch "$ERP/orders.txt"
db "update config set outputFilelocation = '$ERP/';" >/dev/null || fail "output folder"
# A umask that lets the group read and write, as for an ERP's account in the operator's group: the
# copy must follow it, not the template's own mode.
(cd "$HOMEDIR" && umask 002 && as_user /usr/bin/veltrane) >"$WORK/veltrane.log" 2>&1 &
VELTRANE=$!
PIDS+=($VELTRANE)
copy_box() { xdotool search --onlyvisible --name '^Veltrane$' >/dev/null 2>&1; }
wait_for 30 test -s "$ERP/veltrane.mdb" || fail "no copy of the template in $ERP"
wait_for 30 copy_box || fail "no box about the copy"
kill -TERM "$VELTRANE"
wait_for 10 sh -c "! kill -0 $VELTRANE 2>/dev/null" || fail "a stop request did not end veltrane while a box was up"
wait "$VELTRANE" 2>/dev/null
[ "$(sqlcipher "$ERP/veltrane.mdb" 'select count(*) from weightlog;')" = 0 ] || fail "the copy holds weighments"
# What the CSV would be: a new file of the operator's, by the umask.
csv_mode=664
[ "$(perms "$ERP/veltrane.mdb")" = "$TESTUSER:$(id -gn "$TESTUSER") $csv_mode" ] ||
  fail "the copy is $(perms "$ERP/veltrane.mdb"), not a new file's $csv_mode"
ok "the template stayed pristine; the copy in $ERP is empty and $csv_mode; a stop request ended the program with the box up"
logged=$(db 'select count(*) from weightlog;')

# --- remove keeps the data, purge deletes it
dpkg --remove veltrane >"$WORK/dpkg.log" 2>&1 || { cat "$WORK/dpkg.log" >&2; fail "dpkg --remove"; }
[ ! -e "$APPDIR" ] && [ ! -e /usr/bin/veltrane ] || fail "the programs stayed after remove"
[ "$(db 'select count(*) from weightlog;')" = "$logged" ] || fail "remove did not keep the weight log"
ok "remove kept $STATE"
dpkg --purge veltrane >"$WORK/dpkg.log" 2>&1 || { cat "$WORK/dpkg.log" >&2; fail "dpkg --purge"; }
[ ! -e "$STATE" ] || fail "purge left $STATE"
ok "purge deleted $STATE"
echo "test-package: PASS"
