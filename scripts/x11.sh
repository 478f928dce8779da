# Virtual displays and windows for the scripts; sourced after common.sh.

# start_own_xvfb: starts a virtual display for this script alone, exports DISPLAY, and
# stops it when the script ends. Xvfb picks a free number itself, so that scripts running
# at once never share or steal a display.
start_own_xvfb() {
  local number_file
  number_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
  QV_XVFB_PID=$!
  at_exit stop_own_xvfb
  local _
  for _ in $(seq 1 100); do
    [ -s "$number_file" ] && break
    kill -0 "$QV_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  local number
  number=$(tr -dc 0-9 <"$number_file")
  rm -f "$number_file"
  if [ -z "$number" ]; then
    echo "could not start Xvfb" >&2
    return 1
  fi
  export DISPLAY=":$number"
}

stop_own_xvfb() {
  [ -n "${QV_XVFB_PID:-}" ] || return 0
  kill "$QV_XVFB_PID" 2>/dev/null && wait "$QV_XVFB_PID" 2>/dev/null
  QV_XVFB_PID=
  return 0
}

# wait_for_window PROGRAM PID SECONDS: waits until a window of PROGRAM is shown on DISPLAY
# (Wine names a program's windows' X class after its file, e.g. "updater.exe"). False when
# PID ends first or when the time runs out.
wait_for_window() {
  local program=$1 pid=$2 deadline=$((SECONDS + $3)) id
  while ((SECONDS < deadline)); do
    for id in $(xwininfo -root -tree 2>/dev/null | grep -iF "(\"$program\" " | awk '{print $1}'); do
      window_is_shown "$id" && return 0
    done
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

# window_is_shown ID: the window is mapped, visible, and bigger than a helper window.
window_is_shown() {
  local info width height
  info=$(xwininfo -id "$1" 2>/dev/null) || return 1
  grep -q 'Map State: IsViewable' <<<"$info" || return 1
  width=$(sed -n 's/^ *Width: *//p' <<<"$info")
  height=$(sed -n 's/^ *Height: *//p' <<<"$info")
  ((width >= 50 && height >= 50))
}

# wait_for_still_screen SECONDS: waits until two looks at the screen a moment apart are
# the same, so that a window just shown has painted itself. False when time runs out.
wait_for_still_screen() {
  local deadline=$((SECONDS + $1)) before now
  before=$(xwd -root -silent | md5sum)
  while ((SECONDS < deadline)); do
    sleep 0.25
    now=$(xwd -root -silent | md5sum)
    [ "$now" = "$before" ] && return 0
    before=$now
  done
  return 1
}
