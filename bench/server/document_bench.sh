#!/usr/bin/env bash
# The cached vendor document against nginx serving the same bytes, for a typical employee (the
# demo's employee 42: 308 vendors, about 28 KB) and the largest document (32,767 vendors, 1,000
# of them linked, about 3.2 MB); plain, gzip and https; on SQLite and on PostgreSQL. Each run
# measures tavrolin-server and then nginx with the same wrk settings, alternating, so a change
# in the machine's load falls on both alike; both write their access log.
# usage: document_bench.sh PATH/TO/tavrolin-server [seconds-per-run] [runs] [engines...]
# DOCUMENTS="typical" and MODES="https" (for example) measure only those cases.
# Needs wrk, nginx, curl (scripts/setup --bench), openssl and PostgreSQL (scripts/setup).
set -euo pipefail
# shellcheck source=bench_lib.sh
source "$(dirname "$0")/bench_lib.sh"

server=${1:?usage: document_bench.sh PATH/TO/tavrolin-server [seconds] [runs] [engines...]}
seconds=${2:-5}
runs=${3:-3}
shift $(($# < 3 ? $# : 3))
engines=("$@")
((${#engines[@]})) || engines=(sqlite postgresql)
threads=2
connections=16
vendors=32767
links=1000

for tool in wrk nginx curl awk openssl; do
  command -v "$tool" >/dev/null || { echo "document_bench: $tool is missing (scripts/setup --bench)" >&2; exit 1; }
done

cluster_script=$(cd "$(dirname "$0")/../../tests/support" && pwd)/postgres_cluster.sh
work=$(mktemp -d)
chmod 755 "$work"  # nginx workers may run as another user
server_pid=""
nginx_pid=""
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  [[ -n "$nginx_pid" ]] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  [[ -f "$work/cluster.info" ]] && "$cluster_script" stop "$work/cluster.info"
  rm -rf "$work"
}
trap cleanup EXIT


vendors_csv "$vendors" >"$work/vendors.csv"
insert_body 42 "$links" >"$work/links.txt"

(cd "$work" && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout tls.key -out tls.pem >/dev/null 2>&1)

declare -A database
for engine in "${engines[@]}"; do
  if [[ $engine == postgresql ]]; then
    "$cluster_script" start "$work/cluster.info"
    pg_query=$(head -1 "$work/cluster.info")
    for name in typical largest; do
      psql -q "postgresql:///postgres?$pg_query" -c "CREATE DATABASE $name" >/dev/null
      database[$engine-$name]="postgresql:///$name?$pg_query"
    done
  else
    database[$engine-typical]="$work/typical.db"
    database[$engine-largest]="$work/largest.db"
  fi
done

# Starts the server on one database; "tls" as the third argument serves https.
start_server() {
  local db=$1 log=$2 args=()
  [[ ${3:-} == tls ]] && args=(--tls-cert "$work/tls.pem" --tls-key "$work/tls.key")
  : >"$work/server.out"
  "$server" --db "$db" --listen 127.0.0.1:0 "${args[@]}" >"$work/server.out" 2>>"$log" &
  server_pid=$!
  for _ in $(seq 600); do [[ -s "$work/server.out" ]] && break; sleep 0.05; done
  base=$(head -1 "$work/server.out" | sed 's/^listening on //')
  [[ -n "$base" ]] || { echo "document_bench: the server did not start" >&2; exit 1; }
}
stop_server() { kill "$server_pid" && wait "$server_pid" 2>/dev/null || true; server_pid=""; }

# Prepare both databases of each engine and keep the documents nginx will serve.
mkdir -p "$work/www"
for engine in "${engines[@]}"; do
  "$server" --db "${database[$engine-typical]}" --demo --listen 127.0.0.1:0 >"$work/seed.out" 2>/dev/null &
  seed=$!
  for _ in $(seq 600); do [[ -s "$work/seed.out" ]] && break; sleep 0.05; done
  kill "$seed"; wait "$seed" 2>/dev/null || true
  "$server" import-vendors --db "${database[$engine-largest]}" "$work/vendors.csv" >/dev/null
  start_server "${database[$engine-largest]}" /dev/null
  status=$(curl -s -o /dev/null -w '%{http_code}' -H 'Content-Type: application/x-www-form-urlencoded' \
    --data-binary "@$work/links.txt" "$base/Tavrolin.asp")
  [[ $status == 200 ]] || { echo "document_bench: the $links links were refused ($status)" >&2; exit 1; }
  stop_server
  for name in typical largest; do
    start_server "${database[$engine-$name]}" /dev/null
    curl -s -o "$work/www/$engine-$name.xml" "$base/Tavrolin.asp?EmployeeID=42"
    curl -s -H 'Accept-Encoding: gzip' -o "$work/www/$engine-$name.xml.gz" "$base/Tavrolin.asp?EmployeeID=42"
    stop_server
  done
done

nginx_port=$(free_port)
nginx_tls_port=$(free_port)
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 2;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log $work/nginx/access.log;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 1000000;
  gzip_static on;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  types { text/xml xml; }
  server {
    listen 127.0.0.1:$nginx_port;
    listen 127.0.0.1:$nginx_tls_port ssl;
    ssl_certificate $work/tls.pem;
    ssl_certificate_key $work/tls.key;
    root $work/www;
    location / { try_files \$uri =404; }
  }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" 2>/dev/null &
nginx_pid=$!
for _ in $(seq 100); do curl -sf -o /dev/null "http://127.0.0.1:$nginx_port/${engines[0]}-typical.xml" && break; sleep 0.05; done

# Requests per second of one wrk run.
rps() { wrk -t"$threads" -c"$connections" -d"${seconds}s" "$@" | awk '/Requests\/sec/ { print $2 }'; }

echo "# cached document, wrk -t$threads -c$connections -d${seconds}s, median of $runs alternating runs"
for engine in "${engines[@]}"; do
  for name in ${DOCUMENTS:-typical largest}; do
    bytes=$(stat -c %s "$work/www/$engine-$name.xml")
    gz_bytes=$(stat -c %s "$work/www/$engine-$name.xml.gz")
    for mode in ${MODES:-plain gzip https}; do
      headers=()
      [[ $mode == gzip ]] && headers=(-H 'Accept-Encoding: gzip')
      if [[ $mode == https ]]; then
        start_server "${database[$engine-$name]}" "$work/access.log" tls
        nginx_url="https://127.0.0.1:$nginx_tls_port/$engine-$name.xml"
      else
        start_server "${database[$engine-$name]}" "$work/access.log"
        nginx_url="http://127.0.0.1:$nginx_port/$engine-$name.xml"
      fi
      url="$base/Tavrolin.asp?EmployeeID=42"
      # The same bytes from both, or the comparison means nothing.
      cmp -s <(curl -sk "${headers[@]}" "$url") <(curl -sk "${headers[@]}" "$nginx_url") ||
        { echo "document_bench: nginx and the server differ for $engine $name $mode" >&2; exit 1; }
      ours=(); theirs=()
      # Each goes first in every other run, so that neither always meets the other's wake.
      for run in $(seq "$runs"); do
        if ((run % 2)); then
          ours+=("$(rps "${headers[@]}" "$url")")
          theirs+=("$(rps "${headers[@]}" "$nginx_url")")
        else
          theirs+=("$(rps "${headers[@]}" "$nginx_url")")
          ours+=("$(rps "${headers[@]}" "$url")")
        fi
      done
      stop_server
      a=$(m "${ours[@]}"); b=$(m "${theirs[@]}")
      printf 'document_cached engine=%s document=%s bytes=%s gzip_bytes=%s mode=%s median_rps=%s nginx_rps=%s ratio=%s\n' \
        "$engine" "$name" "$bytes" "$gz_bytes" "$mode" "$a" "$b" "$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2f", a / b }')"
    done
  done
done
