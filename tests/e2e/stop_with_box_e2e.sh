#!/usr/bin/env bash
# stop_with_box_e2e.sh APP_DIR
# A stop request (SIGTERM, as a logout, a shutdown or systemctl stop sends it) while a box waits for
# the operator: the real veltrane under Xvfb and trayer, started with the default password so that the
# first-start box "Please change the password ..." is up. Checks: the program ends at once with status
# 0 and its sockets are removed.
set -uo pipefail
APP=$1
. "$(dirname "$0")/../support/whole_program.sh"

skip_without Xvfb
need trayer xdotool xwininfo
need_built "$APP" veltrane veltrane-mkdb indicator-sim
begin_work veltrane-stop-box
show_logs() { echo "--- veltrane output"; cat "$WORK/veltrane.log" 2>/dev/null; }

make_program "$APP" --set Startauto=on
start_display
start_sim "$APP" --weight 1000
start_veltrane

box() { xdotool search --onlyvisible --name '^Veltrane$' 2>/dev/null | head -1; }
sockets() { find "$XDG_RUNTIME_DIR" -type s | sort; }
wait_for 30 sh -c "$(declare -f box); [ -n \"\$(box)\" ]" || fail "no first-start box"
[ -n "$(sockets)" ] || fail "no sockets while the box is up"
echo "ok: the box is up; sockets: $(sockets | tr '\n' ' ')"

kill -TERM "$VELTRANE"
sent=$(date +%s%N)
wait_for 10 sh -c "! kill -0 $VELTRANE 2>/dev/null" || fail "veltrane still runs 10 s after SIGTERM with a box up"
echo "ok: ended $(( ($(date +%s%N) - sent) / 1000000 )) ms after SIGTERM"
wait "$VELTRANE"
status=$?
[ "$status" = 0 ] || fail "exit status $status"
[ -z "$(sockets)" ] || fail "sockets left behind: $(sockets)"
echo "ok: status 0, no sockets left"
echo PASS
