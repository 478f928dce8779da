#!/usr/bin/env bash
# Installs what is missing, builds, and starts the updater under Wine in a prefix of its
# own (build/<preset>/run-prefix, never the tests'): on the user's display when DISPLAY is
# set (it runs until the user closes it), otherwise on a virtual display of its own (closed
# after the screenshot). Prints where the screenshot was saved. Arguments go to the updater:
#   bash scripts/run.sh AutoUpdate
# Runs while tests run: it waits only for the build, and never touches the tests' prefix.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh
source scripts/x11.sh
# One run at a time per tree: its prefix holds the updater's single-instance mutex.
hold_lock run "another run.sh" scripts/run.sh "$@"

# The build of the preset this machine can run (the 64-bit one where 32-bit programs cannot
# start); the shipped 32-bit programs are always built.
preset=$(scripts/test-preset.sh)
export QV_WINE_ARCH=win32
[ "$preset" = mingw-x86 ] || QV_WINE_ARCH=win64
root=$(pwd)
bin=$root/build/$preset/bin
prefix=$root/build/$preset/run-prefix
shot=$root/build/$preset/screenshots/run-updater.png
updater_pid=

main() {
  QV_PRESET=mingw-x86 bash scripts/build.sh updater registrar
  [ "$preset" = mingw-x86 ] || QV_PRESET=$preset bash scripts/build.sh updater registrar
  choose_display
  prepare_prefix
  start_updater "$@"
  take_screenshot
  if [ "$on_user_display" = 1 ]; then
    echo "the updater runs until you close it"
    wait "$updater_pid" || true
  fi
}

# The user's display when there is one, else a virtual one that ends with this script.
choose_display() {
  on_user_display=0
  if [ -n "${DISPLAY:-}" ]; then
    on_user_display=1
  else
    start_own_xvfb
  fi
}

# A new prefix takes several seconds to set up: done before waiting for the dialog.
prepare_prefix() {
  scripts/wine-run.sh "$prefix" wineboot >/dev/null 2>&1 || true
}

start_updater() {
  scripts/wine-run.sh "$prefix" "$bin/updater.exe" "$@" &
  updater_pid=$!
  at_exit end_prefix_processes
  if ! wait_for_window updater.exe "$updater_pid" 60; then
    echo "run.sh: the updater showed no window" >&2
    exit 1
  fi
}

take_screenshot() {
  mkdir -p "$(dirname "$shot")"
  wait_for_still_screen 10 || echo "run.sh: the screen kept changing; screenshot taken anyway" >&2
  import -window root "$shot"
  echo "screenshot: $shot"
}

# Ends what runs in this script's own prefix, and nothing else.
end_prefix_processes() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  kill "$updater_pid" 2>/dev/null || true
  wait "$updater_pid" 2>/dev/null || true
}

main "$@"
