#!/usr/bin/env bash
# Figures of update-server beside nginx serving its export, on loopback, from one run:
#   1. requests/s with wrk of update.asp?action=Auto at 1, 50, 500 and 1000 connections and of
#      isweb.asp at 50, with access logs off for both, then on for both; ratios are
#      update-server's over nginx's;
#   2. a 256 MiB download with curl, and 20 at once;
#      Each figure of 1 and 2 is measured in rounds (QV_BENCH_ROUNDS, default 7; 5 for the 20
#      downloads), each round one run of each server back to back, which goes first
#      alternating. A round's ratio compares runs that the rest of the machine weighed on
#      alike; the figure given is the median of the rounds' ratios, beside each server's
#      median (on a 2-core machine single runs swing by a third);
#   3. update-server's memory as PSS (smaps_rollup: a file mapped once for many downloads
#      counts once) while 50 clients download at once, and while 20 rate-limited ones do;
#   4. the latency of update.asp (p50, p99, max) while a new 256 MiB program is published, and
#      for comparison without;
#   5. a load test: 20 clients at 10 MB/s through 60 s of downloads (each fetches the file
#      twice, back to back); every download must bring the whole file.
# Needs the native build (QV_PRESET=native bash scripts/build.sh; QV_BUILD_DIR names another
# build folder) and wrk, curl, nginx.
# Not for CI: it takes about five minutes and the machine's whole attention.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
build=$(realpath "${QV_BUILD_DIR:-build/native}")
server=$build/bin/update-server
fixture=$build/tests/update-server/fixtures/v2_0_1_5.exe
other=$build/tests/update-server/fixtures/v2_0_2_0.exe
[ -x "$server" ] && [ -f "$fixture" ] || { echo "build the native preset first" >&2; exit 1; }
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for conf in "$work"/nginx-*.conf; do
    [ -f "$conf" ] && nginx -c "$conf" -p "$work" -s stop 2>/dev/null || true
  done
  sleep 0.5
  rm -rf "$work"
}
trap cleanup EXIT

# A program of 256 MiB: a small one with data appended after its sections.
grow() { { cat "$1"; head -c $((256 * 1024 * 1024 - $(stat -c %s "$1"))) /dev/zero; } >"$2"; }
release=$work/release
mkdir -p "$release"
printf 'program = big.exe\nmanual_page = http://127.0.0.1/m.html\n' >"$release/release.ini"
grow "$fixture" "$release/big.exe"

ours=18501 theirs=18502
"$server" export --public-url http://127.0.0.1:$theirs/ --listen 127.0.0.1:$theirs "$release" "$work/export" >/dev/null
temps=""
for kind in client_body proxy fastcgi uwsgi scgi; do temps+="${kind}_temp_path $work/$kind; "; done
# Started by root, nginx's workers would run as "nobody", who cannot read the private folder.
user=""
[ "$(id -u)" = 0 ] && user="user root;"

# start_both LOG: both servers, with access logs ("on") or without ("off").
start_both() {
  local ourLog=() theirLog="access_log off;"
  if [ "$1" = on ]; then
    ourLog=(--access-log "$work/ours-access.log")
    theirLog="access_log $work/theirs-access.log combined;"
  fi
  "$server" --listen 127.0.0.1:$ours --public-url http://127.0.0.1:$theirs/ --store "$work/store" \
    "${ourLog[@]}" "$release" >"$work/server.log" 2>&1 &
  server_pid=$!
  pids+=("$server_pid")
  cat >"$work/nginx-$1.conf" <<EOF_CONF
$user daemon on; worker_processes 1; pid $work/nginx.pid; error_log $work/error.log;
events { worker_connections 4096; }
worker_rlimit_nofile 8192;
http { $theirLog sendfile on; $temps include $work/export/nginx-server.conf; }
EOF_CONF
  nginx -c "$work/nginx-$1.conf" -p "$work"
  nginx_conf=$work/nginx-$1.conf
  for _ in $(seq 1 100); do curl -sf "http://127.0.0.1:$ours/freeUpdate/isweb.asp" >/dev/null && break; sleep 0.1; done
}
stop_both() {
  kill "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  nginx -c "$nginx_conf" -p "$work" -s stop
  sleep 0.5
}

