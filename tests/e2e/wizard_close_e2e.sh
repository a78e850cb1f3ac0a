#!/usr/bin/env bash
# wizard_close_e2e.sh APP_DIR
# Closing the main window while the wizard searches ends the program: the real veltrane under its own
# Xvfb and trayer, indicator-sim on a pty, the wizard started through its questions as an operator
# answers them. Once the search runs, the window gets the title bar's close (WM_DELETE_WINDOW, as a
# window manager sends it). Checks: the program ends, no process of it holds the pty any more, and the
# settings are as they were before the search began.
set -uo pipefail
APP=$1
. "$(dirname "$0")/../support/whole_program.sh"

skip_without Xvfb
need trayer xdotool xwininfo sqlcipher fuser python3
need_built "$APP" veltrane veltrane-mkdb indicator-sim
begin_work veltrane-wizard-close
show_logs() { echo "--- veltrane output"; cat "$WORK/veltrane.log" 2>/dev/null; }

PASSWORD=close-secret
make_program "$APP" --set pw="$PASSWORD" --set Startauto=on
settings() {
  sqlcipher -cmd ".timeout 5000" "$PROGRAM/scale.mdb" "PRAGMA key='qd584'; select * from config;
    select * from comports;" 2>&1 | grep -vx ok
}
start_display
# A truck that stays on the platform: a steady weight for the wizard.
start_sim "$APP" --program 0:1,24360:1 --once
DEVICE=$(readlink -f "$LINK")
start_veltrane

MAIN='Marlume Veltrane Ver 3.0'
window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
expect() { wait_for "${2:-15}" sh -c "$(declare -f window); [ -n \"\$(window '$1')\" ]" || fail "no window '$1'"; }
answer() {  # answer TITLE [TEXT]: types TEXT into the window TITLE, then Return
  expect "$1"
  local w
  w=$(window "$1")
  xdotool windowfocus --sync "$w"
  [ -z "${2:-}" ] || xdotool type --delay 30 "$2"
  xdotool key Return
}

wait_for 30 sh -c "$(declare -f tray_icon); tray_icon >/dev/null" || fail "no tray icon"
read -r x y < <(tray_icon | sed -E 's/.*\+([0-9-]+)\+([0-9-]+)$/\1 \2/')
xdotool mousemove $((x + 8)) $((y + 8)) click --repeat 2 --delay 80 1
expect "$MAIN"
WINDOW=$(window "$MAIN")
eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
xdotool mousemove --window "$WINDOW" $((WIDTH * 3 / 12)) $((HEIGHT - 33)) click 1  # Wizard
answer 'Enter Password' "$PASSWORD"
answer Veltrane  # Yes, proceed
answer 'COM Port'
answer 'Max capacity'
answer 'Sample weight' 24360
answer Veltrane  # the notice that the search starts
answer Veltrane  # Yes to asking a polled indicator: this one sends by itself, so nothing is asked
# The quick search runs first, and finds the simulator at once; the close ends it as it ends the designed one.
expect 'Delvorn : Quick search : .*' 20
before=$(settings)
echo "ok: the search runs: $(xdotool getwindowname "$WINDOW")"

# The title bar's close: what a window manager sends when the operator clicks it.
python3 - "$WINDOW" <<'PY' || fail "could not send WM_DELETE_WINDOW"
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(Event)]
x.XFlush.argtypes = [ctypes.c_void_p]
display = x.XOpenDisplay(None)
window = int(sys.argv[1])
event = Event()
event.xclient.type = 33  # ClientMessage
event.xclient.window = window
event.xclient.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
event.xclient.format = 32
event.xclient.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
sys.exit(0 if x.XSendEvent(display, window, 0, 0, ctypes.byref(event)) and x.XFlush(display) else 1)
PY
closed=$(date +%s%N)
wait_for 10 sh -c "! xwininfo -id $WINDOW 2>/dev/null | grep -q IsViewable" || fail "the window did not close"
# Well under the 15 s before the quick search's offer.
wait_for 10 sh -c "! kill -0 $VELTRANE 2>/dev/null" || fail "veltrane still runs 10 s after its window was closed"
echo "ok: veltrane ended within $(( ($(date +%s%N) - closed) / 1000000 )) ms of its window's close"
users=$(fuser "$DEVICE" 2>/dev/null)
[[ " $users " != *" $VELTRANE "* ]] || fail "$DEVICE is still held by veltrane"
[ "$(settings)" = "$before" ] || fail "the settings changed after the close: $(diff <(echo "$before") <(settings))"
echo "ok: the port is free and the settings are as before the close"
echo PASS
exit 0
