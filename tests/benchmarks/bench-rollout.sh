#!/usr/bin/env bash
# Staged rollout, simulated: 10,000 random installation ids ask update-server and nginx serving
# the export for the update record, at a rollout of 10 %, then 50 %, then 0 % (each change
# made by rewriting release.ini: SIGHUP for the server, export again and `nginx -s reload` for
# nginx). Prints, for each share: the share each server gave (goal: within 1.5 points of the
# target), the ids whose offers differ between the two (goal: 0), the ids outside the rollout
# that did not get the previous release's record (goal: 0), the ids whose offer differs from a
# third MurmurHash2 written here in Python (goal: 0), how long the change took to be taken, and
# whether the very first request to each after it got the new answer. The same ids ask at each
# share: those in at 10 % are still in at 50 %.
# Needs the native build (QV_BUILD_DIR names another build folder than build/native), nginx and
# python3. Not for CI: about a minute. QV_ROLLOUT_IDS changes the number of ids.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
build=$(realpath "${QV_BUILD_DIR:-build/native}")
server=$build/bin/update-server
fixtures=$build/tests/update-server/fixtures
[ -x "$server" ] && [ -f "$fixtures/v2_0_2_0.exe" ] || { echo "build the native preset first" >&2; exit 1; }
ids=${QV_ROLLOUT_IDS:-10000}
work=$(mktemp -d /tmp/bench-rollout.XXXXXX)
chmod 755 "$work"  # nginx's workers read it as another user when started by root
server_pid=
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  [ -f "$work/nginx.pid" ] && nginx -c "$work/nginx.conf" -p "$work" -s stop 2>/dev/null || true
  sleep 0.3
  rm -rf "$work"
}
trap cleanup EXIT