ulimit -n 8192 2>/dev/null || true
rounds=${QV_BENCH_ROUNDS:-7}
rps() { wrk -t"$(($2 < 2 ? 1 : 2))" -c"$2" -d3s "http://127.0.0.1:$1$3" | awk '/Requests\/sec/ {print $2}'; }
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }
# rounds_of COUNT COMMAND...: COMMAND PORT, once for each server a round, COUNT rounds; prints
# "ours-median theirs-median ratio-median COUNT".
rounds_of() {
  local count=$1 a b as="" bs="" ratios="" n
  shift
  for n in $(seq 1 "$count"); do
    if ((n % 2)); then
      a=$("$@" $ours)
      b=$("$@" $theirs)
    else
      b=$("$@" $theirs)
      a=$("$@" $ours)
    fi
    as+=" $a" bs+=" $b" ratios+=" $(echo "$a $b" | awk '{printf "%.4f", $1 / $2}')"
  done
  echo "$(echo "$as" | median) $(echo "$bs" | median) $(echo "$ratios" | median) $count"
}
# said LABEL UNIT "ours theirs ratio rounds"
said() {
  set -- "$1" "$2" $3
  printf '%s: update-server %.0f, nginx %.0f %s (medians of %s rounds), ratio %.2f\n' \
    "$1" "$3" "$4" "$2" "$6" "$5"
}
wrk_at() { rps "$3" "$1" "$2"; }  # connections target port
compare() {  # connections target label
  said "  $3, $1 connections" "requests/s" "$(rounds_of "$rounds" wrk_at "$1" "$2")"
}
for logs in off on; do
  start_both $logs
  echo "requests/s, access logs $logs for both:"
  if [ $logs = off ]; then
    for c in 1 50 500 1000; do compare $c "/freeUpdate/update.asp?action=Auto" "update.asp?action=Auto"; done
  else
    compare 50 "/freeUpdate/update.asp?action=Auto" "update.asp?action=Auto"
  fi
  compare 50 /freeUpdate/isweb.asp isweb.asp
  [ $logs = on ] || stop_both
done

path=$(curl -s "http://127.0.0.1:$ours/freeUpdate/update.asp?action=Auto" | cut -d'#' -f3 | sed 's|^http://[^/]*/||')
one_download() {  # port: MB/s
  local code speed
  read -r code speed < <(curl -s -o /dev/null -w '%{http_code} %{speed_download}\n' "http://127.0.0.1:$1/$path")
  [ "$code" = 200 ] || { echo "port $1 answered $code for /$path" >&2; exit 1; }
  echo "$speed" | awk '{printf "%.1f", $1 / 1000000}'
}
said "256 MiB download, 1 client" "MB/s" "$(rounds_of $((rounds + 2)) one_download)"

# parallel PORT COUNT [CURL OPTIONS]: COUNT downloads at once; prints the total MB/s, and says
# and fails when one did not bring the whole file.
size=$(stat -c %s "$release/big.exe")
parallel() {
  local port=$1 count=$2 clients=() started n
  shift 2
  started=$(date +%s.%N)
  rm -f "$work"/client-*
  for n in $(seq 1 "$count"); do
    curl -s -o /dev/null --max-time 180 "$@" -w '%{size_download}\n' "http://127.0.0.1:$port/$path" >"$work/client-$n" &
    clients+=($!)
  done
  wait "${clients[@]}" 2>/dev/null || true
  for n in $(seq 1 "$count"); do
    [ "$(cat "$work/client-$n")" = "$size" ] || { echo "client $n on port $port got $(cat "$work/client-$n") of $size bytes" >&2; exit 1; }
  done
  echo "scale=0; $count * $size / 1000000 / ($(date +%s.%N) - $started)" | bc
}
twenty_downloads() { parallel "$1" 20; }
said "256 MiB download, 20 clients at once, in all" "MB/s" "$(rounds_of 5 twenty_downloads)"
stop_both

pss() { awk '/^Pss:/ {print $2}' "/proc/$server_pid/smaps_rollup"; }
# memory CLIENTS [SERVER OPTIONS]: the server's PSS idle and at most while CLIENTS download.
memory() {
  local count=$1 clients=() peak before n now running c
  shift
  "$server" --listen 127.0.0.1:$ours --store "$work/store" "$@" "$release" >"$work/server.log" 2>&1 &
  server_pid=$!
  pids+=("$server_pid")
  for _ in $(seq 1 100); do curl -sf "http://127.0.0.1:$ours/freeUpdate/isweb.asp" >/dev/null && break; sleep 0.1; done
  before=$(pss)
  peak=$before
  for n in $(seq 1 "$count"); do
    curl -s -o /dev/null --max-time 120 --limit-rate 40M "http://127.0.0.1:$ours/$path" &
    clients+=($!)
  done
  for _ in $(seq 1 150); do
    now=$(pss)
    ((now > peak)) && peak=$now
    running=0
    for c in "${clients[@]}"; do kill -0 "$c" 2>/dev/null && running=1 && break; done
    ((running)) || break
    sleep 0.2
  done
  kill "${clients[@]}" 2>/dev/null || true
  wait "${clients[@]}" 2>/dev/null || true
  kill "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  echo "$before KiB idle, at most $peak KiB"
}
echo "PSS of update-server, 50 clients downloading: $(memory 50)"
echo "PSS of update-server, 20 clients downloading with --rate-limit 20000000: $(memory 20 --rate-limit 20000000)"

