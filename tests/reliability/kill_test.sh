#!/usr/bin/env bash
# kill_test.sh KILLS APP_DIR WORK_PARENT
# Nothing served is lost: the real veltrane (under its own Xvfb and trayer) serves fast truck cycles
# from indicator-sim and is killed with SIGKILL KILLS times, restarted each time. Runs take turns at the
# two kinds of output file (veltrane.csv, the export database veltrane.mdb), and every other pair of
# kills waits for a write to be under way (the CSV's temporary file or the export database's journal
# appears) instead of landing at a random moment. After every kill: scale.mdb and veltrane.mdb pass
# PRAGMA integrity_check, veltrane.csv is whole (a heading and one weighment, never empty or cut), and
# every weighment ever seen in veltrane.csv or veltrane.mdb is in the weight log. Temporary files left
# by the kills are counted, and must be gone once the program has started again.
set -uo pipefail
KILLS=$1
APP=$2
mkdir -p "$3"

. "$(dirname "$0")/../support/whole_program.sh"

skip_without Xvfb
need trayer xwininfo sqlcipher sqlite3 inotifywait
need_built "$APP" veltrane veltrane-mkdb indicator-sim
begin_work veltrane-kill "$3"
VELTRANE=
watch_pid=
survived=0
before_end_work() {
  [ -n "$VELTRANE" ] && kill -9 "$VELTRANE" 2>/dev/null
  [ -n "$watch_pid" ] && kill "$watch_pid" 2>/dev/null
}
show_logs() {
  echo "--- after $survived kill(s); veltrane output (last run)"; tail -20 "$WORK/veltrane.log" 2>/dev/null
}

make_program "$APP" --set pw=kill-secret --set Startauto=on --set AutosaveonStableWeight=on
CSV=$PROGRAM/veltrane.csv
start_display
# Trucks of three weights, each standing still about a second: a serving every second or two.
start_sim "$APP" --rate 25 --program 0:0.4,1111:1,0:0.4,2222:1,0:0.4,3333:1

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
export_sql() { sqlite3 -cmd ".timeout 10000" "$PROGRAM/veltrane.mdb" "$1" 2>&1; }
leftover_names() { find "$PROGRAM" -maxdepth 1 -name '.veltrane.csv.??????' | sort; }
leftovers() { leftover_names | wc -l; }
journal() { stat -c '%i %y %s' "$PROGRAM/veltrane.mdb-journal" 2>/dev/null; }

