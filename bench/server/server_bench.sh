#!/usr/bin/env bash
# Measures tavrolin-server on both storage engines (an SQLite file, and PostgreSQL in a scratch
# cluster on a Unix socket, directly and through PgBouncer in transaction pooling) against nginx
# on this machine, in the same run:
#  - the vendor document of an employee linked to 1,000 of 32,767 vendors, with wrk over
#    loopback, beside nginx serving the same bytes as a static file (the practical ceiling);
#  - the time of one post of 1,000 inserts, and of the document right after a change (uncached),
#    on SQLite, PostgreSQL and PostgreSQL through PgBouncer;
#  - small replies (GET /health) on one kept-alive connection, where a delayed acknowledgement
#    would show as a 40 ms latency;
#  - the same document over https (--tls-cert/--tls-key, a throwaway certificate).
# usage: server_bench.sh PATH/TO/tavrolin-server [seconds-per-run] [runs]
# Needs wrk, nginx and curl (scripts/setup --bench) and PostgreSQL and PgBouncer (scripts/setup).
set -euo pipefail
# shellcheck source=bench_lib.sh
source "$(dirname "$0")/bench_lib.sh"

server=${1:?usage: server_bench.sh PATH/TO/tavrolin-server [seconds] [runs]}
seconds=${2:-5}
runs=${3:-3}
threads=2
connections=8
vendors=32767
links=1000

for tool in wrk nginx curl awk; do
  command -v "$tool" >/dev/null || { echo "server_bench: $tool is missing (scripts/setup --bench)" >&2; exit 1; }
done

cluster_script=$(cd "$(dirname "$0")/../../tests/support" && pwd)/postgres_cluster.sh
bouncer_script=$(dirname "$cluster_script")/pgbouncer.sh
work=$(mktemp -d)
chmod 755 "$work"  # nginx workers may run as another user
nginx_pid=""
declare -A pid
cleanup() {
  for p in "${pid[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null || true; done
  [[ -n "$nginx_pid" ]] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  [[ -f "$work/bouncer.info" ]] && "$bouncer_script" stop "$work/bouncer.info"
  [[ -f "$work/cluster.info" ]] && "$cluster_script" stop "$work/cluster.info"
  rm -rf "$work"
}
trap cleanup EXIT

vendors_csv "$vendors" >"$work/vendors.csv"


# PostgreSQL as it runs in production: durable commits (fsync on), as the SQLite file has them.
"$cluster_script" start "$work/cluster.info"
pg_query=$(head -1 "$work/cluster.info")
psql -q "postgresql:///postgres?$pg_query" -c "CREATE DATABASE bench" >/dev/null
# PgBouncer's own backend lifetime, not the tests' short one: a fresh backend's first statements
# read the catalogs and would be timed with the post.
"$bouncer_script" start "$work/bouncer.info" "$work/cluster.info" transaction 3600
bouncer_query=$(head -1 "$work/bouncer.info")
engines=(sqlite postgresql)
# The same PostgreSQL database through the pooler: only the timed posts and uncached documents.
timed=(sqlite postgresql pgbouncer)
declare -A database=([sqlite]="$work/bench.db" [postgresql]="postgresql:///bench?$pg_query"
  [pgbouncer]="postgresql:///bench?$bouncer_query")
declare -A base post_median cold_median


# Both servers run during the timed posts and uncached documents, which alternate between the
# engines run by run, so that a change in the machine's load falls on both alike. For wrk only
# one server runs at a time, so that the engines do not compete for the two cores.
start_server() {
  local engine=$1
  "$server" --db "${database[$engine]}" --listen 127.0.0.1:0 >"$work/server-$engine.out" 2>/dev/null &
  pid[$engine]=$!
  for _ in $(seq 600); do [[ -s "$work/server-$engine.out" ]] && break; sleep 0.05; done
  base[$engine]=$(head -1 "$work/server-$engine.out" | sed 's/^listening on //')
  [[ -n "${base[$engine]}" ]] || { echo "server_bench: $engine server did not start" >&2; exit 1; }
}
stop_server() {
  local engine=$1
  kill "${pid[$engine]}" && wait "${pid[$engine]}" 2>/dev/null || true
  unset "pid[$engine]"
}

