#!/usr/bin/env bash
# Figures of update-server beside nginx serving its export, on loopback, one run each:
#   1. requests/s of update.asp?action=Auto with wrk (2 threads, 100 connections, 10 s);
#   2. a 256 MiB download with curl (best of 3);
#   3. the server's resident memory while 50 clients download that file at once.
# Needs the native build (QV_PRESET=native bash scripts/build.sh) and wrk, curl, nginx.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
server=$(pwd)/build/native/bin/update-server
fixture=$(pwd)/build/native/tests/update-server/fixtures/v2_0_1_5.exe
[ -x "$server" ] && [ -f "$fixture" ] || { echo "build the native preset first" >&2; exit 1; }
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -f "$work/nginx.pid" ] && nginx -c "$work/nginx.conf" -p "$work" -s stop 2>/dev/null || true
  sleep 0.3
  rm -rf "$work"
}
trap cleanup EXIT

# A release of a 256 MiB program: the small one with data appended after its sections.
release=$work/release
mkdir -p "$release"
printf 'program = big.exe\nmanual_page = http://127.0.0.1/m.html\n' >"$release/release.ini"
{ cat "$fixture"; head -c $((256 * 1024 * 1024 - $(stat -c %s "$fixture"))) /dev/zero; } >"$release/big.exe"

ours=18501 theirs=18502
"$server" --listen 127.0.0.1:$ours --public-url http://127.0.0.1:$theirs/ "$release" >"$work/server.log" 2>&1 &
server_pid=$!
pids+=("$server_pid")
"$server" export --public-url http://127.0.0.1:$theirs/ --listen 127.0.0.1:$theirs "$release" "$work/export" >/dev/null
temps=""
for kind in client_body proxy fastcgi uwsgi scgi; do temps+="${kind}_temp_path $work/$kind; "; done
# Started by root, nginx's workers would run as "nobody", who cannot read the private folder.
user=""
[ "$(id -u)" = 0 ] && user="user root;"
cat >"$work/nginx.conf" <<EOF_CONF
$user daemon on; worker_processes 1; pid $work/nginx.pid; error_log $work/error.log;
events { worker_connections 1024; }
http { access_log off; sendfile on; $temps include $work/export/nginx-server.conf; }
EOF_CONF
nginx -c "$work/nginx.conf" -p "$work"
for _ in $(seq 1 100); do curl -sf "http://127.0.0.1:$ours/freeUpdate/isweb.asp" >/dev/null && break; sleep 0.1; done

rps() { wrk -t2 -c100 -d10s "http://127.0.0.1:$1/freeUpdate/update.asp?action=Auto" | awk '/Requests\/sec/ {print $2}'; }
a=$(rps $ours)
b=$(rps $theirs)
echo "requests/s, update.asp?action=Auto: update-server $a, nginx $b, ratio $(echo "scale=2; $a / $b" | bc)"

path=$(curl -s "http://127.0.0.1:$ours/freeUpdate/update.asp?action=Auto" | cut -d'#' -f3 | sed 's|^http://[^/]*/||')
best() {
  local top=0 speed
  for _ in 1 2 3; do
    read -r code speed < <(curl -s -o /dev/null -w '%{http_code} %{speed_download}\n' "http://127.0.0.1:$1/$path")
    [ "$code" = 200 ] || { echo "port $1 answered $code for /$path" >&2; exit 1; }
    speed=${speed%.*}
    ((speed > top)) && top=$speed
  done
  echo "$top"
}
a=$(best $ours)
b=$(best $theirs)
echo "256 MiB download, MB/s: update-server $((a / 1000000)), nginx $((b / 1000000)), ratio $(echo "scale=2; $a / $b" | bc)"

rss() { awk '/VmRSS/ {print $2}' "/proc/$server_pid/status"; }
before=$(rss)
clients=()
started=$SECONDS
for n in $(seq 1 50); do
  curl -s -o /dev/null --limit-rate 40M -w '%{size_download}\n' "http://127.0.0.1:$ours/$path" >"$work/client-$n" &
  clients+=($!)
done
peak=$before
for _ in $(seq 1 100); do
  now=$(rss)
  ((now > peak)) && peak=$now
  running=0
  for c in "${clients[@]}"; do kill -0 "$c" 2>/dev/null && running=1 && break; done
  ((running)) || break
  sleep 0.2
done
wait "${clients[@]}" 2>/dev/null || true
bytes=$(cat "$work"/client-* | awk '{s += $1} END {printf "%.0f", s}')
echo "resident memory of update-server: $before KiB idle, at most $peak KiB while 50 clients" \
  "downloaded $((bytes / 1048576)) MiB in all over $((SECONDS - started)) s"
