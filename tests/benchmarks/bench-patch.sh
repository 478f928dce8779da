#!/usr/bin/env bash
# What a delta update sends, beside the whole program, and how much the program grew. Builds the
# shipped 32-bit updater.exe at commits in a tree of its own, through a private index and
# `git read-tree`: a commit rewrites only the files it changed, so each build after the first is
# incremental, and the work tree and git's state are left alone.
#   tests/benchmarks/bench-patch.sh [OLD_COMMIT [NEW_COMMIT]]
#     one pair (default HEAD~1 and HEAD): the whole file, xz -9e, bsdiff's own patch (bzip2
#     blocks) and ours (`update-server patch`: the same blocks deflated), the time and peak memory
#     of making ours, and how much the whole file grew; then the same for the mingw builds' pairs
#   tests/benchmarks/bench-patch.sh --series N
#     the N latest commits that changed what updater.exe is built from: a row per neighbouring
#     pair, then the median and the worst share and how many pairs are at most 3 % (the goal for
#     a real pair)
# Needs the native build (QV_BUILD_DIR names another folder than build/native). Not for CI: the
# first build takes a few minutes on 2 cores, each later one well under a minute.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
server=$(realpath "${QV_BUILD_DIR:-build/native}")/bin/update-server
[ -x "$server" ] || { echo "build the native preset first" >&2; exit 1; }
work=$(mktemp -d /tmp/bench-patch.XXXXXX)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
export GIT_INDEX_FILE=$work/index
checked_out=

build_at() { # build_at COMMIT: copies that commit's updater.exe to $work/COMMIT.exe
  if [ -z "$checked_out" ]; then
    mkdir -p "$tree"
    git read-tree "$1"
    git --work-tree="$tree" checkout-index -a -f -u
    cmake --preset mingw-x86 -S "$tree" -B "$tree/build" -DBUILD_TESTING=OFF >/dev/null
  else
    git --work-tree="$tree" read-tree -m -u "$checked_out" "$1"
  fi
  checked_out=$1
  cmake --build "$tree/build" -j2 --target updater >/dev/null
  cp "$tree/build/bin/updater.exe" "$work/$1.exe"
}

share() { # share BYTES WHOLE
  awk -v bytes="$1" -v whole="$2" 'BEGIN { printf "%.2f", 100 * bytes / whole }'
}

row() { # row NAME BYTES WHOLE
  printf '  %-44s %10d bytes %6s %%\n' "$1" "$2" "$(share "$2" "$3")"
}

our_patch() { # our_patch OLD NEW: prints our patch's size
  "$server" patch "$1" "$2" "$work/ours" >/dev/null
  stat -c %s "$work/ours"
}

compare() { # compare TITLE OLD NEW
  local whole
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

one_pair() { # one_pair OLD NEW
  local old new
  old=$(git rev-parse --short "$1") new=$(git rev-parse --short "$2")
  build_at "$old"
  build_at "$new"
  compare "updater.exe (32-bit) from $old to $new:" "$work/$old.exe" "$work/$new.exe"
  local before after
  before=$(stat -c %s "$work/$old.exe") after=$(stat -c %s "$work/$new.exe")
  printf '  the whole file grew from %d to %d bytes: %+d bytes (%+.1f KB)\n' \
    "$before" "$after" $((after - before)) "$(awk -v d=$((after - before)) 'BEGIN { print d / 1024 }')"
  for build in build/mingw-x86 build/mingw-x64; do
    local bin=$build/tests/bin
    [ -f "$bin/testsite/updater.exe" ] || continue
    compare "$build: updater.exe for the tests' site to the one with a release key and another site:" \
      "$bin/testsite/updater.exe" "$bin/vendorsite-signed/updater.exe"
    compare "$build: demo edition 1.0.0.1 to 1.0.0.2:" \
      "$bin/fixtures/edition_trial_1_0_0_1.exe" "$bin/fixtures/edition_trial_1_0_0_2.exe"
    break
  done
}

# What updater.exe is built from: its folders and their libraries', and the build's settings.
sources=(updater framework controls menu skin resources patch cmake CMakeLists.txt CMakePresets.json)

series() { # series N
  local commits previous= shares=
  commits=$(git log -"$1" --format=%h -- "${sources[@]}" | tac)
  printf '%-18s %9s %8s %8s  %s\n' "pair" "whole" "bsdiff" "ours" "its sources changed"
  for commit in $commits; do
    build_at "$commit"
    if [ -n "$previous" ]; then
      local whole bsdiff ours lines
      whole=$(stat -c %s "$work/$commit.exe")
      bsdiff "$work/$previous.exe" "$work/$commit.exe" "$work/bsdiff"
      bsdiff=$(stat -c %s "$work/bsdiff")
      ours=$(our_patch "$work/$previous.exe" "$work/$commit.exe")
      lines=$(git diff --shortstat "$previous" "$commit" -- "${sources[@]}" | sed 's/^ *//')
      printf '%-18s %9d %7s%% %7s%%  %s\n' "$previous→$commit" "$whole" "$(share "$bsdiff" "$whole")" \
        "$(share "$ours" "$whole")" "${lines:-none}"
      shares+="$(share "$ours" "$whole") "
    fi
    previous=$commit
  done
  tr ' ' '\n' <<<"$shares" | sed '/^$/d' | sort -g | awk '
    { share[NR] = $1; if ($1 <= 3) under++ }
    END {
      median = NR % 2 ? share[(NR + 1) / 2] : (share[NR / 2] + share[NR / 2 + 1]) / 2
      printf "ours over %d pairs: median %.2f %%, worst %.2f %%, at most 3 %%: %d\n",
        NR, median, share[NR], under
    }'
}

if [ "${1:-}" = "--series" ]; then
  series "${2:?how many commits}"
else
  one_pair "${1:-HEAD~1}" "${2:-HEAD}"
fi
