#!/usr/bin/env bash
# The pictures of the documents, taken from the real program: Veltrane in a fresh program folder, fed by
# indicator-sim, under its own Xvfb with trayer as the notification area, driven with xdotool through
# every window the operator guide shows.
#
#   scripts/screenshots.sh [OUTPUT_DIR]     (default docs/images; the program comes from build/app,
#                                            or from $VELTRANE_APP_DIR)
#
# Fails, naming the window, when a window it expects does not appear; never on how a picture looks.
# Pictures are saved with an 8-bit palette to keep them small.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
APP=${VELTRANE_APP_DIR:-$ROOT/build/app}
OUT=${1:-$ROOT/docs/images}
PASSWORD=shots-secret
start=$(date +%s)

. "$ROOT/tests/support/whole_program.sh"

need Xvfb trayer xdotool xwininfo import convert identify
need_built "$APP" veltrane veltrane-mkdb indicator-sim
[ -f /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ] || { echo "FAIL: fonts-dejavu-core is not installed"; exit 1; }
mkdir -p "$OUT"
begin_work veltrane-shots
show_logs() {
  if [ -n "${DISPLAY:-}" ]; then
    echo "--- windows on the screen"
    xdotool search --onlyvisible --name '.' 2>/dev/null | while read -r w; do
      echo "  $(xdotool getwindowname "$w" 2>/dev/null)"
    done
  fi
  echo "--- veltrane output"; cat "$WORK/veltrane.log" 2>/dev/null
  echo "--- indicator-sim output"; tail -5 "$WORK/sim.log" 2>/dev/null
}

# --- the program folder, the display, the tray and the indicator

make_program "$APP" --set pw="$PASSWORD" --set Startauto=on --set AutosaveonStableWeight=on
# The same look wherever the pictures are taken.
export QT_STYLE_OVERRIDE=Fusion LANG=C.UTF-8 LC_ALL=C.UTF-8
start_display
# An empty platform, then a truck that stays: one weighment, and a steady weight for the wizard.
start_sim "$APP" --program 0:2,24360:1 --once

# --- helpers for windows

# expect NAME [SECONDS]: waits for the visible window whose whole title is NAME (a regular expression)
# and puts its id in WIN; fails naming it when it does not come.
expect() {
  local name=$1 limit=${2:-15}
  for ((t = 0; t < limit * 10; t++)); do
    WIN=$(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null | head -1)
    [ -n "$WIN" ] && return 0
    sleep 0.1
  done
  fail "the window '$name' did not appear"
}
expect_gone() {
  wait_for 10 sh -c "! xdotool search --onlyvisible --name '^$1\$' >/dev/null 2>&1" ||
    fail "the window '$1' did not close"
}
# shoot WINDOW FILE [bare]: the window as it is on the screen, under a bar with its title (there is no window
# manager to draw one), in an 8-bit palette. "bare" leaves the bar out.
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
TAKEN=()
shoot() {
  [ -n "$1" ] || fail "no window to take the picture $2 of"
  sleep 0.5  # let the window finish drawing
  timeout 20 import -window "$1" "$WORK/shot.png" 2>/dev/null || fail "could not take the picture $2"
  if [ "${3:-}" = bare ]; then
    convert "$WORK/shot.png" -dither None -colors 256 "PNG8:$OUT/$2" || fail "could not convert $2"
  else
    local title width
    title=$(xdotool getwindowname "$1")
    width=$(identify -format %w "$WORK/shot.png")
    convert \( -size "${width}x24" xc:'#2f3b4a' -font "$FONT" -fill white -pointsize 12 -gravity west \
      -annotate +8+0 "$title" \) "$WORK/shot.png" -append -dither None -colors 256 "PNG8:$OUT/$2" ||
      fail "could not convert $2"
  fi
  TAKEN+=("$2")
  echo "ok: $2"
}
# Raised first: with no window manager nothing else brings a window to the front.
click() {
  xdotool windowraise "$1"
  xdotool mousemove --window "$1" "$2" "$3" sleep 0.3 click 1
}
# keys WINDOW KEY...: the keys typed into the window. Without a window manager a new window does not
# always get the keyboard focus, so it is given the focus first.
keys() {
  xdotool windowfocus --sync "$1"
  shift
  xdotool key --delay 30 "$@"
}
# type_into WINDOW TEXT
type_into() {
  xdotool windowfocus --sync "$1"
  xdotool type --delay 30 "$2"
}
# button WINDOW INDEX: the centre of the main window's button INDEX (0..5, one row across the bottom).
button() {
  local WIDTH HEIGHT X Y SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  click "$1" $((WIDTH * (2 * $2 + 1) / 12)) $((HEIGHT - 33))
}
# password: answers the password window that the last click opened.
password() {
  expect 'Enter Password'
  type_into "$WIN" "$PASSWORD"
  keys "$WIN" Return
  expect_gone 'Enter Password'
}
MAIN='Marlume Veltrane Ver 3.0'

