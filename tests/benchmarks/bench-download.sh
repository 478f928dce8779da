#!/usr/bin/env bash
# Serves a 256 MiB program-like file with nginx on loopback and runs bench-download.exe
# against it under Wine; prints its figures. Run after a build of the test preset.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
preset=$("$root/scripts/test-preset.sh")
build=$root/build/$preset
port=${QV_BENCH_PORT:-18490}
work=$(mktemp -d /tmp/bench-download.XXXXXX)
# The downloads land in memory where there is a tmpfs: the disk writing back one run's file
# would otherwise slow the next run down, by more than what is measured.
out=$(mktemp -d /dev/shm/bench-download.XXXXXX 2>/dev/null || echo "$work/out")
trap 'nginx -c "$work/nginx.conf" -s stop 2>/dev/null || true; rm -rf "$work" "$out"' EXIT

mkdir -p "$work/www" "$out" "$work/tmp"
chmod 755 "$work" "$work/www"  # nginx's workers read it as another user when started by root
{ printf 'MZ'; head -c $((256 * 1024 * 1024 - 2)) /dev/urandom; } >"$work/www/big.exe"
cat >"$work/nginx.conf" <<CONF
pid $work/nginx.pid;
error_log $work/error.log;
daemon on;
events {}
http {
  access_log off;
  client_body_temp_path $work/tmp;
  proxy_temp_path $work/tmp;
  fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp;
  scgi_temp_path $work/tmp;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    sendfile on;
    # The same file at the pace of a gigabit link.
    location /limited/ {
      alias $work/www/;
      limit_rate 100m;
    }
  }
}
CONF
nginx -c "$work/nginx.conf"
chmod 644 "$work/www/big.exe"
arch=win32
[ "$preset" = mingw-x86 ] || arch=win64
QV_WINE_ARCH=$arch "$root/scripts/wine-run.sh" "$build/wineprefix" \
  "$build/tests/bin/bench-download.exe" "http://127.0.0.1:$port/big.exe" "Z:${out//\//\\}" \
  "http://127.0.0.1:$port/limited/big.exe"