declare -A post_times cold_times
for engine in "${engines[@]}"; do
  "$server" import-vendors --db "${database[$engine]}" "$work/vendors.csv" >/dev/null
done
for engine in "${timed[@]}"; do start_server "$engine"; done
for run in $(seq "$runs"); do
  employee=$((41 + run))  # 42 first: the employee whose document is measured below
  insert_body "$employee" "$links" >"$work/post.txt"
  # The two PostgreSQL servers share one database: each posts for employees of its own.
  insert_body "$((200 + run))" "$links" >"$work/post-pgbouncer.txt"
  for engine in "${timed[@]}"; do
    body="$work/post.txt"
    [[ "$engine" == pgbouncer ]] && body="$work/post-pgbouncer.txt"
    status_time=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' \
      -H 'Content-Type: application/x-www-form-urlencoded' --data-binary "@$body" \
      "${base[$engine]}/Tavrolin.asp")
    [[ "${status_time%% *}" == 200 ]] || { echo "server_bench: $engine post refused ($status_time)" >&2; exit 1; }
    post_times[$engine]+="${status_time#* } "
  done
done

for engine in "${engines[@]}"; do
  curl -s -o "$work/Tavrolin-$engine.xml" "${base[$engine]}/Tavrolin.asp?EmployeeID=42"
  grep -q "<SelectedCount>$links</SelectedCount>" "$work/Tavrolin-$engine.xml" ||
    { echo "server_bench: employee 42 is not linked to $links vendors on $engine" >&2; exit 1; }
done
doc_bytes=$(stat -c %s "$work/Tavrolin-sqlite.xml")

# The document right after a change, when it must be read from the database and built afresh.
for run in $(seq "$runs"); do
  printf 'SQL=INSERT+INTO+VendorEmployeeCrossReference+%%28EmployeeID%%2CVendorID%%2CRecordLastUpdated%%29+VALUES+%%28%d%%2C1%%2CGETDATE%%28%%29+%%29+&' \
    "$((1000 + run))" >"$work/touch.txt"
  for engine in "${timed[@]}"; do
    url=${base[$engine]}
    curl -s -o /dev/null -H 'Content-Type: application/x-www-form-urlencoded' \
      --data-binary "@$work/touch.txt" "$url/Tavrolin.asp"
    cold_times[$engine]+="$(curl -s -o /dev/null -w '%{time_total}' "$url/Tavrolin.asp?EmployeeID=42") "
  done
done
for engine in "${timed[@]}"; do stop_server "$engine"; done
for engine in "${timed[@]}"; do
  # shellcheck disable=SC2086
  post_median[$engine]=$(m ${post_times[$engine]})
  # shellcheck disable=SC2086
  cold_median[$engine]=$(m ${cold_times[$engine]})
done

cmp -s "$work/Tavrolin-sqlite.xml" "$work/Tavrolin-postgresql.xml" ||
  { echo "server_bench: the engines serve different documents" >&2; exit 1; }
cp "$work/Tavrolin-sqlite.xml" "$work/Tavrolin.xml"

nginx_port=$(free_port)
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 2;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  types { text/xml xml; }
  server {
    listen 127.0.0.1:$nginx_port;
    root $work;
    location / { try_files \$uri =404; }
  }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" 2>/dev/null &
nginx_pid=$!
for _ in $(seq 100); do curl -sf -o /dev/null "http://127.0.0.1:$nginx_port/Tavrolin.xml" && break; sleep 0.05; done
cmp -s "$work/Tavrolin.xml" <(curl -s "http://127.0.0.1:$nginx_port/Tavrolin.xml") ||
  { echo "server_bench: nginx does not serve the document" >&2; exit 1; }

# Requests/s and mean latency (ms) of one wrk run.
measure() {
  wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency "$1" | awk '
    /Requests\/sec/ { rps = $2 }
    /^ *Latency +[0-9]/ { v = $2; if (v ~ /us$/) { sub("us", "", v); v /= 1000 } else if (v ~ /ms$/) { sub("ms", "", v) } else if (v ~ /s$/) { sub("s", "", v); v *= 1000 }; lat = v }
    /^ *99% / { p = $2; if (p ~ /us$/) { sub("us", "", p); p /= 1000 } else if (p ~ /ms$/) { sub("ms", "", p) } else if (p ~ /s$/) { sub("s", "", p); p *= 1000 }; p99 = p }
    END { print rps, lat, p99 }'
}

