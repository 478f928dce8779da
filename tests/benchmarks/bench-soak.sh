#!/usr/bin/env bash
# A soak: 200 whole downloads of a 16 MiB program from nginx on loopback, each installed over a
# target and checked against the file's size and SHA-256, while two busy loops keep both cores
# of a small machine taken. Prints how many were installed (goal: all). Run after a build of the
# test preset. QV_SOAK_DOWNLOADS changes the count.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/download-bench.sh"
count=${QV_SOAK_DOWNLOADS:-200}
work=$(mktemp -d /tmp/bench-soak.XXXXXX)
out=$work/out
spinners=()
stop_all() {
  ((${#spinners[@]} == 0)) || kill "${spinners[@]}" 2>/dev/null || true
  nginx -c "$work/nginx.conf" -s stop 2>/dev/null || true
  rm -rf "$work"
}
trap stop_all EXIT

mkdir -p "$out"
source "$root/tests/benchmarks/nginx-site.sh"
serve_program_with_nginx "$work" "$port" 16
# Bounded like the rest: the loops end with the script, and after an hour at the latest.
for _ in 1 2; do
  timeout 3600 bash -c 'while :; do :; done' &
  spinners+=($!)
done
said=$(bench_download --resumed "$count" \
  "http://127.0.0.1:$port/big.exe" "Z:${out//\//\\}" "Z:${work//\//\\}\\www\\big.exe" | tr -d '\r')
echo "soak beside two busy loops: $said"
[[ "$said" == "installed $count of $count "* ]]
