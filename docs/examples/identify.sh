#!/bin/sh
# Finds the indicator on a serial device and prints the settings to store, or says why not.
# Usage: identify.sh DEVICE WEIGHT   (WEIGHT: what the indicator's display shows, the load standing still)
# Needs python3 to read the JSON. Exit status as veltrane-identify's: 0 found, 1 not found, 2 device error.
out=$(veltrane-identify --device "$1" --weight "$2" --json)
status=$?
[ $status -le 1 ] || exit $status
printf '%s\n' "$out" | python3 -c '
import json, sys
r = json.load(sys.stdin)
if r["found"]:
    print("settings %s, delimiter %s, weight at %d length %d%s" % (r["settings"], r["delimiter"],
          r["weightstart"], r["weightlength"], ", reversed" if r["reverse"] else ""))
else:
    print("nothing found in %.0f s; heard: %s" % (r["seconds"], r["seen"] or "nothing"))
'
exit $status
