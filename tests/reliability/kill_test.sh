#!/usr/bin/env bash
# kill_test.sh KILLS APP_DIR WORK_PARENT
# Nothing served is lost: the real veltrane (under its own Xvfb and trayer) serves fast truck cycles
# from indicator-sim and is killed with SIGKILL at random moments, KILLS times, restarted each time.
# After every kill: scale.mdb passes PRAGMA integrity_check, veltrane.csv is whole (a heading and one
# weighment, never empty or cut), and every weighment ever seen in veltrane.csv is in the weight log.
set -uo pipefail
KILLS=$1
APP=$2
mkdir -p "$3"

command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed"; exit 77; }
for tool in trayer xwininfo sqlcipher; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh installs it)"; exit 1; }
done
for program in veltrane veltrane-mkdb indicator-sim; do
  [ -x "$APP/$program" ] || { echo "FAIL: $APP/$program is not built"; exit 1; }
done

WORK=$(mktemp -d "$3/veltrane-kill.XXXXXX")
PIDS=()
VELTRANE=
cleanup() {
  [ -n "$VELTRANE" ] && kill -9 "$VELTRANE" 2>/dev/null
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[i]}" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "FAIL after $survived kill(s): $*"
  echo "--- veltrane output (last run)"; tail -20 "$WORK/veltrane.log" 2>/dev/null
  exit 1
}
wait_for() {
  local limit=$1; shift
  for ((t = 0; t < limit * 10; t++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
survived=0

PROGRAM=$WORK/program
mkdir -p "$PROGRAM"
cp "$APP/veltrane" "$APP/PN.ICO" "$APP/SCALE.ICO" "$APP/h_point.cur" "$PROGRAM/"
LINK=$WORK/indicator.tty
"$APP/veltrane-mkdb" --set pw=kill-secret --set Startauto=on --set AutosaveonStableWeight=on \
  --comport 1="$LINK" "$PROGRAM" >/dev/null || fail "veltrane-mkdb"
CSV=$PROGRAM/veltrane.csv

export XDG_RUNTIME_DIR=$WORK/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb
display=120
while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
export DISPLAY=:$display
wait_for 20 test -e /tmp/.X11-unix/X$display || fail "Xvfb did not start"
trayer --edge top --align right --widthtype pixel --width 100 --heighttype pixel --height 24 >"$WORK/trayer.log" 2>&1 &
PIDS+=($!)
wait_for 20 sh -c 'xwininfo -root -tree | grep -q "\"panel\""' || fail "trayer did not start"

# Trucks of three weights, each standing still about a second: a serving every second or two.
"$APP/indicator-sim" --link "$LINK" --rate 25 --program 0:0.4,1111:1,0:0.4,2222:1,0:0.4,3333:1 --no-stdin \
  >"$WORK/sim.log" 2>&1 &
PIDS+=($!)
wait_for 20 test -e "$LINK" || fail "indicator-sim did not make $LINK"

# Every content veltrane.csv ever shows, as a reader polling it would see it.
SEEN=$WORK/seen.txt
: >"$SEEN"
(
  last=
  while :; do
    if [ -e "$CSV" ]; then
      content=$(base64 -w0 "$CSV")
      [ "$content" != "$last" ] && { echo "$content" >>"$SEEN"; last=$content; }
    fi
    sleep 0.02
  done
) &
PIDS+=($!)

sql() { sqlcipher -cmd ".timeout 10000" "$PROGRAM/scale.mdb" "PRAGMA key='qd584'; $1" 2>&1 | grep -vx ok; }

check_after_kill() {
  local integrity data weight when line
  integrity=$(sqlcipher -cmd ".timeout 10000" "$PROGRAM/scale.mdb" "PRAGMA key='qd584'; PRAGMA integrity_check;" 2>&1 | sort -u)
  [ "$integrity" = "ok" ] || fail "integrity_check: $integrity"
  if [ -e "$CSV" ]; then
    IFS= read -r -d '' data <"$CSV"
    [[ $data =~ ^Weight,Datetime$'\r\n'([0-9.]+),([0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2})$'\r\n'$ ]] ||
      fail "veltrane.csv is not whole: $(od -c "$CSV" | head -5)"
  fi
  # Each content ever seen is whole too, and its weighment is in the log (the log's time is taken a
  # moment apart from the file's, so within 2 s). One read of the log per kill.
  sql "select weight || ' ' || strftime('%s', Datetime) from weightlog;" >"$WORK/log.txt"
  sort -u "$SEEN" | while read -r line; do
    data=$(echo "$line" | base64 -d)
    [[ $data =~ ^Weight,Datetime$'\r\n'([0-9.]+),([0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2})$'\r'$ ]] ||
      { echo "veltrane.csv was seen cut: $(echo "$line" | base64 -d | od -c | head -3)"; exit 1; }
    echo "${BASH_REMATCH[1]} $(date -u -d "${BASH_REMATCH[2]}" +%s) ${BASH_REMATCH[2]}"
  done >"$WORK/seen-weighments.txt" || fail "$(tail -1 "$WORK/seen-weighments.txt")"
  awk 'NR == FNR { logged[$1] = logged[$1] " " $2; next }
       { found = 0; n = split(logged[$1], times, " ");
         for (i = 1; i <= n; i++) if (times[i] - $2 <= 2 && $2 - times[i] <= 2) found = 1;
         if (!found) { print $1 " at " $3 " " $4 " was in veltrane.csv but is not in the weight log"; bad = 1 } }
       END { exit bad }' "$WORK/log.txt" "$WORK/seen-weighments.txt" >"$WORK/missing.txt" ||
    fail "$(head -3 "$WORK/missing.txt")"
}

# The running program's live feed is for this user only, and it listens on no network interface.
check_program_sockets() {
  local socket=$XDG_RUNTIME_DIR/veltrane.dde inode
  wait_for 30 test -S "$socket" || fail "no live-feed socket at $socket"
  [ "$(stat -c '%a %U' "$socket")" = "600 $(id -un)" ] || fail "live-feed socket is $(stat -c '%a %U' "$socket")"
  [ "$(stat -c '%a' "$XDG_RUNTIME_DIR")" = 700 ] || fail "runtime folder is $(stat -c '%a' "$XDG_RUNTIME_DIR")"
  for inode in $(find /proc/"$VELTRANE"/fd -lname 'socket:*' -printf '%l\n' 2>/dev/null | tr -dc '0-9\n'); do
    for table in tcp tcp6 udp udp6 raw raw6; do
      awk -v i="$inode" 'NR > 1 && $10 == i { found = 1 } END { exit !found }' /proc/"$VELTRANE"/net/$table &&
        fail "veltrane has a $table socket (inode $inode)"
    done
  done
  echo "ok: the live feed is private (0600, $(id -un)) and veltrane has no network socket"
}

for ((k = 1; k <= KILLS; k++)); do
  (cd "$PROGRAM" && exec ./veltrane >"$WORK/veltrane.log" 2>&1) &
  VELTRANE=$!
  [ "$k" = 1 ] && check_program_sockets
  # Anywhere from the middle of the start-up to several servings in.
  sleep "$((RANDOM % 40 / 10)).$((RANDOM % 10))$((RANDOM % 10))"
  kill -0 "$VELTRANE" 2>/dev/null || fail "veltrane ended by itself before kill $k"
  kill -9 "$VELTRANE"
  wait "$VELTRANE" 2>/dev/null
  VELTRANE=
  check_after_kill
  survived=$k
done

served=$(sql "select count(*) from weightlog;")
echo "kills survived: $survived, weighments logged: $served, file contents seen: $(sort -u "$SEEN" | wc -l)"
[ "$served" -ge 1 ] || fail "nothing was served in $KILLS runs"
echo PASS
