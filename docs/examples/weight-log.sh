#!/bin/sh
# Lists the latest weighments of Veltrane's weight log, newest first, as "slno|Datetime|weight".
# Usage: weight-log.sh PROGRAM_FOLDER [COUNT]   (the folder that holds scale.mdb)
# Needs sqlcipher (Debian package sqlcipher); scale.mdb is encrypted with the key qd584.
db=${1:?usage: weight-log.sh PROGRAM_FOLDER [COUNT]}/scale.mdb
count=${2:-10}
case $count in *[!0-9]*|"") echo "COUNT must be a number" >&2; exit 2 ;; esac
# The key goes first, before anything reads the file; .timeout waits while Veltrane is writing.
# The file has SQLCipher 3's format: SQLCipher 4 reads it when told so, SQLCipher 3 ignores the line.
sqlcipher -batch "$db" <<SQL | grep -v '^ok$'
PRAGMA key = 'qd584';
PRAGMA cipher_compatibility = 3;
.timeout 3000
select slno, Datetime, weight from weightlog order by slno desc limit $count;
SQL
