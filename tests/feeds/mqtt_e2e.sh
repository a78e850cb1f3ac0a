#!/usr/bin/env bash
# mqtt_e2e.sh APP_DIR
# The broker feed as a site meets it: the real veltrane (offscreen) fed by indicator-sim, a real
# mosquitto on free loopback ports with its own configuration, mosquitto_sub as the subscriber.
# Checks: every weighment arrives once and in order; the weighments served while the broker is stopped
# all arrive after it returns; a weighment whose acknowledgement never came (broker frozen, veltrane
# killed) goes again after veltrane restarts; TLS checks the broker's name against the certificate
# store; a wrong password, an unreachable address or a name that does not resolve never holds up the
# program (its live feed keeps answering at once while it serves); after a kill whose connection the
# broker still holds (a proxy keeps it open silently), the restarted program's "online" is not undone
# by the old connection's will.
set -uo pipefail
APP=$1
. "$(dirname "$0")/../support/whole_program.sh"
need mosquitto mosquitto_sub mosquitto_passwd sqlcipher socat openssl

begin_work veltrane-mqtt
LINK=$WORK/indicator.tty
VELTRANE= BROKER=
before_end_work() {
  [ -n "$VELTRANE" ] && kill -9 "$VELTRANE" 2>/dev/null
  [ -n "$BROKER" ] && kill -CONT "$BROKER" 2>/dev/null && kill "$BROKER" 2>/dev/null
}
show_logs() {
  echo "--- veltrane output"; tail -20 "$WORK/veltrane.log" 2>/dev/null
  echo "--- broker log"; tail -20 "$WORK/broker.log" 2>/dev/null
}
free_port() {
  local p=$((20000 + RANDOM % 40000))
  while (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; do p=$((p + 1)); done
  echo "$p"
}
PORT=$(free_port) TLS_PORT=$(free_port) AUTH_PORT=$(free_port)

# A certificate authority of the test's own, and a broker certificate for the name localhost only.
cd "$WORK" || exit 1
ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
openssl req -x509 "${ec[@]}" -keyout ca.key -out ca.pem -days 2 -subj /CN=veltrane-test-ca 2>/dev/null &&
  openssl req "${ec[@]}" -keyout broker.key -out broker.csr -subj /CN=localhost 2>/dev/null &&
  openssl x509 -req -in broker.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out broker.pem -days 2 \
    -extfile <(echo subjectAltName=DNS:localhost) 2>/dev/null || fail "making certificates"
mosquitto_passwd -b -c passwords weigher right-password || fail "mosquitto_passwd"
cat >broker.conf <<CONF
per_listener_settings true
persistence true
persistence_location $WORK/
user $(id -un)
listener $PORT 127.0.0.1
allow_anonymous true
listener $TLS_PORT 127.0.0.1
allow_anonymous true
certfile $WORK/broker.pem
keyfile $WORK/broker.key
listener $AUTH_PORT 127.0.0.1
password_file $WORK/passwords
CONF
start_broker() {
  mosquitto -c broker.conf >>broker.log 2>&1 &
  BROKER=$!
  wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT" 2>/dev/null || fail "mosquitto did not start"
}
start_broker

PROGRAM=$WORK/program
mkdir -p "$PROGRAM"
cp "$APP/veltrane" "$PROGRAM/"
"$APP/veltrane-mkdb" --set pw=mqtt-secret --set Startauto=on --set AutosaveonStableWeight=on \
  --comport 1="$WORK/indicator.tty" "$PROGRAM" >/dev/null || fail "veltrane-mkdb"
sql() { sqlcipher -cmd ".timeout 10000" "$PROGRAM/scale.mdb" "PRAGMA key='qd584'; $1" 2>&1 | grep -vx ok; }
broker_settings() { sql "update feeds set mqttfeed = -1, mqttuser = null, mqttpassword = null, mqtttls = 0, $1;"; }
logged() { sql "select slno from weightlog order by slno;"; }
at_least() { [ "$(sql "$1")" -ge "$2" ]; }

export XDG_RUNTIME_DIR=$WORK/run QT_QPA_PLATFORM=offscreen
mkdir -m 700 "$XDG_RUNTIME_DIR"
start_veltrane() {
  (cd "$PROGRAM" && exec ./veltrane >>"$WORK/veltrane.log" 2>&1) &
  VELTRANE=$!
  wait_for 30 test -S "$XDG_RUNTIME_DIR/veltrane.dde" || fail "veltrane did not start"
}
stop_veltrane() { kill "$VELTRANE"; wait "$VELTRANE" 2>/dev/null; rm -f "$XDG_RUNTIME_DIR/veltrane.dde"; }

# Trucks of two weights, a serving every second or two; paused and resumed through the control socket.
"$APP/indicator-sim" --link "$WORK/indicator.tty" --rate 25 --program 0:0.4,1111:1,0:0.4,2222:1 \
  --control "$WORK/sim.ctl" --no-stdin >sim.log 2>&1 & PIDS+=($!)
wait_for 10 test -S "$WORK/sim.ctl" || fail "indicator-sim did not start"
sim() { echo "$1" | socat - UNIX-CONNECT:"$WORK/sim.ctl" | grep -q '^ok' || fail "indicator-sim: $1"; }
serve() {  # serve N: N more weighments, then the trucks stop
  local want=$(($(logged | wc -l) + $1))
  sim resume
  wait_for 90 at_least "select count(*) from weightlog;" "$want" || fail "fewer than $want weighments served"
  sim pause
}
sim pause

# A subscriber with a lasting session, so that the broker keeps what arrives while it is away too.
TOPIC=veltrane-test/north SUB=$WORK/arrived.txt
mosquitto_sub -p "$PORT" -t "$TOPIC/weighment" -q 1 -c -i veltrane-e2e >"$SUB" 2>>sub.log & PIDS+=($!)
arrived() { grep -o '"slno": [0-9]*' "$SUB" | awk '{ print $2 }'; }
all_arrived() { [ "$(arrived | awk '!seen[$1]++')" = "$(logged)" ]; }
retained() { mosquitto_sub -p "$PORT" -t "$1" -C 1 -W 5 2>/dev/null; }

broker_settings "mqtthost = '127.0.0.1', mqttport = $PORT, mqtttopic = '$TOPIC'"
start_veltrane
serve 3
wait_for 30 all_arrived || fail "arrived $(arrived | xargs), logged $(logged | xargs)"
[ "$(arrived)" = "$(logged)" ] || fail "not exactly once and in order: $(arrived | xargs)"
head -1 "$SUB" | grep -Eq '^\{"slno": [0-9]+, "weight": "(1111|2222)", "datetime": "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}", "logid": "[0-9a-f]{32}", "digest": "[0-9a-f]{64}", "site": "veltrane-test/north"\}$' ||
  fail "weighment message: $(head -1 "$SUB")"
[ "$(retained "$TOPIC/status")" = online ] || fail "status is not online"
retained "$TOPIC/weight" | grep -Eq '^\{"weight": "[0-9]*", "port": "on"\}$' || fail "no retained live weight"
echo "ok: $(arrived | wc -l) weighments arrived once each, in order"

# A dead client whose connection the broker still holds: the proxy keeps the broker's side open when
# the program's side goes, as a lost network path does until the broker's keep-alive runs out (45 s).
PROXY_PORT=$(free_port)
python3 - "$PROXY_PORT" "$PORT" >proxy.log 2>&1 <<'PY' & PIDS+=($!)
import socket, sys, threading
held = []
def pipe(a, b, close_b):
    try:
        while (data := a.recv(65536)):
            b.sendall(data)
    except OSError:
        pass
    if close_b:
        b.close()
listener = socket.create_server(("127.0.0.1", int(sys.argv[1])))
while True:
    client, _ = listener.accept()
    broker = socket.create_connection(("127.0.0.1", int(sys.argv[2])))
    held.append(broker)  # never closed from this side
    threading.Thread(target=pipe, args=(client, broker, False), daemon=True).start()
    threading.Thread(target=pipe, args=(broker, client, True), daemon=True).start()
PY
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PROXY_PORT" 2>/dev/null || fail "the proxy did not start"
stop_veltrane
broker_settings "mqtthost = '127.0.0.1', mqttport = $PROXY_PORT, mqtttopic = 'proxied/site'"
start_veltrane
wait_for 20 sh -c "[ \"\$(mosquitto_sub -p $PORT -t proxied/site/status -C 1 -W 5 2>/dev/null)\" = online ]" ||
  fail "not online through the proxy"
kill -9 "$VELTRANE"; wait "$VELTRANE" 2>/dev/null; rm -f "$XDG_RUNTIME_DIR/veltrane.dde"
start_veltrane
sleep 60
[ "$(retained proxied/site/status)" = online ] || fail "60 s after the restart the status is '$(retained proxied/site/status)'"
echo "ok: after a kill the broker did not notice, the status stays online"
stop_veltrane
broker_settings "mqtthost = '127.0.0.1', mqttport = $PORT, mqtttopic = '$TOPIC'"
start_veltrane

kill -TERM "$BROKER"; wait "$BROKER"
serve 10
start_broker
wait_for 120 all_arrived || fail "after the outage: arrived $(arrived | xargs), logged $(logged | xargs)"
echo "ok: the 10 weighments served while the broker was stopped arrived after it returned"

kill -STOP "$BROKER"
serve 1
last=$(logged | tail -1)
kill -9 "$VELTRANE"; wait "$VELTRANE" 2>/dev/null; rm -f "$XDG_RUNTIME_DIR/veltrane.dde"
[ "$(sql 'select mqttacked from feeds;')" -lt "$last" ] || fail "the mark passed $last with the broker frozen"
kill -CONT "$BROKER"
start_veltrane
# Only the restarted program can have earned the acknowledgement that moves the mark to it.
wait_for 60 at_least "select mqttacked from feeds;" "$last" || fail "weighment $last was not sent again after the restart"
wait_for 30 all_arrived || fail "after the kill: arrived $(arrived | xargs)"
echo "ok: weighment $last, unacknowledged when veltrane was killed, went again after the restart"

# TLS: the certificate names localhost, so only the name (not the address it resolves to) passes.
export SSL_CERT_FILE=$WORK/ca.pem
for host in localhost 127.0.0.1; do
  stop_veltrane
  broker_settings "mqtthost = '$host', mqttport = $TLS_PORT, mqtttls = -1, mqtttopic = 'tls/$host'"
  start_veltrane
  status=$(mosquitto_sub -p "$PORT" -t "tls/$host/status" -C 1 -W 6 2>/dev/null)
  [[ $host/$status =~ ^(localhost/online|127.0.0.1/)$ ]] || fail "TLS to $host gave status '$status'"
  echo "ok: TLS to $host: '$status'"
done
unset SSL_CERT_FILE

# The slowest answer of the live feed, in ms, over SECONDS while the trucks keep coming.
slowest_answer() {
  local until=$(($(date +%s) + $1)) worst=0 t0 t line
  coproc FEED { exec socat - UNIX-CONNECT:"$XDG_RUNTIME_DIR/veltrane.dde"; }
  while [ "$(date +%s)" -lt "$until" ]; do
    t0=$(date +%s%N)
    echo 'REQUEST veltrane weightdata' >&"${FEED[1]}"
    read -r -t 10 line <&"${FEED[0]}" || { worst=timeout; break; }
    t=$((($(date +%s%N) - t0) / 1000000))
    [ "$t" -gt "$worst" ] && worst=$t
    sleep 0.05
  done
  kill "$FEED_PID" 2>/dev/null
  echo "$worst"
}
# A frozen broker takes the connection and never answers, as a host behind a dropping firewall would.
for broker in "'127.0.0.1', mqttport = $AUTH_PORT, mqttuser = 'weigher', mqttpassword = 'wrong'" \
  "'127.0.0.1', mqttport = $PORT" "'broker.invalid', mqttport = 1883"; do
  [[ $broker =~ $PORT$ ]] && kill -STOP "$BROKER"
  stop_veltrane
  broker_settings "mqtthost = $broker"
  start_veltrane
  serve 1  # past the start-up, which holds the live feed up by itself
  before=$(logged | wc -l)
  sim resume
  worst=$(slowest_answer 5)
  sim pause
  [ "$(logged | wc -l)" -gt "$before" ] || fail "nothing served with broker $broker"
  [[ $worst =~ ^[0-9]+$ ]] && [ "$worst" -lt 1500 ] || fail "live feed took $worst ms with broker $broker"
  echo "ok: broker $broker: served on, live feed answered within $worst ms"
done
echo PASS
