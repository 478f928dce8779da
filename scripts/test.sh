#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine on a virtual display.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/build.sh
# Tests always get a virtual display of their own, never the user's screen.
DISPLAY=$(scripts/xvfb-display.sh build/mingw-x86/wineprefix.display)
export DISPLAY
status=0
ctest --preset mingw-x86 "$@" || status=$?
# The tests save BMP screenshots (what Windows writes); PNG copies are easier to look at.
for shot in build/mingw-x86/screenshots/*.bmp; do
  [ -f "$shot" ] && convert "$shot" "${shot%.bmp}.png" 2>/dev/null || true
done
exit "$status"
