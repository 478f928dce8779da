#!/usr/bin/env bash
# 100 downloads of a 64 MiB program through a proxy that drops every connection after a random
# 1-8 MiB, in front of nginx on loopback: how many were installed whole (goal: all), and how
# many bytes went beyond the file's size (goal: under 10 %). Run after a build of the test
# preset. QV_RESUME_DOWNLOADS changes the count.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/download-bench.sh"
proxy_port=$((port + 1))
count=${QV_RESUME_DOWNLOADS:-100}
work=$(mktemp -d /tmp/bench-resume.XXXXXX)
out=$(mktemp -d /dev/shm/bench-resume.XXXXXX 2>/dev/null || echo "$work/out")
proxy=
trap '[ -z "$proxy" ] || kill "$proxy" 2>/dev/null || true; nginx -c "$work/nginx.conf" -s stop 2>/dev/null || true; rm -rf "$work" "$out"' EXIT

mkdir -p "$out"
source "$root/tests/benchmarks/nginx-site.sh"
serve_program_with_nginx "$work" "$port" 64
python3 "$root/tests/benchmarks/dropping_proxy.py" "$proxy_port" "$port" "$work/stats" &
proxy=$!
sleep 1
winout="Z:${out//\//\\}"
winfile="Z:${work//\//\\}\\www\\big.exe"
said=$(bench_download --resumed "$count" \
  "http://127.0.0.1:$proxy_port/big.exe" "$winout" "$winfile" | tr -d '\r')
kill "$proxy"
wait "$proxy" 2>/dev/null || true
proxy=
read -r replies body <"$work/stats"
size=$((64 * 1024 * 1024))
echo "$said"
awk -v replies="$replies" -v body="$body" -v size="$size" -v count="$count" 'BEGIN {
  printf "  %d replies through the dropping proxy, %.1f MiB of bodies for %d downloads of 64 MiB\n", replies, body / 1048576, count
  printf "  bytes beyond the files: %.2f %%\n", 100 * (body - size * count) / (size * count)
}'
