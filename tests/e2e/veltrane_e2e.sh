#!/usr/bin/env bash
# veltrane_e2e.sh APP_DIR ARTEFACT_DIR
# Starts the real veltrane in a temporary program folder against indicator-sim, under its own Xvfb and
# trayer. Checks: it goes to the tray at start, serves weighments into the CSV file and the weight log,
# publishes the weight on the live feed, stays in the tray on a single click of the icon, comes back on a
# double-click, goes back to the tray with its Minimize button, comes back again when started a second time
# and, minimised once more, with the icon's menu. Keeps a screenshot of the restored main window.
set -uo pipefail
APP=$1
ARTEFACTS=$2
mkdir -p "$ARTEFACTS"
. "$(dirname "$0")/../support/whole_program.sh"

skip_without Xvfb
need trayer xdotool xwininfo import socat sqlcipher
need_built "$APP" veltrane veltrane-mkdb indicator-sim
begin_work veltrane-e2e
show_logs() {
  echo "--- veltrane output"; cat "$WORK/veltrane.log" 2>/dev/null
  echo "--- indicator-sim output"; tail -5 "$WORK/sim.log" 2>/dev/null
}

make_program "$APP" --set pw=e2e-secret --set Startauto=on --set AutosaveonStableWeight=on
start_display
# Empty, a truck settling at 24360, empty again: one weighment per cycle.
start_sim "$APP" --program 0:3,24360:8,0:4
start_veltrane

wait_for 30 sh -c "$(declare -f tray_icon); tray_icon >/dev/null" || fail "no tray icon after start"
main_shown && fail "the main window is shown after start; it belongs in the tray"
kill -0 $VELTRANE 2>/dev/null || fail "veltrane ended at start"
echo "ok: in the tray after start"

CSV=$PROGRAM/veltrane.csv
wait_for 90 grep -q '^24360,' "$CSV" 2>/dev/null || fail "no weighment in $CSV"
echo "ok: served into the CSV file: $(tail -1 "$CSV")"
head -1 "$CSV" | tr -d '\r' | grep -qx 'Weight,Datetime' || fail "CSV heading: $(head -1 "$CSV")"

weight_log() { sqlcipher -cmd ".timeout 5000" "$PROGRAM/scale.mdb" "PRAGMA key='qd584'; select weight from weightlog;" 2>&1; }
# Two trucks: the cycle re-arms once the platform is empty again.
wait_for 60 sh -c "$(declare -f weight_log); PROGRAM='$PROGRAM' weight_log | grep -cx 24360 | grep -qv '^[01]$'" ||
  fail "weight log does not hold two weighments of 24360: $(weight_log)"
logged=$(weight_log | grep -cx 24360)
echo "ok: weight log holds $logged weighment(s) of 24360"

# A client that keeps its side open until the answer is in, as quorlink does.
live_weight() { (echo 'REQUEST veltrane weightdata'; sleep 1) | socat -t 2 - UNIX-CONNECT:"$XDG_RUNTIME_DIR/veltrane.dde"; }
live=$(live_weight)
[[ $live =~ ^DATA\ [0-9.]*$ ]] || fail "live feed answered '$live'"
echo "ok: live feed answered '$live'"

# An XEmbed tray reports double-clicks: there a single click leaves the window in the tray.
read -r x y < <(tray_icon | sed -E 's/.*\+([0-9-]+)\+([0-9-]+)$/\1 \2/')
xdotool mousemove $((x + 8)) $((y + 8)) click 1
sleep 1
main_shown && fail "a single click on the tray icon brought the window back"
# Double-click the tray icon: the main window comes back and the icon goes.
xdotool mousemove $((x + 8)) $((y + 8)) click --repeat 2 --delay 80 1
wait_for 10 main_shown || fail "double-click on the tray icon did not bring the window back"
wait_for 10 sh -c "$(declare -f tray_icon); ! tray_icon >/dev/null" || fail "the tray icon stayed after restoring"
WINDOW=$(xdotool search --onlyvisible --name 'Marlume Veltrane Ver 3.0' | head -1)
sleep 1
import -window "$WINDOW" "$ARTEFACTS/veltrane_main_window.png" || fail "screenshot"
echo "ok: restored; screenshot in $ARTEFACTS/veltrane_main_window.png"

# The Minimize button sends it back to the tray (no window manager here, so no title-bar button).
eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
MIN_X=$(( WIDTH * 9 / 12 ))
MIN_Y=$(( HEIGHT - 35 ))
xdotool mousemove --window "$WINDOW" "$MIN_X" "$MIN_Y" click 1
wait_for 10 sh -c "$(declare -f tray_icon); tray_icon >/dev/null" || fail "Minimize did not put the icon back in the tray"
main_shown && fail "the window is still shown after Minimize"
echo "ok: Minimize went back to the tray"

# Started again (from the menu, say), it brings the running copy's window back and ends.
(cd "$PROGRAM" && timeout 20 ./veltrane) >"$WORK/second.log" 2>&1 || fail "a second start ended with $?"
wait_for 10 main_shown || fail "a second start did not bring the window back"
echo "ok: a second start brought the window back and ended"

# The icon's menu: its one entry, "Show Veltrane", brings the window back on every desktop.
xdotool mousemove --window "$WINDOW" "$MIN_X" "$MIN_Y" click 1
wait_for 10 sh -c "$(declare -f tray_icon); tray_icon >/dev/null" || fail "Minimize did not put the icon back in the tray"
read -r x y < <(tray_icon | sed -E 's/.*\+([0-9-]+)\+([0-9-]+)$/\1 \2/')
xdotool mousemove $((x + 8)) $((y + 8)) click 3
sleep 1
xdotool key Down Return
wait_for 10 main_shown || fail "the tray icon's menu did not bring the window back"
echo "ok: the tray icon's menu restored the window"

kill -0 $VELTRANE 2>/dev/null || fail "veltrane ended"

# Ended by the desktop session (SIGTERM at log-out): the way out of the operator's Close, so the port's
# lock file goes with the program.
kill -TERM $VELTRANE
wait_for 10 sh -c "! kill -0 $VELTRANE 2>/dev/null" || fail "veltrane did not end on SIGTERM"
wait $VELTRANE
status=$?
[ $status -eq 0 ] || fail "veltrane ended with status $status on SIGTERM"
[ -e "/var/lock/LCK..${LINK//\//_}" ] && fail "the serial port's lock file outlived veltrane"
echo "ok: SIGTERM closed veltrane as its Close does"
echo "PASS"
exit 0
