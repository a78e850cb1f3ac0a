#!/usr/bin/env bash
# Set-up, build, and Veltrane's main job: serving weights from an indicator. With no indicator at hand
# the built-in simulator plays a weighbridge running truck cycles.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
if [ ! -x build/app/veltrane ]; then
  echo "demo: the main window is not built yet; build/app holds what exists:"
  ls build/app
  exit 0
fi
