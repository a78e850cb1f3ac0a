#!/bin/sh
# Prints the latest weighment from Veltrane's CSV file as "WEIGHT DATE TIME".
# Usage: latest-weighment.sh OUTPUT_FOLDER   (the folder set under "Save output file in")
csv=${1:?usage: latest-weighment.sh OUTPUT_FOLDER}/veltrane.csv
# Veltrane replaces the whole file at each weighment, so one read sees one complete weighment.
# Its last line is the weighment; lines end in CR LF.
line=$(tail -n 1 "$csv" | tr -d '\r') || exit 1
case $line in
  ""|Weight,Datetime) echo "no weighment in $csv yet" >&2; exit 1 ;;
esac
weight=${line%%,*}
echo "$weight ${line#*,}"
