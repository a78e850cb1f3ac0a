#!/bin/sh
# Prints Veltrane's current weight once, or with --follow every new weight as it changes.
# Needs socat (Debian package socat). Run it as the user who runs Veltrane.
if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$XDG_RUNTIME_DIR" ]; then
  socket=$XDG_RUNTIME_DIR/veltrane.dde
else
  socket=/tmp/veltrane-$(id -u)/veltrane.dde
fi

if [ "${1:-}" = --follow ]; then
  # The feed answers ADVISE for as long as the connection is open: keep our side open with sleep.
  # An empty line means the weight box was emptied (no reading). Ctrl-C ends it.
  (echo 'ADVISE veltrane weightdata'; exec sleep infinity) |
    socat - UNIX-CONNECT:"$socket" | sed -u -n 's/^DATA //p'
  exit 1  # only reached when Veltrane closed the connection
fi

reply=$(echo 'REQUEST veltrane weightdata' | socat -t 2 - UNIX-CONNECT:"$socket") || exit 1
case $reply in
  "DATA "*) echo "${reply#DATA }" ;;
  *) echo "veltrane: ${reply:-no answer}" >&2; exit 1 ;;
esac
