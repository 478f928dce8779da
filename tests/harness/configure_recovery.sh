#!/usr/bin/env bash
# build.sh configures again whenever the last configure failed: checks needs_configure on a
# real CMake tree through a fresh tree, a failed configure, a good one, a failed one over a
# good one, and a good one again: configure_recovery.sh SOURCE_DIR (of the worktree)
set -euo pipefail
source "$1/scripts/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A project whose configure fails on demand, as a mistyped -DUPDATER_SITE_URL does.
mkdir -p "$work/src"
cat >"$work/src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(ConfigureRecovery NONE)
if(NOT VALUE STREQUAL "good")
  message(FATAL_ERROR "VALUE is ${VALUE}")
endif()
CMAKE
tree=$work/build

wrong=0
expect() {
  local wanted=$1 step=$2 got=configured
  needs_configure "$tree" && got=needs-configure
  if [ "$got" = "$wanted" ]; then echo "ok: $step -> $got"; else
    echo "WRONG: $step -> $got, expected $wanted"
    wrong=$((wrong + 1))
  fi
}
configure() { cmake -S "$work/src" -B "$tree" -G Ninja "-DVALUE=$1" >/dev/null 2>&1 || true; }

expect needs-configure "no tree"
configure typo
expect needs-configure "failed configure of a new tree"
configure good
expect configured "good configure after the failed one"
configure typo
expect needs-configure "failed configure over a good one"
configure good
expect configured "good configure again"
rm "$tree/build.ninja"
expect needs-configure "build files deleted"
((wrong == 0))