release=$work/release
mkdir -p "$release"
cp "$fixtures/v2_0_2_0.exe" "$release/new.exe"
cp "$fixtures/v2_0_1_5.exe" "$release/old.exe"
touch -d '1 minute ago' "$release"/*.exe
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
base=http://127.0.0.1:$port/

set_share() {  # SHARE: release.ini with that rollout, dated a while ago (no wait to settle)
  printf 'program = new.exe\nprevious = old.exe\nrollout = %s\nmanual_page = http://a/\n' "$1" \
    >"$release/release.ini"
  touch -d '1 minute ago' "$release/release.ini"
}

export_site() {
  "$server" export --public-url "$base" --listen "127.0.0.1:$port" --store "$work/export-store" \
    "$release" "$work/export" >/dev/null
}

user=""
[ "$(id -u)" = 0 ] && user="user root;"
temps=""
for kind in client_body proxy fastcgi uwsgi scgi; do temps+="${kind}_temp_path $work/$kind; "; done
cat >"$work/nginx.conf" <<CONF
$user
daemon on;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 256; }
http { access_log off; $temps include "$work/export/nginx-server.conf"; }
CONF

workers() { ps -o pid= --ppid "$(cat "$work/nginx.pid")" | tr -d ' ' | sort; }
serving_lines() { grep -c "now serving" "$work/server.err" || true; }

first=1
for share in 10% 50% 0%; do
  set_share "$share"
  export_site
  if [ $first = 1 ]; then
    nginx -c "$work/nginx.conf" -p "$work"
    "$server" --listen 127.0.0.1:0 --public-url "$base" --poll 3600 --store "$work/store" \
      "$release" >"$work/server.out" 2>"$work/server.err" &
    server_pid=$!
    for _ in $(seq 100); do grep -q listening "$work/server.out" && break; sleep 0.1; done
    taken_server=- taken_nginx=-
  else
    # The server: from SIGHUP until it says it serves the new settings.
    before=$(serving_lines)
    start=$(date +%s.%N)
    kill -HUP "$server_pid"
    for _ in $(seq 500); do [ "$(serving_lines)" -gt "$before" ] && break; sleep 0.01; done
    taken_server=$(echo "$(date +%s.%N) - $start" | bc)
    # nginx: from the reload until its old worker is gone.
    old=$(workers)
    start=$(date +%s.%N)
    nginx -c "$work/nginx.conf" -p "$work" -s reload 2>/dev/null
    for _ in $(seq 500); do [ -z "$(comm -12 <(echo "$old") <(workers))" ] && break; sleep 0.01; done
    taken_nginx=$(echo "$(date +%s.%N) - $start" | bc)
  fi
  first=0
  ours=$(sed -n 's/listening at http:\/\/127.0.0.1:\([0-9]*\)\//\1/p' "$work/server.out")
  python3 - "$ours" "$port" "$share" "$ids" "$taken_server" "$taken_nginx" "$work/last-ids" <<'PY'
import http.client, json, os, secrets, sys

ours, theirs, share, count = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
taken_server, taken_nginx, last_file = sys.argv[5], sys.argv[6], sys.argv[7]
hundredths = round(float(share.rstrip("%")) * 100)

def murmur2(data):  # nginx's: seed = length, little-endian words
    m, h = 0x5BD1E995, len(data)
    whole = len(data) // 4 * 4
    for i in range(0, whole, 4):
        k = int.from_bytes(data[i:i + 4], "little")
        k = k * m & 0xFFFFFFFF
        k ^= k >> 24
        k = k * m & 0xFFFFFFFF
        h = (h * m & 0xFFFFFFFF) ^ k
    rest = data[whole:]
    if rest:
        for i in reversed(range(len(rest))):
            h ^= rest[i] << (8 * i)
        h = h * m & 0xFFFFFFFF
    h ^= h >> 13
    h = h * m & 0xFFFFFFFF
    return h ^ (h >> 15)

def expected_in(install_id):
    if hundredths in (0, 10000):
        return hundredths == 10000
    return murmur2((install_id + "2.0.2.0").encode()) < hundredths * 0xFFFFFFFF // 10000

connections = {port: http.client.HTTPConnection("127.0.0.1", port) for port in (ours, theirs)}

def offer(port, install_id):
    connection = connections[port]
    connection.request("GET", "/freeUpdate/update.asp?action=Auto",
                       headers={"X-Install-Id": install_id} if install_id else {})
    return connection.getresponse().read().decode()

# The first request after the change: an id whose side the change moved, else any.
last = json.load(open(last_file)) if os.path.exists(last_file) else {}
moved = [i for i, was_in in last.items() if was_in != expected_in(i)]
first_ok = "-"
if last:
    probe = moved[0] if moved else next(iter(last))
    wanted = "#2.0.2.0#" if expected_in(probe) else "#2.0.1.5#"
    first_ok = "yes" if all(offer(port, probe).startswith(wanted) for port in (ours, theirs)) else "NO"

previous = offer(ours, "")
ids = list(last) if last else [secrets.token_hex(16) for _ in range(count)]
differ = out_not_previous = not_as_python = 0
given = {ours: 0, theirs: 0}
now_in = {}
for install_id in ids:
    answers = {port: offer(port, install_id) for port in (ours, theirs)}
    differ += answers[ours] != answers[theirs]
    for port, body in answers.items():
        given[port] += body.startswith("#2.0.2.0#")
    is_in = answers[ours].startswith("#2.0.2.0#")
    now_in[install_id] = is_in
    out_not_previous += not is_in and answers[ours] != previous
    not_as_python += is_in != expected_in(install_id)
kept = sum(1 for i, was_in in last.items() if was_in and now_in[i])
was_in = sum(1 for was in last.values() if was)
json.dump(now_in, open(last_file, "w"))
pct = lambda n: 100.0 * n / len(ids)
print(f"rollout {share:>4}: update-server {pct(given[ours]):6.2f} %, nginx {pct(given[theirs]):6.2f} %"
      f" of {len(ids)} ids; offers differing: {differ}; out of the rollout without the previous"
      f" record: {out_not_previous}; unlike Python's MurmurHash2: {not_as_python}")
if last:
    print(f"   change taken: update-server {float(taken_server):.3f} s after SIGHUP, nginx"
          f" {float(taken_nginx):.3f} s after reload; first request after it answered anew:"
          f" {first_ok}; of {was_in} ids in before, still in: {kept}")
ok = (differ == 0 and out_not_previous == 0 and not_as_python == 0 and first_ok != "NO"
      and abs(pct(given[ours]) - hundredths / 100) <= 1.5)
sys.exit(0 if ok else 1)
PY
done
echo "every id got the same offer from both, within 1.5 points of each share"