# start_in_tray: Veltrane from the program folder, in the tray; then its main window brought back with a
# double-click on the icon, in MAIN_ID. Each tour of windows below starts Veltrane afresh: on an X server
# without a window manager, once a modal window has closed, Qt no longer takes clicks on the main window.
start_in_tray() {
  start_veltrane
  wait_for 30 sh -c "$(declare -f tray_icon); tray_icon >/dev/null" || fail "the tray icon did not appear"
}
restore() {
  local x y
  read -r x y < <(tray_icon | sed -E 's/.*\+([0-9-]+)\+([0-9-]+)$/\1 \2/')
  xdotool mousemove $((x + 8)) $((y + 8)) click --repeat 2 --delay 80 1
  expect "$MAIN"
  MAIN_ID=$WIN
}
stop_veltrane() {
  kill "$VELTRANE" 2>/dev/null
  wait_for 10 sh -c "! kill -0 $VELTRANE 2>/dev/null" || fail "veltrane did not end"
  expect_gone "$MAIN"
}

# --- the tray and the main window; the password window, then the configuration window's tabs

start_in_tray
PANEL=$(xwininfo -root -tree | awk '/"panel"/ {print $1; exit}')
[ -n "$PANEL" ] && shoot "$PANEL" tray.png bare
wait_for 60 grep -q '^24360,' "$PROGRAM/veltrane.csv" 2>/dev/null || fail "no weighment was served"
restore
shoot "$MAIN_ID" main-window.png

button "$MAIN_ID" 0
expect 'Enter Password'
type_into "$WIN" "$PASSWORD"
shoot "$WIN" password.png
keys "$WIN" Return
expect_gone 'Enter Password'
expect 'Configuration'
previous=
for tab in interface weighment veltrane password feeds web-feed; do
  shoot "$WIN" "config-$tab.png"
  # The same picture twice means the key did not reach the window and the tab stayed.
  now=$(md5sum <"$OUT/config-$tab.png")
  [ "$now" != "$previous" ] || fail "the configuration window did not go on to its tab '$tab'"
  previous=$now
  keys "$WIN" ctrl+Tab
done
keys "$WIN" Escape
expect_gone 'Configuration'
stop_veltrane

# --- the weight-log viewer (no password), with the weighments of both starts

served=$(stat -c %i "$PROGRAM/veltrane.csv")
start_in_tray
# Each weighment replaces the file, so a new file is a new weighment.
wait_for 60 sh -c "[ \$(stat -c %i '$PROGRAM/veltrane.csv') != $served ]" || fail "no second weighment was served"
restore
button "$MAIN_ID" 2
expect 'Veltrane log data'
shoot "$WIN" log-viewer.png
stop_veltrane

# --- the wizard: its questions, the search, the offer

start_in_tray
restore
button "$MAIN_ID" 1
password
expect 'Veltrane'
shoot "$WIN" wizard-start.png
keys "$WIN" Return  # Yes
expect 'COM Port'
shoot "$WIN" wizard-port.png
keys "$WIN" Return  # port 1, the default
expect 'Max capacity'
shoot "$WIN" wizard-capacity.png
keys "$WIN" Return  # 60000, the default
expect 'Sample weight'
type_into "$WIN" 24360
shoot "$WIN" wizard-sample.png
keys "$WIN" Return
expect 'Veltrane'
keys "$WIN" Return  # the notice that the search starts
expect 'Veltrane'
keys "$WIN" Return  # Yes to asking a polled indicator: this one sends by itself, so nothing is asked
# The quick search runs first and takes about a second at 9600 baud: the picture shows it trying.
expect 'Delvorn : Quick search : .*' 20
shoot "$WIN" wizard-search.png
expect 'Veltrane' 90
shoot "$WIN" wizard-offer.png
[ -s "$PROGRAM/wizardreport.txt" ] || fail "the wizard wrote no report"
echo "--- the wizard's report"; tr -d '\r' <"$PROGRAM/wizardreport.txt"

kill -0 "$VELTRANE" 2>/dev/null || fail "veltrane ended"
# Every picture the guides and the README show must have been taken: a tab or window added to a guide
# without a step here would otherwise keep an old picture, or none.
for doc in "$ROOT"/docs/*.md "$ROOT"/README.md; do
  for picture in $(grep -o '(\(docs/\)\?images/[^)]*\.png)' "$doc" | sed -E 's/^\((docs\/)?images\/(.*)\)$/\2/'); do
    [[ " ${TAKEN[*]} " == *" $picture "* ]] ||
      fail "$(basename "$doc") shows images/$picture, which this script did not take"
  done
done
echo "PASS: $(ls "$OUT"/*.png | wc -l) pictures in $OUT, $(( $(date +%s) - start )) s"
exit 0