for engine in "${engines[@]}"; do
  start_server "$engine"
  server_rps=(); server_lat=(); server_p99=(); nginx_rps=(); nginx_lat=(); nginx_p99=()
  for _ in $(seq "$runs"); do
    read -r r l p < <(measure "${base[$engine]}/Tavrolin.asp?EmployeeID=42")
    server_rps+=("$r"); server_lat+=("$l"); server_p99+=("$p")
    read -r r l p < <(measure "http://127.0.0.1:$nginx_port/Tavrolin.xml")
    nginx_rps+=("$r"); nginx_lat+=("$l"); nginx_p99+=("$p")
  done
  stop_server "$engine"
  srps=$(m "${server_rps[@]}"); nrps=$(m "${nginx_rps[@]}")
  echo "document_get engine=$engine vendors=$vendors linked=$links bytes=$doc_bytes wrk=-t$threads/-c$connections/${seconds}s runs=$runs" \
    "median_rps=$srps median_latency_ms=$(m "${server_lat[@]}") median_p99_ms=$(m "${server_p99[@]}")" \
    "nginx_static_rps=$nrps nginx_latency_ms=$(m "${nginx_lat[@]}") nginx_p99_ms=$(m "${nginx_p99[@]}")" \
    "ratio=$(awk -v a="$srps" -v b="$nrps" 'BEGIN { printf "%.2f", a / b }')"
done
for engine in "${timed[@]}"; do
  echo "document_uncached engine=$engine vendors=$vendors linked=$links runs=$runs median_s=${cold_median[$engine]}" \
    "baseline_sqlite_s=${cold_median[sqlite]} ratio=$(ratio "${cold_median[$engine]}" "${cold_median[sqlite]}")"
done
for engine in "${timed[@]}"; do
  echo "post_inserts engine=$engine statements=$links runs=$runs median_s=${post_median[$engine]}" \
    "baseline_sqlite_s=${post_median[sqlite]} ratio=$(ratio "${post_median[$engine]}" "${post_median[sqlite]}")"
done

# Small replies on one kept-alive connection: the worst case matters, not the rate.
start_server sqlite
health_rps=(); health_p99=(); health_max=()
for _ in $(seq "$runs"); do
  read -r r p x < <(wrk -t1 -c1 -d"${seconds}s" --latency "${base[sqlite]}/health" | awk '
    function toms(v) { if (v ~ /us$/) { sub("us", "", v); return v / 1000 } if (v ~ /ms$/) { sub("ms", "", v); return v } sub("s", "", v); return v * 1000 }
    /Requests\/sec/ { rps = $2 }
    /^ *Latency +[0-9]/ { max = toms($4) }
    /^ *99% / { p99 = toms($2) }
    END { print rps, p99, max }')
  health_rps+=("$r"); health_p99+=("$p"); health_max+=("$x")
done
stop_server sqlite

# The document over https from the same database.
(cd "$work" && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout tls.key -out tls.pem >/dev/null 2>&1)
"$server" --db "$work/bench.db" --listen 127.0.0.1:0 --tls-cert "$work/tls.pem" \
  --tls-key "$work/tls.key" >"$work/tls.out" 2>/dev/null &
tls_pid=$!
for _ in $(seq 100); do [[ -s "$work/tls.out" ]] && break; sleep 0.05; done
tls_base=$(head -1 "$work/tls.out" | sed 's/^listening on //')
tls_rps=(); tls_lat=()
for _ in $(seq "$runs"); do
  read -r r l p < <(measure "$tls_base/Tavrolin.asp?EmployeeID=42")
  tls_rps+=("$r"); tls_lat+=("$l")
done
kill "$tls_pid" && wait "$tls_pid" 2>/dev/null || true

echo "health_keepalive wrk=-t1/-c1/${seconds}s runs=$runs median_rps=$(m "${health_rps[@]}")" \
  "median_p99_ms=$(m "${health_p99[@]}") median_max_ms=$(m "${health_max[@]}") goal_ms=10"
echo "document_get_https vendors=$vendors linked=$links bytes=$doc_bytes runs=$runs" \
  "median_rps=$(m "${tls_rps[@]}") median_latency_ms=$(m "${tls_lat[@]}")"
