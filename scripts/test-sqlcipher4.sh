#!/usr/bin/env bash
# The database layer on the next generation of SQLCipher (Debian 12 ships 3.4, Debian 13 ships 4.x).
# Fetches the SQLCipher 4 amalgamation from the npm registry, builds the database layer, veltrane-mkdb
# and the database tests against it in build-sqlcipher4/, and checks real files both ways:
#   - files made by the system-library build (a keyed scale.mdb with weight-log rows, config.mdb,
#     veltrane.mdb) open under 4.x, and a row written there is read back by the system's sqlcipher tool;
#   - files made by the 4.x build are read by the system's sqlcipher tool (the database tests do that).
# Usage: scripts/test-sqlcipher4.sh [SYSTEM_BUILD]   (default build/, as scripts/setup.sh makes it)
# (sqlcipher, the system's tool, answers some pragmas with a line "ok": sql() leaves those out.)
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

# SQLCipher 4.5.5 community on SQLite 3.42.0, Zetetic's BSD-style licence (package/LICENSE).
PACKAGE=@commapp/sqlcipher-amalgamation
VERSION=4.5.5
SYSTEM_BUILD=${1:-build}
OUT=build-sqlcipher4
SRC=$OUT/amalgamation/package/src

fail() { echo "test-sqlcipher4: FAIL: $*" >&2; exit 1; }
command -v npm >/dev/null || fail "npm is not installed (scripts/setup.sh installs it)"
pkg-config --exists libcrypto || fail "OpenSSL's libcrypto headers are missing (libssl-dev)"
[ -x "$SYSTEM_BUILD/app/veltrane-mkdb" ] || fail "$SYSTEM_BUILD/app/veltrane-mkdb is not built"

if ! grep -qs "\"version\": \"$VERSION\"" "$OUT/amalgamation/package/package.json"; then
  rm -rf "$OUT/amalgamation"
  mkdir -p "$OUT/amalgamation"
  (cd "$OUT/amalgamation" && npm pack --silent "$PACKAGE@$VERSION" >/dev/null && tar xzf ./*.tgz)
fi
grep -q "^#define CIPHER_VERSION_NUMBER $VERSION" "$SRC/sqlite3.c" || fail "$SRC/sqlite3.c is not SQLCipher $VERSION"

# Only what the check needs: the amalgamation, the platform and settings layers, the tool and two tests,
# without optimisation or debug data (build type None): they compile in half the time and run as well.
cmake -S . -B "$OUT" -DCMAKE_BUILD_TYPE=None -DVELTRANE_WERROR=ON -DVELTRANE_BENCH=OFF \
  -DVELTRANE_SQLCIPHER_AMALGAMATION="$PWD/$SRC" >/dev/null
cmake --build "$OUT" -j"$(nproc)" --target veltrane-mkdb database_test database_files_test

FILES=$(mktemp -d)
trap 'rm -rf "$FILES"' EXIT
sql() { sqlcipher "$1" "PRAGMA key='$2'; $3" 2>&1 | { grep -vx ok || true; }; }
"$SYSTEM_BUILD/app/veltrane-mkdb" "$FILES" >/dev/null
sql "$FILES/scale.mdb" qd584 "insert into weightlog (Datetime, weight) values
  ('2026-03-14 09:30:01', '1111'), ('2026-03-14 09:30:02', '2222'), ('2026-03-14 09:30:03', '3333');"

(cd "$OUT" && VELTRANE_FILES_FROM_OTHER_BUILD=$FILES ctest --output-on-failure -R '^database_(files_)?test$')

integrity=$(sqlcipher "$FILES/scale.mdb" "PRAGMA key='qd584'; PRAGMA integrity_check;" 2>&1 | sort -u)
[ "$integrity" = ok ] || fail "scale.mdb after 4.x: $integrity"
weights=$(sql "$FILES/scale.mdb" qd584 "select group_concat(weight) from weightlog;")
[ "$weights" = "1111,2222,3333,4444" ] || fail "scale.mdb after 4.x holds $weights"
echo "test-sqlcipher4: files of SQLCipher $(sql "$FILES/scale.mdb" qd584 "PRAGMA cipher_version;") and $VERSION read each other" \
  "($(($(date +%s) - start)) s)"
