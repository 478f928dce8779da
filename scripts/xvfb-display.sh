#!/usr/bin/env bash
# Prints a virtual X display's name (":N"), starting Xvfb when the one recorded in STATE_FILE
# is not running. Safe to call from several processes at once. The display stays for later
# runs by hand (ctest, wine-run.sh): `xvfb-display.sh --stop STATE_FILE` ends it.
# test.sh and run.sh do not use it: each starts and stops a display of its own.
set -euo pipefail
stop=0
if [ "${1:-}" = --stop ]; then
  stop=1
  shift
fi
state=$1
mkdir -p "$(dirname "$state")"
exec 9>"$state.lock"
flock 9

if [ "$stop" = 1 ]; then
  [ -f "$state" ] || exit 0
  read -r num pid <"$state" || true
  # Only the Xvfb that this file recorded, and only while it is still that display.
  if [ -n "${pid:-}" ] && grep -qa "^Xvfb\b.*:$num\b" "/proc/$pid/cmdline" 2>/dev/null; then
    kill "$pid"
  fi
  rm -f "$state"
  exit 0
fi

if [ -f "$state" ]; then
  read -r num pid <"$state" || true
  if [ -n "${pid:-}" ] && kill -0 "$pid" 2>/dev/null && [ -S "/tmp/.X11-unix/X$num" ]; then
    echo ":$num"
    exit 0
  fi
fi

for num in $(seq 90 140); do
  [ -e "/tmp/.X$num-lock" ] || [ -S "/tmp/.X11-unix/X$num" ] && continue
  Xvfb ":$num" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 9>&- &
  pid=$!
  for _ in $(seq 1 100); do
    [ -S "/tmp/.X11-unix/X$num" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ -S "/tmp/.X11-unix/X$num" ]; then
    echo "$num $pid" >"$state"
    echo ":$num"
    exit 0
  fi
done
echo "xvfb-display: could not start Xvfb" >&2
exit 1
