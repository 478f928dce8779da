#!/usr/bin/env bash
# Address churn: the program is replaced every 200 ms by another of the same version, size and
# time (as `cp -p` leaves it), while 10 clients download half of what the record names and
# resume the rest with If-Range. Prints how many assembled files equal neither program (goal:
# 0), once with SIGHUP after every replacement and once by rename alone (the server takes a
# folder that stayed the same for 2 s, so those replacements pause now and then). Run after a
# build of the native preset; BUILD, QV_CHURN_SECONDS and QV_CHURN_CLIENTS change the defaults.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${BUILD:-$root/build/native}
seconds=${QV_CHURN_SECONDS:-10}
clients=${QV_CHURN_CLIENTS:-10}
server=
work=$(mktemp -d /tmp/bench-churn.XXXXXX)
trap '[ -z "$server" ] || kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT

fixture=$build/tests/update-server/fixtures/v2_0_1_5.exe
for fill in a b; do
  { cat "$fixture"; head -c $((4 << 20)) /dev/zero | tr '\0' "$fill"; } >"$work/$fill.exe"
done

churn() {  # mode: sighup or rename
  local mode=$1 release=$work/release-$1 name=Tanvik.exe
  mkdir -p "$release"
  printf 'program = %s\nmanual_page = http://www.example.com/\n' "$name" >"$release/release.ini"
  cp "$work/a.exe" "$release/$name"
  touch -d @1700000000 "$release/$name" "$release/release.ini"
  "$build/bin/update-server" --listen 127.0.0.1:0 --poll 0.1 --store "$work/store-$mode" \
    "$release" >"$work/out-$mode" 2>"$work/err-$mode" &
  server=$!
  for _ in $(seq 100); do grep -q listening "$work/out-$mode" && break; sleep 0.1; done
  local port
  port=$(sed -n 's/.*127.0.0.1:\([0-9]*\).*/\1/p' "$work/out-$mode")
  (
    end=$((SECONDS + seconds))
    for ((i = 1; SECONDS < end; i++)); do
      cp "$work/$([ $((i % 2)) = 1 ] && echo b || echo a).exe" "$release/$name.part"
      touch -d @1700000000 "$release/$name.part"
      mv "$release/$name.part" "$release/$name"
      [ "$mode" = sighup ] && kill -HUP "$server"
      [ "$mode" = rename ] && [ $((i % 5)) = 0 ] && sleep 2.2
      sleep 0.2
    done
  ) &
  local publisher=$!
  python3 - "$port" "$clients" "$seconds" "$work/a.exe" "$work/b.exe" "$mode" <<'PY'
import http.client, random, sys, threading, time
port, clients, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
first, second = (open(p, "rb").read() for p in sys.argv[4:6])
counts = {"first": 0, "second": 0, "neither": 0, "failed": 0}
lock = threading.Lock()

def ask(path, headers):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    connection.request("GET", path, headers=headers)
    reply = connection.getresponse()
    return reply.status, reply.getheader("ETag"), reply.read()

def client(end):
    while time.time() < end:
        try:
            record = ask("/freeUpdate/update.asp?action=Auto", {})[2].decode()
            path = record[record.index("/download/"):-1]
            half = len(first) // 2
            status, etag, part = ask(path, {"Range": "bytes=0-%d" % (half - 1)})
            time.sleep(random.uniform(0, 0.3))
            status, _, rest = ask(path, {"Range": "bytes=%d-" % half, "If-Range": etag})
            whole = part + rest if status == 206 else rest
            kind = "first" if whole == first else "second" if whole == second else "neither"
        except Exception:
            kind = "failed"
        with lock:
            counts[kind] += 1

end = time.time() + seconds
threads = [threading.Thread(target=client, args=(end,)) for _ in range(clients)]
for t in threads: t.start()
for t in threads: t.join()
print("  %-7s %4d assembled: %d equal the first program, %d the second, %d NEITHER (goal: 0);"
      " %d exchanges failed" % (sys.argv[6], sum(counts.values()) - counts["failed"],
                                counts["first"], counts["second"], counts["neither"], counts["failed"]))
PY
  wait "$publisher" || true
  echo "          $(grep -c 'now serving' "$work/err-$mode" || true) releases taken while they downloaded"
  kill "$server"
  wait "$server" 2>/dev/null || true
  server=
}

echo "Address churn: $clients clients, ${seconds} s, a replacement every 200 ms"
churn sighup
churn rename
