#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the program need, then configures and builds.
# Idempotent: apt-get runs only for what is missing, and 'apt-get update' only when an install needs it.
# Usage: scripts/setup.sh [BUILD_DIR] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-serialport-dev qt6-svg-dev libxkbcommon-dev libgl-dev
  libsqlcipher-dev sqlcipher sqlite3 libssl-dev
  libasound2-dev libsndfile1-dev libasound2-plugins alsa-utils espeak-ng sox
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format clang-tidy
  xvfb xauth trayer xdotool xclip imagemagick socat x11-utils dbus-daemon dbus-bin
  python3 nodejs fonts-dejavu-core
  procps psmisc locales inotify-tools
  dpkg-dev lintian desktop-file-utils appstream file
  libmosquitto-dev libssl-dev mosquitto mosquitto-clients
  # The web feed's HTTP server; Debian's -dev package forgets the WebSockets one its CMake files need.
  qt6-httpserver-dev qt6-websockets-dev chromium chromium-driver curl
  # The collector's database client; its tests start PostgreSQL clusters of their own.
  postgresql libpq-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# npm fetches the SQLCipher 4 amalgamation (scripts/test-sqlcipher4.sh); a Node.js that brings its own
# npm is as good as Debian's.
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # The tests start brokers and database clusters of their own: the system's mosquitto and PostgreSQL
  # services are kept from starting now (a policy that refuses them while the packages install) and at boot.
  policy=
  if [[ " ${missing[*]} " =~ " "(mosquitto|postgresql)" " ]] && [ ! -e /usr/sbin/policy-rc.d ]; then
    policy=/usr/sbin/policy-rc.d
    trap 'rm -f /usr/sbin/policy-rc.d' EXIT
    printf '#!/bin/sh\ncase "$1" in mosquitto|postgresql*) exit 101 ;; esac\nexit 0\n' >"$policy"
    chmod 755 "$policy"
  fi
  if ! apt-get install -y --no-install-recommends "${missing[@]}"; then
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
  fi
  if [ -n "$policy" ]; then
    rm -f "$policy"
    deb-systemd-helper disable mosquitto.service >/dev/null 2>&1 || true
    update-rc.d mosquitto disable >/dev/null 2>&1 || true
    deb-systemd-helper disable postgresql.service >/dev/null 2>&1 || true
  fi
fi

# The tests run a second time under a decimal-comma locale; making it takes a while, so only once.
if ! locale -a 2>/dev/null | grep -x 'de_DE.utf8' >/dev/null; then
  echo "setup: making the locale de_DE.UTF-8"
  localedef -c -i de_DE -f UTF-8 de_DE.UTF-8 || echo "setup: could not make de_DE.UTF-8 (needs root)" >&2
fi

BUILD_DIR=${1:-build}
shift || true
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
