#!/usr/bin/env bash
# Installs what is missing, builds, and starts the updater under Wine: on the user's display
# when there is one (it runs until closed), otherwise on a virtual display (closed after the
# screenshot). Prints where the screenshot was saved.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# Run the build of the preset this machine can run (the 64-bit one where 32-bit programs
# cannot start), and always build the shipped 32-bit programs.
preset=$(scripts/test-preset.sh)
QV_PRESET=mingw-x86 bash scripts/build.sh updater registrar
[ "$preset" = mingw-x86 ] || QV_PRESET=$preset bash scripts/build.sh updater registrar
export QV_WINE_ARCH=win32
[ "$preset" = mingw-x86 ] || QV_WINE_ARCH=win64
root=$(pwd)
bin=$root/build/$preset/bin
prefix=$root/build/$preset/wineprefix
shot=$root/build/$preset/screenshots/updater.png
mkdir -p "$(dirname "$shot")"

own_display=1
if [ -z "${DISPLAY:-}" ]; then
  own_display=0
  DISPLAY=$(scripts/xvfb-display.sh "$prefix.display")
  export DISPLAY
fi

# A new prefix takes several seconds to set up: do it before the clock for the screenshot.
scripts/wine-run.sh "$prefix" wineboot >/dev/null 2>&1 || true
scripts/wine-run.sh "$prefix" "$bin/updater.exe" "$@" &
pid=$!
sleep 3
import -window root "$shot"
echo "screenshot: $shot"
if [ "$own_display" = 1 ]; then
  wait "$pid" || true
else
  WINEPREFIX=$prefix wineserver -k || true
  wait "$pid" 2>/dev/null || true
fi
