#!/usr/bin/env bash
# 1,000 delta updates through a proxy that drops every connection after a random 1-4 KB, in front
# of nginx on loopback: from the commercial edition (117 KB) to the demo edition 1.0.0.2, whose
# patch (made by update-server) is about 3 KB, so that the patch and the whole file are both cut
# and resumed. Each run, at random, the patch's address has the good patch, one with bytes
# flipped, one cut short, one made from another program (the demo edition 1.0.0.1), or nothing;
# the program must end as the new one every time. Prints how the runs ended, per kind, how many
# bytes went through the proxy beside the whole file's size, and the time a run takes.
# Run after a build of the test preset (bench-patch-resume and the editions: the updater_update
# tests' targets) and of the native preset (QV_BUILD_DIR names another folder than build/native).
# QV_PATCH_DOWNLOADS changes the count, QV_PATCH_SECONDS the time limit (default 1800 s).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/download-bench.sh"
proxy_port=$((port + 1))
count=${QV_PATCH_DOWNLOADS:-1000}
seconds=${QV_PATCH_SECONDS:-1800}
server=$(realpath "$root/${QV_BUILD_DIR:-build/native}")/bin/update-server
fixtures=$build/tests/bin/fixtures
for needed in "$server" "$build/tests/bin/bench-patch-resume.exe" "$fixtures/edition_commercial.exe"; do
  [ -e "$needed" ] || { echo "missing $needed: build it first" >&2; exit 1; }
done
work=$(mktemp -d /tmp/bench-patch-resume.XXXXXX)
proxy=
trap '[ -z "$proxy" ] || kill "$proxy" 2>/dev/null || true; nginx -c "$work/nginx.conf" -s stop 2>/dev/null || true; rm -rf "$work"' EXIT

old=$fixtures/edition_commercial.exe new=$fixtures/edition_trial_1_0_0_2.exe
source "$root/tests/benchmarks/nginx-site.sh"
serve_program_with_nginx "$work" "$port" 1 "    access_log $work/access.log;"
release=$work/www/download/2.0.0.0
mkdir -p "$release/from" "$work/out" "$work/patches"
chmod -R 755 "$work/www/download"
cp "$new" "$release/program.exe"
chmod 644 "$release/program.exe"
"$server" patch "$old" "$new" "$work/patches/good" >/dev/null
"$server" patch "$fixtures/edition_trial_1_0_0_1.exe" "$new" "$work/patches/other" >/dev/null
served=$release/from/$(sha256sum "$old" | cut -d' ' -f1)

python3 "$root/tests/benchmarks/dropping_proxy.py" "$proxy_port" "$port" "$work/stats" 1024 4096 &
proxy=$!
sleep 1
win() { echo "Z:${1//\//\\}"; }
arch=win32
[ "$preset" = mingw-x86 ] || arch=win64
said=$(QV_WINE_ARCH=$arch timeout $((seconds + 120)) "$root/scripts/wine-run.sh" \
  "$build/wineprefix" "$build/tests/bin/bench-patch-resume.exe" "$count" "$seconds" \
  "http://127.0.0.1:$proxy_port/download/2.0.0.0/program.exe" "$(win "$work/out")" \
  "$(win "$old")" "$(win "$new")" "$(win "$work/patches/good")" "$(win "$work/patches/other")" \
  "$(win "$served")" | tr -d '\r')
kill "$proxy"
wait "$proxy" 2>/dev/null || true
proxy=
read -r replies body <"$work/stats"
echo "$said"
runs=$(echo "$said" | awk '/ runs in / { print $1 }')
awk -v replies="$replies" -v body="$body" -v whole="$(stat -c %s "$new")" -v runs="${runs:-0}" \
  -v patch="$(stat -c %s "$work/patches/good")" 'BEGIN {
  if (runs == 0) exit 1
  printf "  %d replies through the dropping proxy, %d bytes of bodies: %.0f a run\n", replies, body, body / runs
  printf "  whole file %d bytes, good patch %d bytes: a run sent %.1f %% of the whole file\n", whole, patch, 100 * body / runs / whole
}'
# nginx's log: how often each was asked for, and how often for its rest (206).
awk '{ kind = $7 ~ /\/from\// ? "patch" : "whole file"; asked[kind]++; status[kind " " $9]++ }
  END { for (kind in asked)
    printf "  %s: asked %d times, %d for the rest (206), %d not there (404)\n", kind, asked[kind], status[kind " 206"], status[kind " 404"] }' "$work/access.log"
