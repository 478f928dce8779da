#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine on a virtual display of
# its own. One test run at a time per tree: a second one waits for the first to end.
# Arguments go to ctest (for example -R framework); both the native preset (the update server)
# and the Windows one are built and tested.
# On a machine that starts 32-bit programs the tests run the shipped 32-bit build (mingw-x86).
# Elsewhere (or with QV_ASSUME_NO_32BIT=1) the whole 32-bit tree, tests included, is built but
# not run, and the tests run a 64-bit build of the same sources (mingw-x64); the last lines say
# so. QV_TEST_PRESET=<preset> runs that preset's tests instead.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh
source scripts/x11.sh
hold_lock test "another test run" scripts/test.sh "$@"

bash scripts/install-deps.sh
preset=$(scripts/test-preset.sh)
# The native update server first: the Windows tests' end-to-end runs use it.
QV_PRESET=native bash scripts/build.sh
# What ships always compiles whole, tests included, even where it cannot run.
[ "$preset" = mingw-x86 ] || QV_PRESET=mingw-x86 bash scripts/build.sh
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
if [ "$preset" != mingw-x86 ]; then
  echo "32-bit tree built (tests included); tests run: $preset"
  if [ -n "${QV_TEST_PRESET:-}" ]; then
    echo "32-bit tests not run: QV_TEST_PRESET=$QV_TEST_PRESET asked for $preset"
  elif [ "${QV_ASSUME_NO_32BIT:-0}" = 1 ]; then
    echo "32-bit tests not run: QV_ASSUME_NO_32BIT=1 takes the path of a machine that cannot start 32-bit programs"
  else
    echo "32-bit tests not run: this machine cannot start 32-bit programs"
  fi
fi
exit "$status"
