#!/usr/bin/env bash
# The main job: a whole update on this machine. Installs what is missing, builds everything
# (the programs, the demo main program, the native update-server), lays out a demo installation
# with the trial edition 1.0.0.1, publishes 2.0.1.5 signed with a demo release key (made once
# into the build tree; the demo's updater is built with it) into a demo release folder, starts
# update-server on 127.0.0.1:8080 and runs `updater.exe AutoUpdate` under Wine in a prefix of
# its own (build/<preset>/run-prefix, never the tests'): on the user's display when DISPLAY is
# set, otherwise on a virtual display of its own. Prints the installed version before and
# after, the log panel's lines, and where the screenshots taken during the download went.
# Arguments replace AutoUpdate: `bash scripts/run.sh ""` starts the manual mode instead.
# Runs while tests run: it waits only for the build, and never touches the tests' prefix.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh
source scripts/x11.sh
# One run at a time per tree: its prefix holds the updater's single-instance mutex.
hold_lock run "another run.sh" scripts/run.sh "$@"

# The build of the preset this machine can run: the shipped 32-bit one, or the 64-bit one where
# 32-bit programs cannot start (the shipped 32-bit programs are built all the same). Asked only
# once what is missing is installed: before Wine is there, every machine looks unable.
bash scripts/install-deps.sh
preset=$(scripts/test-preset.sh)
export QV_WINE_ARCH=win32
[ "$preset" = mingw-x86 ] || QV_WINE_ARCH=win64
root=$(pwd)
bin=$root/build/$preset/bin
prefix=$root/build/$preset/run-prefix
shot=$root/build/$preset/screenshots/run-updater.png
updater_pid=

demo=$root/build/$preset/demo
install="$demo/Qorvel 安装"
release=$demo/release
server=$root/build/native/bin/update-server
shots=$root/build/$preset/screenshots
server_pid=

main() {
  QV_PRESET=mingw-x86 bash scripts/build.sh updater registrar
  QV_PRESET=$preset bash scripts/build.sh updater registrar SkinHu demo
  QV_PRESET=native bash scripts/build.sh update-server
  build_signing_updater
  choose_display
  prepare_prefix
  lay_out_installation
  publish_release
  start_server
  echo "installed version before: $("$server" version "$install/Tanvik体验版.exe")"
  scripts/wine-run.sh "$prefix" "$install/Tanvik体验版.exe" >/dev/null 2>&1 &
  (($#)) || set -- AutoUpdate
  start_updater "$@"
  show_log_and_screenshots
  echo "installed version after: $("$server" version "$install/Tanvik体验版.exe")"
  take_screenshot
  if [ "$on_user_display" = 1 ]; then
    echo "the programs run until you close them"
    WINEPREFIX=$prefix wineserver -w || true
  fi
}

# The demo release key, made once, and the demo's updater built with its public half.
build_signing_updater() {
  local public=$demo/release-key.pub
  if [ ! -s "$public" ] || [ ! -f "$demo/release-key/release-key.pem" ]; then
    rm -rf "$demo/release-key"
    "$server" keygen "$demo/release-key" >"$public"
  fi
  local key
  key=$(cat "$public")
  grep -qx "QV_DEMO_RELEASE_KEY:STRING=$key" "build/$preset/CMakeCache.txt" ||
    cmake "build/$preset" -DQV_DEMO_RELEASE_KEY="$key" >/dev/null
  QV_PRESET=$preset bash scripts/build.sh updater_demo
  echo "demo release key: $demo/release-key/release-key.pem (public: $key)"
}

# The folder of an installed Qorvel: the updater beside the main program's two editions.
lay_out_installation() {
  rm -rf "$demo/Qorvel "*
  mkdir -p "$install"
  cp "$demo/signed/updater.exe" "$bin/SkinHu.dll" "$install/"
  cp "$demo/demo_trial_1_0_0_1.exe" "$install/Tanvik体验版.exe"
  cp "$demo/demo_commercial_2_0_1_5.exe" "$install/Tanvik商业版.exe"
  echo "demo installation: $install"
}

# Publishing as a vendor does: the settings, then the program copied and renamed into place.
publish_release() {
  mkdir -p "$release"
  cat >"$release/release.ini" <<EOF_INI
# The demo release of Qorvel, served by update-server.
program = Tanvik体验版.exe
manual_page = http://127.0.0.1:8080/freeUpdate/log.asp
notes = notes.html
paused = no
signing_key = ../release-key/release-key.pem
EOF_INI
  echo "<ul><li>演示版本 2.0.1.5</li></ul>" >"$release/notes.html"
  cp "$demo/demo_trial_2_0_1_5.exe" "$release/Tanvik体验版.exe.part"
  mv "$release/Tanvik体验版.exe.part" "$release/Tanvik体验版.exe"
  echo "published 2.0.1.5 into $release, signed with the demo release key"
}

# On loopback the download would be over before anyone sees it: it is slowed to about 4 s.
start_server() {
  local size log=$demo/update-server.log
  size=$(stat -c %s "$release/Tanvik体验版.exe")
  "$server" --listen 127.0.0.1:8080 --rate-limit $((size / 4 + 1)) "$release" >"$log" 2>&1 &
  server_pid=$!
  at_exit stop_server
  for _ in $(seq 1 100); do
    grep -q '^listening at' "$log" && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -q '^listening at' "$log"; then
    sed 's/^/run.sh: /' "$log" >&2
    exit 1
  fi
  echo "update-server $(grep '^listening at' "$log")"
}

stop_server() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  server_pid=
  return 0
}

# The log panel's lines, read from the dialog as they come; while the download runs, a
# screenshot every half second.
show_log_and_screenshots() {
  mkdir -p "$shots"
  rm -f "$shots"/run-download-*.png
  local line taken=0
  while IFS= read -r line; do
    line=${line%$'\r'}
    echo "log: $line"
    if [[ "$line" == *正在下载* ]]; then
      (for n in 1 2 3 4 5 6; do
        kill -0 "$updater_pid" 2>/dev/null || break
        import -window root "$shots/run-download-$n.png" 2>/dev/null
        sleep 0.5
      done) &
      taken=$!
    fi
  done < <(scripts/wine-run.sh "$prefix" "$demo/updater-logwatch.exe" 90 2>/dev/null)
  [ "$taken" = 0 ] || wait "$taken" || true
  local taken_shot
  for taken_shot in "$shots"/run-download-*.png; do
    [ -f "$taken_shot" ] && echo "screenshot during the download: $taken_shot"
  done
  wait_for_updater_end 30
}

wait_for_updater_end() {
  local deadline=$((SECONDS + $1))
  while ((SECONDS < deadline)) && kill -0 "$updater_pid" 2>/dev/null; do sleep 0.2; done
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
  scripts/wine-run.sh "$prefix" "$install/updater.exe" "$@" &
  updater_pid=$!
  at_exit end_prefix_processes
  if ! wait_for_window updater.exe "$updater_pid" 60 && kill -0 "$updater_pid" 2>/dev/null; then
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
