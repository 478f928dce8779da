#!/usr/bin/env bash
# What a delta update sends, beside the whole program: builds the shipped 32-bit updater.exe at two
# commits (default HEAD~1 and HEAD, from `git archive` into a temporary folder: the work tree and
# git's state are left alone), then prints for that pair, and for the build's updater and demo
# editions where a mingw build has them: the whole file, the whole file xz -9e, bsdiff's own patch
# (bzip2 blocks) and ours (`update-server patch`: the same blocks deflated), in bytes and as a
# share of the whole file (goal for a real pair: at most 3 %), and the time and peak memory of
# making ours.
#   tests/benchmarks/bench-patch.sh [OLD_COMMIT [NEW_COMMIT]]
# Needs the native build (QV_BUILD_DIR names another folder than build/native). Not for CI: the
# two builds take a few minutes on 2 cores.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
server=$(realpath "${QV_BUILD_DIR:-build/native}")/bin/update-server
[ -x "$server" ] || { echo "build the native preset first" >&2; exit 1; }
work=$(mktemp -d /tmp/bench-patch.XXXXXX)
trap 'rm -rf "$work"' EXIT

build_at() { # build_at COMMIT: prints the path of that commit's updater.exe
  local tree=$work/$1
  mkdir -p "$tree"
  git archive "$1" | tar -x -C "$tree"
  cmake --preset mingw-x86 -S "$tree" -B "$tree/build" -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$tree/build" -j2 --target updater >/dev/null
  echo "$tree/build/bin/updater.exe"
}

row() { # row NAME BYTES WHOLE
  awk -v name="$1" -v bytes="$2" -v whole="$3" \
    'BEGIN { printf "  %-44s %10d bytes %6.1f %%\n", name, bytes, 100 * bytes / whole }'
}

compare() { # compare TITLE OLD NEW
  local whole xz
  whole=$(stat -c %s "$3")
  echo "$1"
  row "the whole file" "$whole" "$whole"
  row "the whole file, xz -9e" "$(xz -9e -c "$3" | wc -c)" "$whole"
  bsdiff "$2" "$3" "$work/bsdiff"
  row "bsdiff's patch (its own bzip2 blocks)" "$(stat -c %s "$work/bsdiff")" "$whole"
  /usr/bin/time -f '%e %M' -o "$work/time" "$server" patch "$2" "$3" "$work/ours" >/dev/null
  row "our patch (the same blocks, deflated)" "$(stat -c %s "$work/ours")" "$whole"
  read -r seconds kilobytes <"$work/time"
  printf '  made in %s s, peak memory %d MiB (bsdiff or update-server)\n' "$seconds" $((kilobytes / 1024))
}

old=${1:-HEAD~1} new=${2:-HEAD}
compare "updater.exe (32-bit) from $(git rev-parse --short "$old") to $(git rev-parse --short "$new"):" \
  "$(build_at "$old")" "$(build_at "$new")"
for tree in build/mingw-x86 build/mingw-x64; do
  bin=$tree/tests/bin
  [ -f "$bin/testsite/updater.exe" ] || continue
  compare "$tree: updater.exe for the tests' site to the one with a release key and another site:" \
    "$bin/testsite/updater.exe" "$bin/vendorsite-signed/updater.exe"
  compare "$tree: demo edition 1.0.0.1 to 1.0.0.2:" \
    "$bin/fixtures/edition_trial_1_0_0_1.exe" "$bin/fixtures/edition_trial_1_0_0_2.exe"
  break
done
