#!/usr/bin/env bash
# tray_dbus_e2e.sh APP_DIR SNI_WATCHER
# The real veltrane on a desktop whose tray speaks the StatusNotifierItem protocol over D-Bus (KDE Plasma,
# XFCE, LXQt, Cinnamon, GNOME with AppIndicator): a private session bus with sni-watcher as the panel, and
# no XEmbed tray. Such a panel never sends a double-click. Checks: veltrane goes to the tray at start, one
# activation of the icon brings the window back, and so does the icon's menu entry "Show Veltrane".
set -uo pipefail
APP=$1
WATCHER=$2
. "$(dirname "$0")/../support/whole_program.sh"

skip_without Xvfb dbus-daemon
need dbus-send xdotool
need_built "$APP" veltrane veltrane-mkdb indicator-sim
[ -x "$WATCHER" ] || { echo "FAIL: $WATCHER is not built"; exit 1; }
begin_work veltrane-tray
show_logs() {
  echo "--- veltrane output"; cat "$WORK/veltrane.log" 2>/dev/null
  echo "--- sni-watcher output"; cat "$WORK/watcher.log" 2>/dev/null
}

# Port 1 is the simulator's pty: the test must not take the machine's own /dev/ttyS0.
make_program "$APP" --set pw=e2e-secret
start_sim "$APP"
start_display notray

dbus-daemon --session --fork --address="unix:path=$WORK/bus" --print-pid=1 >"$WORK/bus.pid" ||
  fail "dbus-daemon did not start"
PIDS+=("$(cat "$WORK/bus.pid")")
export DBUS_SESSION_BUS_ADDRESS="unix:path=$WORK/bus"
"$WATCHER" >"$WORK/watcher.log" 2>&1 &
PIDS+=($!)
wait_for 10 grep -q '^ready' "$WORK/watcher.log" || fail "sni-watcher did not start"

start_veltrane

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
