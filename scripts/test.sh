#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine on a virtual display of
# its own. One test run at a time per tree: a second one waits for the first to end.
# Arguments go to ctest (for example -R framework); both the native preset (the update server)
# and the Windows one are built and tested.
# The tests run the programs of scripts/test-preset.sh; the shipped 32-bit programs are always
# built too.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh
source scripts/x11.sh
hold_lock test "another test run" scripts/test.sh "$@"

bash scripts/install-deps.sh
preset=$(scripts/test-preset.sh)
if [ "$preset" != mingw-x86 ]; then
  QV_PRESET=mingw-x86 bash scripts/build.sh updater registrar Mervax SkinHu
fi
# The native update server first: the Windows tests' end-to-end runs use it.
QV_PRESET=native bash scripts/build.sh
QV_PRESET=$preset bash scripts/build.sh
# Tests always get a display of their own, never the user's screen nor another run's.
start_own_xvfb
status=0
ctest --preset native "$@" || status=$?
ctest --preset "$preset" "$@" || status=$?
# The tests save BMP screenshots (what Windows writes); PNG copies are easier to look at.
for shot in "build/$preset"/screenshots/*.bmp; do
  [ -f "$shot" ] && convert "$shot" "${shot%.bmp}.png" 2>/dev/null || true
done
exit "$status"
