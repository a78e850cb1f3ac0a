#!/usr/bin/env bash
# Set-up, build, and Veltrane's main job: serving weights from an indicator. With no indicator at hand
# the built-in simulator plays a weighbridge running truck cycles.
#
#   scripts/demo.sh          install, build, start the simulator and Veltrane in a demo program folder
#   scripts/demo.sh stop     stop what the last demo started
#
# The demo program folder (build/demo, or $VELTRANE_DEMO_DIR) is a copy of build/app with its own
# databases: automatic serving, the port opened at start, COM1 mapped to the simulator, and an access
# password of its own. With no display it starts Xvfb and a tray host (trayer) itself.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
DEMO=${VELTRANE_DEMO_DIR:-$ROOT/build/demo}
PIDS=$DEMO/demo.pids

stop_demo() {
  [ -f "$PIDS" ] || return 0
  # Only the processes this script started, newest first, each by its own id.
  tac "$PIDS" | while read -r pid name; do
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      echo "demo: stopped $name ($pid)"
    fi
  done
  rm -f "$PIDS"
}

if [ "${1:-}" = "stop" ]; then
  stop_demo
  exit 0
fi

scripts/setup.sh build
APP=$ROOT/build/app
for program in veltrane veltrane-mkdb indicator-sim; do
  if [ ! -x "$APP/$program" ]; then
    echo "demo: $program was not built; see the build output above" >&2
    exit 1
  fi
done

stop_demo
rm -rf "$DEMO"
mkdir -p "$DEMO"
# The programs, voice files and icons; the databases are made fresh below with the demo settings.
cp -a "$APP"/. "$DEMO"/
rm -f "$DEMO"/scale.mdb "$DEMO"/config.mdb "$DEMO"/veltrane.mdb "$DEMO"/veltrane.csv
: >"$PIDS"
started() { echo "$1 $2" >>"$PIDS"; }

PASSWORD=demo$(( (RANDOM % 9000) + 1000 ))
LINK=$DEMO/indicator.tty
"$DEMO"/veltrane-mkdb \
  --set pw="$PASSWORD" \
  --set Startauto=on \
  --set AutosaveonStableWeight=on \
  --set Startonbutton=off \
  --set FORWEIGHBRIDGE=on \
  --comport 1="$LINK" \
  "$DEMO" >/dev/null

# The live weight feed listens in the runtime folder; give the demo its own.
export XDG_RUNTIME_DIR=$DEMO/run
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
SOCKET=$XDG_RUNTIME_DIR/veltrane.dde

if [ -z "${DISPLAY:-}" ]; then
  display=99
  while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do display=$((display + 1)); done
  setsid Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$DEMO/xvfb.log" 2>&1 &
  started $! Xvfb
  export DISPLAY=:$display
  for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.1; done
  setsid trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 24 \
    >"$DEMO/trayer.log" 2>&1 &
  started $! trayer
  sleep 1
  echo "demo: no display, so Xvfb runs on $DISPLAY with trayer as the notification area"
fi

setsid "$DEMO"/indicator-sim --link "$LINK" --truck --no-stdin >"$DEMO/indicator-sim.log" 2>&1 &
started $! indicator-sim
for _ in $(seq 50); do [ -e "$LINK" ] && break; sleep 0.1; done
if [ ! -e "$LINK" ]; then
  echo "demo: the simulator did not start; see $DEMO/indicator-sim.log" >&2
  stop_demo
  exit 1
fi

(cd "$DEMO" && exec setsid ./veltrane >"$DEMO/veltrane.log" 2>&1) &
started $! veltrane

STOP="scripts/demo.sh stop"
[ -n "${VELTRANE_DEMO_DIR:-}" ] && STOP="VELTRANE_DEMO_DIR=$DEMO $STOP"
cat <<EOF

Veltrane is running from $DEMO against the indicator simulator
(a truck drives on, settles at 24360 kg and drives off, again and again).
It sits in the notification area; double-click its icon to bring the window back.
Access password for Configure, Wizard, Close, the port button and deleting log records: $PASSWORD

Where to look:
  served weights (CSV):  cat $DEMO/veltrane.csv
  weight log:            sqlcipher -cmd '.timeout 3000' $DEMO/scale.mdb "PRAGMA key='qd584'; select * from weightlog order by slno desc limit 5;"
  live weight:           (echo 'REQUEST veltrane weightdata'; sleep 1) | socat - UNIX-CONNECT:$SOCKET
                         (or: XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR DISPLAY=$DISPLAY $DEMO/quorlink)
  program output:        $DEMO/veltrane.log
To stop:                 $STOP

EOF

echo "demo: waiting for the first weighment (a truck cycle takes about half a minute)..."
for _ in $(seq 120); do
  if [ -s "$DEMO/veltrane.csv" ]; then
    echo "demo: served:"
    cat "$DEMO/veltrane.csv"
    exit 0
  fi
  if ! kill -0 "$(awk '$2 == "veltrane" {print $1}' "$PIDS")" 2>/dev/null; then
    echo "demo: veltrane ended; see $DEMO/veltrane.log" >&2
    exit 1
  fi
  sleep 1
done
echo "demo: nothing served within two minutes; see $DEMO/veltrane.log and $DEMO/indicator-sim.log" >&2
exit 1
