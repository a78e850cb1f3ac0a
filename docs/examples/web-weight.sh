#!/bin/sh
# Prints Veltrane's current weight from its web feed once, or with --follow every new weight and each
# weighment as they come, as "weight W" and "served SLNO WEIGHT DATE TIME". Needs curl.
# VELTRANE_URL: the feed (default http://127.0.0.1:8765); VELTRANE_TOKEN: its token, if it has one.
follow=${1:-}
url=${VELTRANE_URL:-http://127.0.0.1:8765}
set -- -fsS
[ -z "${VELTRANE_TOKEN:-}" ] || set -- "$@" -H "Authorization: Bearer $VELTRANE_TOKEN"
# A refused request (a wrong token: 401) or no feed ends with curl's exit status, not 0.
if [ "$follow" != --follow ]; then
  answer=$(curl "$@" "$url/api/weight") || exit
  printf '%s\n' "$answer" | sed -n 's/^{"weight": "\([^"]*\)".*/\1/p'
  exit
fi
# -N: each event as it arrives. Every "data:" line is one JSON object; keys come in the order shown.
# A pipeline ends with its last command's status; curl's comes out through descriptor 3.
exec 4>&1
status=$({ { curl "$@" -N "$url/api/events"; echo $? >&3; } | sed -u -n \
  -e 's/^data: {"weight": "\([^"]*\)"}$/weight \1/p' \
  -e 's/^data: {"slno": \([0-9]*\), "weight": "\([^"]*\)", "datetime": "\([^"]*\)", .*}$/served \1 \2 \3/p' >&4; } 3>&1)
exit "$status"