# A client that streams junk for 10 s while it takes a download slowly: the server reads at most
# a head's worth of it, and its memory is back near where it was once the client has gone.
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$server_pid/status"; }
"$server" --listen 127.0.0.1:$ours --store "$work/store" "$release" >"$work/server.log" 2>&1 &
server_pid=$!
pids+=("$server_pid")
for _ in $(seq 1 100); do curl -sf "http://127.0.0.1:$ours/freeUpdate/isweb.asp" >/dev/null && break; sleep 0.1; done
idle=$(rss)
python3 - "$ours" "/$path" >"$work/junk" <<'EOF_PY' &
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
s.sendall(b"GET " + sys.argv[2].encode() + b" HTTP/1.1\r\nHost: x\r\n\r\n")
s.setblocking(False)
junk, sent, end = b"J" * 65536, 0, time.time() + 10
while time.time() < end:
    try:
        sent += s.send(junk)
    except BlockingIOError:
        time.sleep(0.01)
    try:
        s.recv(4096)  # a slow reader: the reply stays under way
    except BlockingIOError:
        pass
print(sent // (1024 * 1024))
s.close()
EOF_PY
junk_pid=$!
peak=$idle
while kill -0 "$junk_pid" 2>/dev/null; do
  now=$(rss)
  ((now > peak)) && peak=$now
  sleep 0.2
done
sleep 1
echo "RSS of update-server while a client streams junk during a download: $idle KiB idle," \
  "at most $peak KiB, $(rss) KiB a second after it left ($(cat "$work/junk") MiB sent)"
kill "$server_pid"
wait "$server_pid" 2>/dev/null || true

# Publishing a new 256 MiB program while update.asp is asked without a pause; the release
# before expires 3 s later, within the same run, and its copy is removed.
"$server" --listen 127.0.0.1:$ours --store "$work/store" --keep-previous 3 "$release" >"$work/server.log" 2>&1 &
server_pid=$!
pids+=("$server_pid")
for _ in $(seq 1 100); do curl -sf "http://127.0.0.1:$ours/freeUpdate/isweb.asp" >/dev/null && break; sleep 0.1; done
grow "$other" "$release/big.exe.part"
latency() {  # the file wrk wrote: p50, p99, max
  echo "p50 $(awk '$1 == "50%" {print $2}' "$1"), p99 $(awk '$1 == "99%" {print $2}' "$1")," \
    "max $(awk '$1 == "Latency" {print $4}' "$1")"
}
wrk -t1 -c10 -d10s --latency "http://127.0.0.1:$ours/freeUpdate/update.asp?action=Auto" >"$work/quiet"
echo "update.asp latency, nothing published: $(latency "$work/quiet")"
wrk -t1 -c10 -d20s --latency "http://127.0.0.1:$ours/freeUpdate/update.asp?action=Auto" >"$work/latency" &
wrk_pid=$!
sleep 1
mv "$release/big.exe.part" "$release/big.exe"
wait "$wrk_pid"
checked=$(grep -o 'checked in [0-9]* ms' "$work/server.log" || echo "not checked within the run")
echo "update.asp latency during a 256 MiB publish and the expiry of the one before ($checked): $(latency "$work/latency")"

# Load test: 20 clients at 10 MB/s, each fetching the file twice back to back.
path=$(curl -s "http://127.0.0.1:$ours/freeUpdate/update.asp?action=Auto" | cut -d'#' -f3 | sed 's|^http://[^/]*/||')
started=$SECONDS
load=()
for n in $(seq 1 20); do
  (for round in 1 2; do
     curl -s -o /dev/null --max-time 90 --limit-rate 10M -w '%{size_download}\n' "http://127.0.0.1:$ours/$path" || true
   done) >"$work/load-$n" &
  load+=($!)
done
wait "${load[@]}" || true
whole=0
for n in $(seq 1 20); do
  for got in $(cat "$work/load-$n"); do [ "$got" = "$size" ] && whole=$((whole + 1)); done
done
echo "load test: $whole of 40 downloads whole (20 clients at 10 MB/s, twice each) in $((SECONDS - started)) s"
[ "$whole" = 40 ] || { echo "load test: some downloads were cut" >&2; exit 1; }