check_after_kill() {
  local integrity data weight when line
  integrity=$(sqlcipher -cmd ".timeout 10000" "$PROGRAM/scale.mdb" "PRAGMA key='qd584'; PRAGMA integrity_check;" 2>&1 | sort -u)
  [ "$integrity" = "ok" ] || fail "integrity_check: $integrity"
  if [ -e "$CSV" ]; then
    IFS= read -r -d '' data <"$CSV"
    [[ $data =~ ^Weight,Datetime$'\r\n'([0-9.]+),([0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2})$'\r\n'$ ]] ||
      fail "veltrane.csv is not whole: $(od -c "$CSV" | head -5)"
  fi
  # Opening the export database as another program would rolls back what a kill left half-written.
  integrity=$(export_sql "PRAGMA integrity_check;")
  [ "$integrity" = "ok" ] || fail "veltrane.mdb integrity_check: $integrity"
  export_sql "select weight || ' ' || strftime('%s', Datetime) || ' ' || Datetime from weightlog;" >"$WORK/export.txt"
  [ "$(wc -l <"$WORK/export.txt")" -le 1 ] || fail "veltrane.mdb holds more than one weighment: $(head -3 "$WORK/export.txt")"
  # Each content ever seen is whole too, and its weighment is in the log (the log's time is taken a
  # moment apart from the file's, so within 2 s). One read of the log per kill.
  sql "select weight || ' ' || strftime('%s', Datetime) from weightlog;" >"$WORK/log.txt"
  sort -u "$SEEN" | while read -r line; do
    data=$(echo "$line" | base64 -d)
    [[ $data =~ ^Weight,Datetime$'\r\n'([0-9.]+),([0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2})$'\r'$ ]] ||
      { echo "veltrane.csv was seen cut: $(echo "$line" | base64 -d | od -c | head -3)"; exit 1; }
    echo "${BASH_REMATCH[1]} $(date -u -d "${BASH_REMATCH[2]}" +%s) ${BASH_REMATCH[2]}"
  done >"$WORK/seen-weighments.txt" || fail "$(tail -1 "$WORK/seen-weighments.txt")"
  cat "$WORK/export.txt" >>"$WORK/seen-weighments.txt"
  awk 'NR == FNR { logged[$1] = logged[$1] " " $2; next }
       { found = 0; n = split(logged[$1], times, " ");
         for (i = 1; i <= n; i++) if (times[i] - $2 <= 2 && $2 - times[i] <= 2) found = 1;
         if (!found) { print $1 " at " $3 " " $4 " was in an output file but is not in the weight log"; bad = 1 } }
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

start_veltrane() {
  (cd "$PROGRAM" && exec ./veltrane >"$WORK/veltrane.log" 2>&1) &
  VELTRANE=$!
}

# Kills the program as soon as a file whose name matches $1 is made or written in its folder (a write
# under way), or after 20 s. True when the file was seen.
kill_inside_write() {
  local pattern=$1 name seen=1 deadline=$((SECONDS + 20))
  while ((SECONDS < deadline)); do
    IFS= read -r -t 1 name <&"${WATCH[0]}" || continue
    [[ $name =~ $pattern ]] && { seen=0; break; }
  done
  kill -9 "$VELTRANE"
  return $seen
}

in_write=0 landed_waiting=0 landed_random=0 left_behind=0 csv_runs=0 export_runs=0
started=$(date +%s)
for ((k = 1; k <= KILLS; k++)); do
  # What an earlier kill left: a run killed early in its start-up has not removed it yet.
  old_leftovers=$(leftover_names) old_journal=$(journal)
  if ((k % 2)); then
    sql "update config set outputFiletype = 'CSV file with headings';"
    csv_runs=$((csv_runs + 1)) pattern='^\.veltrane\.csv\.[A-Za-z0-9]{6}$'
  else
    sql "update config set outputFiletype = 'Access database';"
    export_runs=$((export_runs + 1)) pattern='^veltrane\.mdb-journal$'
  fi
  if (((k / 2) % 2)); then
    # A journal may be left from an earlier kill (empty, so not rolled back): its writing shows too.
    coproc WATCH { exec inotifywait -q -m -e create -e modify --format %f "$PROGRAM"; }
    watch_pid=$WATCH_PID
    sleep 0.2  # the watch is set up
    start_veltrane
    in_write=$((in_write + 1)) waited=1
    kill_inside_write "$pattern" || echo "kill $k: no write seen in 20 s, killed anyway"
    kill "$watch_pid" 2>/dev/null
    wait "$watch_pid" 2>/dev/null
    watch_pid=
  else
    waited=0
    start_veltrane
    [ "$k" = 1 ] && check_program_sockets
    # Anywhere from the middle of the start-up to several servings in.
    sleep "$((RANDOM % 40 / 10)).$((RANDOM % 10))$((RANDOM % 10))"
    kill -0 "$VELTRANE" 2>/dev/null || fail "veltrane ended by itself before kill $k"
    kill -9 "$VELTRANE"
  fi
  wait "$VELTRANE" 2>/dev/null
  VELTRANE=
  # What the kill interrupted, before anything else touches the files.
  found=$(comm -13 <(echo "$old_leftovers") <(leftover_names) | grep -c . || true)
  new_journal=$(journal)
  if [ "$found" -gt 0 ] || { [ -n "$new_journal" ] && [ "$new_journal" != "$old_journal" ]; }; then
    if ((waited)); then landed_waiting=$((landed_waiting + 1)); else landed_random=$((landed_random + 1)); fi
  fi
  left_behind=$((left_behind + found))
  [ -n "${KILL_TEST_TRACE:-}" ] && echo "kill $k: waited=$waited found=$found journal: [$old_journal] -> [$new_journal]"
  check_after_kill
  survived=$k
done
elapsed=$(($(date +%s) - started))

# The temporary files of killed servings go when the program starts again.
before=$(leftovers)
start_veltrane
wait_for 30 test "$(leftovers)" = 0 || fail "$(leftovers) temporary file(s) still there after a new start"
kill -9 "$VELTRANE"
wait "$VELTRANE" 2>/dev/null
VELTRANE=
check_after_kill

served=$(sql "select count(*) from weightlog;")
echo "kills survived: $survived in $elapsed s ($csv_runs serving veltrane.csv, $export_runs veltrane.mdb);" \
  "$in_write waited for a write and $landed_waiting of them cut one (temporary file or journal left)," \
  "$landed_random of the others did; temporary files left by kills: $left_behind" \
  "($before there before the last start, 0 after); weighments logged: $served;" \
  "file contents seen: $(sort -u "$SEEN" | wc -l)"
[ "$served" -ge 1 ] || fail "nothing was served in $KILLS runs"
echo PASS
