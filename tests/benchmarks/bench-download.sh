#!/usr/bin/env bash
# Serves a 256 MiB program-like file with nginx on loopback and runs bench-download.exe
# against it under Wine; prints its figures. Run after a build of the test preset.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/download-bench.sh"
work=$(mktemp -d /tmp/bench-download.XXXXXX)
# The downloads land in memory where there is a tmpfs: the disk writing back one run's file
# would otherwise slow the next run down, by more than what is measured.
out=$(mktemp -d /dev/shm/bench-download.XXXXXX 2>/dev/null || echo "$work/out")
spinner=
trap '[ -z "$spinner" ] || kill "$spinner" 2>/dev/null || true; nginx -c "$work/nginx.conf" -s stop 2>/dev/null || true; rm -rf "$work" "$out"' EXIT

mkdir -p "$out"
source "$root/tests/benchmarks/nginx-site.sh"
serve_program_with_nginx "$work" "$port" 256 "    sendfile on;
    # The same file at the pace of a gigabit link.
    location /limited/ {
      alias $work/www/;
      limit_rate 100m;
    }"
url=http://127.0.0.1:$port/big.exe
winout="Z:${out//\//\\}"
bench_download "$url" "$winout" "http://127.0.0.1:$port/limited/big.exe"

# Whether this machine has a core to spare for the digest's thread: plain downloads alone,
# and beside a busy loop of the idle scheduling class, which runs only when nothing else wants
# a processor. Where a core is free both take the same time; where they do not, no thread
# can run beside a download (the digest's among them) without slowing it.
timed_downloads() {
  local said
  said=$(bench_download --unchecked 3 "$url" "$winout" | tr -d '\r') || {
    echo "$said" | grep -v '^[0-9. ]*$' >&2
    exit 1
  }
  # Each download must have brought the whole file: seconds, then MiB.
  if echo "$said" | awk '$2 != 256 { bad = 1 } END { exit !bad }'; then
    echo "a download brought less or more than the file:" "$said" >&2
    exit 1
  fi
  echo "$said" >>"$1"
}
for round in 1 2 3; do
  timed_downloads "$work/alone"
  chrt -i 0 sh -c 'while :; do :; done' &
  spinner=$!
  timed_downloads "$work/beside"
  kill "$spinner"
  wait "$spinner" 2>/dev/null || true
  spinner=
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
awk -v alone="$(median "$work/alone")" -v beside="$(median "$work/beside")" 'BEGIN {
  printf "  free-core check, plain downloads alone %.1f MB/s, beside an idle-class busy loop\n", 256 / alone
  printf "    %.1f MB/s, medians of 9: ratio beside / alone %.2f\n", 256 / beside, alone / beside
}'
