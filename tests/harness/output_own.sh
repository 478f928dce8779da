#!/usr/bin/env bash
# A test program's output ends when the program does, not when the last program of its Wine
# prefix does: output_own.sh WINE_ARCH WINE_RUN PREFIX PROBE
# The probe runs first on a copy of the prefix (so that it is the one to find no wineserver),
# and a long program starts beside it; the probe's output must close while that one still runs.
set -uo pipefail
export QV_WINE_ARCH=$1
wine_run=$2 prefix=$3 probe=$4
work=$(mktemp -d)
copy=$work/prefix
long_pid=
cleanup() {
  [ -n "$long_pid" ] && kill "$long_pid" 2>/dev/null
  WINEPREFIX=$copy wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cp -a "$prefix" "$copy" || exit 1

# The probe's output goes through a pipe, as a test runner reads it; the reader ends at EOF.
("$wine_run" "$copy" "$probe" --gtest_filter=Probe.Passes 2>&1 | cat >"$work/probe.log") &
reader=$!
sleep 1
"$wine_run" "$copy" cmd /c "ping -n 40 127.0.0.1 >nul" >/dev/null 2>&1 &
long_pid=$!
wait "$reader"
if ! grep -q '\[  PASSED  \] 1 test' "$work/probe.log"; then
  echo "the probe did not pass:"
  cat "$work/probe.log"
  exit 1
fi
if ! kill -0 "$long_pid" 2>/dev/null; then
  echo "the probe's output stayed open until the other program of its prefix had ended"
  exit 1
fi
echo "the probe's output closed while the other program still ran"
