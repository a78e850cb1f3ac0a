# Sourced by the whole-program tests and scripts (bash): a work folder removed at exit with every process
# started for the test, waits by condition, a fresh program folder, a display with a tray, the simulator.
# Sets WORK, PIDS, PROGRAM, LINK and VELTRANE for the caller to use. A caller may define show_logs (run
# by fail) and before_end_work (run first at exit).

skip_without() {
  local tool
  for tool; do command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }; done
}
need() {
  local tool
  for tool; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh installs it)"; exit 1; }
  done
}
# need_built APP PROGRAM...
need_built() {
  local app=$1 program
  shift
  for program; do [ -x "$app/$program" ] || { echo "FAIL: $app/$program is not built"; exit 1; }; done
}

PIDS=()
# begin_work NAME [PARENT_FOLDER]
begin_work() {
  WORK=$(mktemp -d "${2:-/tmp}/$1.XXXXXX")
  trap end_work EXIT
}
end_work() {
  declare -F before_end_work >/dev/null && before_end_work
  local i
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[i]}" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
  # The serial port's lock file outlives a program ended by a signal.
  [ -n "${LINK:-}" ] && rm -f "/var/lock/LCK..${LINK//\//_}"
}
fail() {
  echo "FAIL: $*"
  declare -F show_logs >/dev/null && show_logs
  exit 1
}
# wait_for SECONDS COMMAND...: polls until the command succeeds.
wait_for() {
  local limit=$1 t
  shift
  for ((t = 0; t < limit * 10; t++)); do "$@" && return 0; sleep 0.1; done
  return 1
}

# make_program APP [veltrane-mkdb options...]: PROGRAM, a fresh program folder whose port 1 is LINK.
make_program() {
  local app=$1
  shift
  PROGRAM=$WORK/program
  LINK=$WORK/indicator.tty
  mkdir -p "$PROGRAM"
  cp "$app/veltrane" "$app/PN.ICO" "$app/SCALE.ICO" "$app/h_point.cur" "$PROGRAM/"
  "$app/veltrane-mkdb" "$@" --comport 1="$LINK" "$PROGRAM" >/dev/null || fail "veltrane-mkdb"
}

# start_display [notray]: a private runtime folder, Xvfb on a free display, and trayer as the
# notification area (an XEmbed tray only: no session bus, so no StatusNotifierItem panel Qt would prefer).
start_display() {
  export XDG_RUNTIME_DIR=$WORK/run
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  unset WAYLAND_DISPLAY
  export QT_QPA_PLATFORM=xcb
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
  PIDS+=($!)
  wait_for 20 test -s "$WORK/display" || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
  export DISPLAY=:$(head -1 "$WORK/display")
  [ "${1:-}" = notray ] && return
  export DBUS_SESSION_BUS_ADDRESS=disabled:
  trayer --edge top --align right --widthtype pixel --width 100 --heighttype pixel --height 24 \
    >"$WORK/trayer.log" 2>&1 &
  PIDS+=($!)
  wait_for 20 sh -c 'xwininfo -root -tree | grep -q "\"panel\""' || fail "the tray host (trayer) did not start"
}

# start_sim APP [indicator-sim options...]: the simulator on LINK, its output in $WORK/sim.log.
start_sim() {
  local app=$1
  shift
  "$app/indicator-sim" --link "$LINK" --no-stdin "$@" >"$WORK/sim.log" 2>&1 &
  PIDS+=($!)
  wait_for 20 test -e "$LINK" || fail "indicator-sim did not make $LINK"
}

# start_veltrane: the program from its folder, its output added to $WORK/veltrane.log.
start_veltrane() {
  (cd "$PROGRAM" && exec ./veltrane >>"$WORK/veltrane.log" 2>&1) &
  VELTRANE=$!
  PIDS+=($VELTRANE)
}

# The icon in trayer, and whether the main window is shown.
tray_icon() { xwininfo -root -tree | grep '"veltrane": ("veltrane" "veltrane")' | grep -v 'Ver 3.0'; }
main_shown() { [ -n "$(xdotool search --onlyvisible --name 'Marlume Veltrane Ver 3.0' 2>/dev/null)" ]; }
