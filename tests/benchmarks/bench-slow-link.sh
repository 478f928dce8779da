#!/usr/bin/env bash
# One download of the demo program through the dialog over a link that sends 20 KB at once and
# then 600 bytes a second, as a crawling mobile link does: prints how long it took and the size
# installed. At full length it takes about 20 minutes. QV_SLOW_BYTES_PER_SECOND changes the
# pace (pieces go every 100 ms). Run after a build of the test preset.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/download-bench.sh"
rate=${QV_SLOW_BYTES_PER_SECOND:-600}
work=$(mktemp -d /tmp/bench-slow-link.XXXXXX)
server=
trap '[ -z "$server" ] || kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT

program=$build/demo/demo_trial_2_0_1_5.exe
size=$(stat -c %s "$program")
cp "$program" "$work/program.exe"
cat >"$work/script.json" <<EOF
[{"target": "/program.exe", "body_file": "program.exe", "headers": {"ETag": "\"slow-1\""},
  "behaviour": "slow", "burst_bytes": 20000, "piece_bytes": $((rate / 10)), "interval_ms": 100}]
EOF
(cd "$work" && exec python3 "$root/tests/server/test_http_server.py" --port "$port" \
  --lifetime 7200 --script "$work/script.json") >"$work/server.log" 2>&1 &
server=$!
sleep 1
echo "$size bytes: 20000 at once, then $rate bytes a second"
said=$(bench_download --unchecked 1 "http://127.0.0.1:$port/program.exe" \
  "Z:${work//\//\\}" | tr -d '\r') || true
echo "$said" | awk -v size="$size" '$2 ~ /^[0-9.]+$/ {
  printf "  installed %.0f of %d bytes in %.0f s (%.1f min)\n", $2 * 1048576, size, $1, $1 / 60
  next
} { print }'
