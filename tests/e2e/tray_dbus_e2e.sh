#!/usr/bin/env bash
# tray_dbus_e2e.sh APP_DIR SNI_WATCHER
# The real veltrane on a desktop whose tray speaks the StatusNotifierItem protocol over D-Bus (KDE Plasma,
# XFCE, LXQt, Cinnamon, GNOME with AppIndicator): a private session bus with sni-watcher as the panel, and
# no XEmbed tray. Such a panel never sends a double-click. Checks: veltrane goes to the tray at start, one
# activation of the icon brings the window back, and so does the icon's menu entry "Show Veltrane".
set -uo pipefail
APP=$1
WATCHER=$2

for tool in Xvfb dbus-daemon; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
for tool in dbus-send xdotool; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh installs it)"; exit 1; }
done
for program in "$APP/veltrane" "$APP/veltrane-mkdb" "$APP/indicator-sim" "$WATCHER"; do
  [ -x "$program" ] || { echo "FAIL: $program is not built"; exit 1; }
done

WORK=$(mktemp -d /tmp/veltrane-tray.XXXXXX)
PIDS=()
cleanup() {
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[i]}" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
  # The serial port's lock file outlives a program ended by a signal.
  [ -n "${LINK:-}" ] && rm -f "/var/lock/LCK..${LINK//\//_}"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- veltrane output"; cat "$WORK/veltrane.log" 2>/dev/null
  echo "--- sni-watcher output"; cat "$WORK/watcher.log" 2>/dev/null
  exit 1
}
wait_for() {
  local limit=$1; shift
  for ((t = 0; t < limit * 5; t++)); do "$@" && return 0; sleep 0.2; done
  return 1
}

PROGRAM=$WORK/program
mkdir -p "$PROGRAM"
cp "$APP/veltrane" "$APP/PN.ICO" "$APP/SCALE.ICO" "$APP/h_point.cur" "$PROGRAM/"
# Port 1 is the simulator's pty: the test must not take the machine's own /dev/ttyS0.
LINK=$WORK/indicator.tty
"$APP/veltrane-mkdb" --set pw=e2e-secret --comport 1="$LINK" "$PROGRAM" >/dev/null || fail "veltrane-mkdb"
"$APP/indicator-sim" --link "$LINK" --no-stdin >/dev/null 2>&1 &
PIDS+=($!)
wait_for 10 test -e "$LINK" || fail "indicator-sim did not make $LINK"

export XDG_RUNTIME_DIR=$WORK/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

dbus-daemon --session --fork --address="unix:path=$WORK/bus" --print-pid=1 >"$WORK/bus.pid" ||
  fail "dbus-daemon did not start"
PIDS+=("$(cat "$WORK/bus.pid")")
export DBUS_SESSION_BUS_ADDRESS="unix:path=$WORK/bus"
"$WATCHER" >"$WORK/watcher.log" 2>&1 &
PIDS+=($!)
wait_for 10 grep -q '^ready' "$WORK/watcher.log" || fail "sni-watcher did not start"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.log" &
PIDS+=($!)
wait_for 10 grep -q '[0-9]' "$WORK/display" || fail "Xvfb did not start"
export DISPLAY=:$(cat "$WORK/display")

(cd "$PROGRAM" && exec ./veltrane >"$WORK/veltrane.log" 2>&1) &
VELTRANE=$!
PIDS+=($VELTRANE)

main_shown() { [ -n "$(xdotool search --onlyvisible --name 'Marlume Veltrane Ver 3.0' 2>/dev/null)" ]; }
items() { grep -c '^item ' "$WORK/watcher.log"; }
# The icon registered last: "<bus name> <object path>".
item() { grep '^item ' "$WORK/watcher.log" | tail -1 | cut -d' ' -f2-; }

wait_for 30 sh -c "grep -q '^item ' '$WORK/watcher.log'" || fail "no icon registered with the watcher"
main_shown && fail "the main window is shown after start; it belongs in the tray"
echo "ok: in the D-Bus tray after start ($(item))"

read -r SERVICE OBJECT < <(item)
dbus-send --session --type=method_call --dest="$SERVICE" "$OBJECT" org.kde.StatusNotifierItem.Activate \
  int32:0 int32:0 || fail "Activate"
wait_for 10 main_shown || fail "a single activation did not bring the window back"
echo "ok: one activation restored the window"

# The Minimize button (no window manager here, so no title-bar button) sends it back to the tray,
# where the icon registers again.
before=$(items)
WINDOW=$(xdotool search --onlyvisible --name 'Marlume Veltrane Ver 3.0' | head -1)
eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
xdotool mousemove --window "$WINDOW" $((WIDTH * 9 / 12)) $((HEIGHT - 35)) click 1
wait_for 10 sh -c "[ \$(grep -c '^item ' '$WORK/watcher.log') -gt $before ]" || fail "Minimize did not go back to the tray"
wait_for 10 sh -c "$(declare -f main_shown); ! main_shown" || fail "the window is still shown after Minimize"

# The panel shows the icon's menu from its dbusmenu layout and reports the chosen entry as "clicked".
read -r SERVICE OBJECT < <(item)
layout=$(dbus-send --session --print-reply --type=method_call --dest="$SERVICE" /MenuBar \
  com.canonical.dbusmenu.GetLayout int32:0 int32:-1 array:string:) || fail "GetLayout"
# Each entry is "struct { int32 <id> array [ ... string "label" variant string "<text>" ... ] ...}".
id=$(echo "$layout" | awk '/int32/ { id = $2 } /"Show Veltrane"/ { print id; exit }')
[ -n "$id" ] || fail "no \"Show Veltrane\" in the icon's menu: $layout"
dbus-send --session --type=method_call --dest="$SERVICE" /MenuBar com.canonical.dbusmenu.Event \
  int32:"$id" string:clicked variant:int32:0 uint32:0 || fail "menu event"
wait_for 10 main_shown || fail "\"Show Veltrane\" did not bring the window back"
echo "ok: \"Show Veltrane\" restored the window"

kill -0 $VELTRANE 2>/dev/null || fail "veltrane ended"
echo "PASS"
exit 0
