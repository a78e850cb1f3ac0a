#!/bin/sh
# Prints the weighment held in Veltrane's export database as "slno|Datetime|weight".
# Usage: export-database.sh OUTPUT_FOLDER   (output type "Access file with three fields")
# veltrane.mdb is a plain SQLite file: sqlite3, or any SQLite library, reads it without a key.
db=${1:?usage: export-database.sh OUTPUT_FOLDER}/veltrane.mdb
sqlite3 -batch -cmd '.timeout 3000' "$db" 'select slno, Datetime, weight from weightlog;'
