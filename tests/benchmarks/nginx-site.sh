# Sourced by the download benchmarks.
# serve_program_with_nginx WORK PORT MIB [SERVER_LINES]: a program-like file of MIB MiB,
# WORK/www/big.exe, served by nginx on 127.0.0.1:PORT with a configuration of its own in WORK;
# SERVER_LINES go into its server block. Stop it with: nginx -c WORK/nginx.conf -s stop
serve_program_with_nginx() {
  local work=$1 port=$2 mib=$3 extra=${4:-}
  mkdir -p "$work/www" "$work/tmp"
  chmod 755 "$work" "$work/www"  # nginx's workers read it as another user when started by root
  { printf 'MZ'; head -c $((mib * 1024 * 1024 - 2)) /dev/urandom; } >"$work/www/big.exe"
  chmod 644 "$work/www/big.exe"
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
$extra
  }
}
CONF
  nginx -c "$work/nginx.conf"
}
