#!/usr/bin/env bash
# examples_test.sh APP_DIR EXAMPLES_DIR
# Runs every example of the integration guide against the real veltrane, fed by indicator-sim, and checks
# what each prints: first with the CSV output, then with the export database. Each example runs by its
# path, as a reader runs it: through its own first line and its file mode.
set -uo pipefail
APP=$1
EXAMPLES=$2

for tool in socat python3 node sqlcipher sqlite3 setsid mosquitto mosquitto_sub mosquitto_pub curl; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh installs it)"; exit 1; }
done
for program in veltrane veltrane-mkdb indicator-sim; do
  [ -x "$APP/$program" ] || { echo "FAIL: $APP/$program is not built"; exit 1; }
done

WORK=$(mktemp -d /tmp/veltrane-examples.XXXXXX)
PIDS=()
cleanup() {
  # Each process was started as the leader of its own group: its children go with it.
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill -- "-${PIDS[i]}" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
  # The serial port's lock file outlives a program ended by a signal.
  [ -n "${LINK:-}" ] && rm -f "/var/lock/LCK..${LINK//\//_}"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- veltrane output"; cat "$WORK"/veltrane-*.log 2>/dev/null
  exit 1
}
wait_for() {
  local limit=$1; shift
  for ((t = 0; t < limit * 10; t++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
# check NAME OUTPUT REGEX: every line of OUTPUT matches REGEX, and there is at least one.
check() {
  [ -n "$2" ] || fail "$1 printed nothing"
  while IFS= read -r line; do
    [[ $line =~ $3 ]] || fail "$1 printed '$line'"
  done <<<"$2"
  echo "ok: $1: $(tr '\n' ' ' <<<"$2")"
}

export XDG_RUNTIME_DIR=$WORK/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen
SOCKET=$XDG_RUNTIME_DIR/veltrane.dde
LINK=$WORK/indicator.tty

# An empty platform for 2 seconds, a truck for 4, again and again: the weight changes every few seconds
# and each truck is one weighment.
setsid "$APP/indicator-sim" --link "$LINK" --program 0:2,24360:4 --no-stdin >"$WORK/sim.log" 2>&1 &
PIDS+=($!)
wait_for 10 test -e "$LINK" || fail "indicator-sim did not make $LINK"

# start_veltrane NAME [--set COLUMN=VALUE...]: a fresh program folder $WORK/NAME, serving automatically.
start_veltrane() {
  local name=$1; shift
  PROGRAM=$WORK/$name
  mkdir -p "$PROGRAM"
  cp "$APP/veltrane" "$APP/PN.ICO" "$APP/SCALE.ICO" "$APP/h_point.cur" "$PROGRAM/"
  "$APP/veltrane-mkdb" --set pw=examples --set Startauto=on --set AutosaveonStableWeight=on "$@" \
    --comport 1="$LINK" "$PROGRAM" >/dev/null || fail "veltrane-mkdb $name"
  # FEEDS="column = value, ...": settings of table feeds for this folder.
  [ -z "${FEEDS:-}" ] || sqlcipher "$PROGRAM/scale.mdb" "PRAGMA key='qd584'; update feeds set $FEEDS;" >/dev/null ||
    fail "feeds $name"
  (cd "$PROGRAM" && exec setsid ./veltrane >"$WORK/veltrane-$name.log" 2>&1) &
  VELTRANE=$!
  PIDS+=($VELTRANE)
  wait_for 30 test -S "$SOCKET" || fail "no live feed socket at $SOCKET"
}
stop_veltrane() {
  kill "$VELTRANE" && wait "$VELTRANE" 2>/dev/null
  wait_for 10 sh -c "! kill -0 $VELTRANE 2>/dev/null" || fail "veltrane did not end"
}

# --- CSV output, the live feed and the weight log
start_veltrane csv
wait_for 60 grep -q '^24360,' "$PROGRAM/veltrane.csv" 2>/dev/null || fail "no weighment in the CSV file"

WEIGHT='^(0|24360)$'
check "live-weight.sh" "$("$EXAMPLES/live-weight.sh")" "$WEIGHT"
check "live_weight.py" "$("$EXAMPLES/live_weight.py")" "$WEIGHT"
check "live_weight.js" "$("$EXAMPLES/live_weight.js")" "$WEIGHT"

# The three followers together: each must tell both the empty platform and the truck.
FOLLOWERS=(live-weight.sh live_weight.py live_weight.js)
for example in "${FOLLOWERS[@]}"; do
  setsid "$EXAMPLES/$example" --follow >"$WORK/$example.out" 2>&1 </dev/null &
  PIDS+=($!)
done
for example in "${FOLLOWERS[@]}"; do
  wait_for 20 sh -c "grep -qx 0 '$WORK/$example.out' && grep -qx 24360 '$WORK/$example.out'" ||
    fail "$example --follow did not tell both weights: $(cat "$WORK/$example.out")"
done
sleep 1
for example in "${FOLLOWERS[@]}"; do
  check "$example --follow" "$(cat "$WORK/$example.out")" "$WEIGHT"
done

check "latest-weighment.sh" "$("$EXAMPLES/latest-weighment.sh" "$PROGRAM")" \
  '^24360 [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$'
check "weight-log.sh" "$("$EXAMPLES/weight-log.sh" "$PROGRAM" 3)" \
  '^[0-9]+\|[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\|24360$'
# A truck after the first: the weight log keeps both, the CSV file only the latest.
wait_for 30 sh -c "[ \$('$EXAMPLES/weight-log.sh' '$PROGRAM' | wc -l) -ge 2 ]" ||
  fail "weight-log.sh did not list a second weighment"
[ "$("$EXAMPLES/weight-log.sh" "$PROGRAM" 1 | wc -l)" = 1 ] || fail "weight-log.sh ignored its COUNT"
echo "ok: weight-log.sh lists every weighment, newest first"
stop_veltrane

# --- the export database
start_veltrane export --set "outputFiletype=Access file with three fields"
exported() { "$EXAMPLES/export-database.sh" "$PROGRAM" 2>/dev/null | grep -q '|24360$'; }
wait_for 60 exported || fail "export-database.sh: $("$EXAMPLES/export-database.sh" "$PROGRAM" 2>&1)"
[ ! -e "$PROGRAM/veltrane.csv" ] || fail "the export database output also wrote veltrane.csv"
# Every weighment rewrites the one row.
first=$("$EXAMPLES/export-database.sh" "$PROGRAM")
wait_for 30 sh -c "[ \"\$('$EXAMPLES/export-database.sh' '$PROGRAM')\" != '$first' ]" ||
  fail "the export database was not rewritten by the next weighment"
check "export-database.sh" "$("$EXAMPLES/export-database.sh" "$PROGRAM")" \
  '^1\|[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\|24360$'
stop_veltrane

# --- the broker feed: a mosquitto of the test's own on a free loopback port, the feed's default topic
PORT=20000
while (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; do PORT=$((PORT + 1)); done
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$PORT" >"$WORK/broker.conf"
setsid mosquitto -c "$WORK/broker.conf" >"$WORK/broker.log" 2>&1 & PIDS+=($!)
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT" 2>/dev/null || fail "mosquitto did not start"
setsid "$EXAMPLES/mqtt-weighments.sh" 127.0.0.1 "$PORT" >"$WORK/mqtt.out" 2>&1 </dev/null & PIDS+=($!)
FEEDS="mqttfeed = -1, mqtthost = '127.0.0.1', mqttport = $PORT" start_veltrane mqtt
MQTT='^veltrane/[^ ]+ [0-9]+ 24360 [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$'
wait_for 60 grep -Eq "$MQTT" "$WORK/mqtt.out" || fail "mqtt-weighments.sh: $(cat "$WORK/mqtt.out")"
# A repeat of the first weighment, as a re-sent one would come: it is not printed again.
read -r site slno weight when < <(head -1 "$WORK/mqtt.out")
logid=$(sqlcipher -cmd ".timeout 10000" "$PROGRAM/scale.mdb" "PRAGMA key='qd584'; select value from loginfo where name = 'logid';" | grep -vx ok)
mosquitto_pub -p "$PORT" -q 1 -t "$site/weighment" -m "{\"slno\": $slno, \"weight\": \"$weight\", \"datetime\": \"$when\", \"logid\": \"$logid\", \"digest\": null, \"site\": \"$site\"}"
wait_for 30 sh -c "[ \$(wc -l <'$WORK/mqtt.out') -ge 2 ]" || fail "mqtt-weighments.sh printed one weighment only"
check "mqtt-weighments.sh" "$(cat "$WORK/mqtt.out")" "$MQTT"
[ "$(cut -d' ' -f1,2 "$WORK/mqtt.out" | sort | uniq -d)" = "" ] || fail "mqtt-weighments.sh printed a repeat"
stop_veltrane

# --- the web feed, with a token, on a free loopback port
PORT=$((PORT + 1))
while (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; do PORT=$((PORT + 1)); done
export VELTRANE_URL=http://127.0.0.1:$PORT VELTRANE_TOKEN=examples-token
FEEDS="httpfeed = -1, httpport = $PORT, httptoken = '$VELTRANE_TOKEN'" start_veltrane web
wait_for 30 sh -c "'$EXAMPLES/web-weight.sh' 2>/dev/null | grep -q ." || fail "web-weight.sh: $("$EXAMPLES/web-weight.sh" 2>&1)"
check "web-weight.sh" "$("$EXAMPLES/web-weight.sh")" "$WEIGHT"
check "web_weight.js" "$("$EXAMPLES/web_weight.js")" "$WEIGHT"
WEB=(web-weight.sh web_weight.js)
for example in "${WEB[@]}"; do
  setsid "$EXAMPLES/$example" --follow >"$WORK/$example.out" 2>&1 </dev/null &
  PIDS+=($!)
done
for example in "${WEB[@]}"; do
  wait_for 30 sh -c "grep -qx 'weight 0' '$WORK/$example.out' && grep -q '^served ' '$WORK/$example.out'" ||
    fail "$example --follow did not tell the weights and a weighment: $(cat "$WORK/$example.out")"
  check "$example --follow" "$(cat "$WORK/$example.out")" \
    '^(weight (0|24360)|served [0-9]+ 24360 [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2})$'
done
# A refused request is a failure to a calling script: a wrong token, once and following, and a whole
# line (with its newline) when it works.
[ "$("$EXAMPLES/web-weight.sh" | wc -l)" = 1 ] || fail "web-weight.sh did not print one whole line"
for example in "${WEB[@]}"; do
  for mode in "" --follow; do
    VELTRANE_TOKEN=wrong timeout 10 "$EXAMPLES/$example" $mode >/dev/null 2>&1
    status=$?
    [ "$status" != 0 ] && [ "$status" != 124 ] || fail "$example $mode ended with $status against a wrong token"
  done
done
echo "ok: web-weight.sh and web_weight.js fail against a wrong token"
stop_veltrane

echo "PASS"
