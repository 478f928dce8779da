#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine on a virtual display of
# its own. One test run at a time per tree: a second one waits for the first to end.
# Arguments go to ctest (for example -R framework).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh
hold_lock test "another test run" scripts/test.sh "$@"

bash scripts/build.sh
# Tests always get a display of their own, never the user's screen nor another run's.
start_own_xvfb
status=0
ctest --preset mingw-x86 "$@" || status=$?
# The tests save BMP screenshots (what Windows writes); PNG copies are easier to look at.
for shot in "$QV_BUILD_DIR"/screenshots/*.bmp; do
  [ -f "$shot" ] && convert "$shot" "${shot%.bmp}.png" 2>/dev/null || true
done
exit "$status"
