#!/usr/bin/env bash
# Measures tavrolin-server against nginx on this machine, in the same run:
#  - the vendor document of an employee linked to 1,000 of 32,767 vendors, with wrk over
#    loopback, beside nginx serving the same bytes as a static file (the practical ceiling);
#  - the time of one post of 1,000 inserts;
#  - small replies (GET /health) on one kept-alive connection, where a delayed acknowledgement
#    would show as a 40 ms latency;
#  - the same document over https (--tls-cert/--tls-key, a throwaway certificate).
# usage: server_bench.sh PATH/TO/tavrolin-server [seconds-per-run] [runs]
# Needs wrk, nginx and curl (scripts/setup --bench).
set -euo pipefail

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

work=$(mktemp -d)
chmod 755 "$work"  # nginx workers may run as another user
server_pid=""
nginx_pid=""
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  [[ -n "$nginx_pid" ]] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A free loopback port: one that no socket in /proc/net/tcp is bound to.
free_port() {
  local port hex
  while :; do
    port=$((20000 + RANDOM % 40000))
    hex=$(printf ':%04X ' "$port")
    grep -q "$hex" /proc/net/tcp /proc/net/tcp6 2>/dev/null || { echo "$port"; return; }
  done
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Vendors with names of realistic length, a few of them needing XML escapes.
awk -v n="$vendors" 'BEGIN {
  print "id,name,active"
  split("Atlas Blue Cedar Delta Evergreen Falcon Granite Harbor Iron Juniper Keystone Meridian", a, " ")
  split("Office-Supply Paper-Goods Industrial Electrical Logistics Printing Janitorial Freight", b, " ")
  for (i = 1; i <= n; i++) {
    name = a[i % 12 + 1] " " b[i % 8 + 1] " " i
    gsub("-", " ", name)
    if (i % 97 == 0) name = name " & Sons"
    if (i % 89 == 0) name = "\"\"\"" name " <Ltd>\"\"\""  # CSV for: "name <Ltd>"
    print i "," name "," (i % 50 == 0 ? 0 : 1)
  }
}' >"$work/vendors.csv"
"$server" import-vendors --db "$work/bench.db" "$work/vendors.csv" >/dev/null

# The body the control sends for `links` inserts of one employee.
insert_body() {
  awk -v employee="$1" -v n="$links" 'BEGIN {
    for (i = 1; i <= n; i++) {
      vendor = i * 31 + 1
      if (vendor % 50 == 0) vendor++
      printf "SQL=INSERT+INTO+VendorEmployeeCrossReference+%%28EmployeeID%%2CVendorID%%2CRecordLastUpdated%%29+VALUES+%%28%d%%2C%d%%2CGETDATE%%28%%29+%%29+&", employee, vendor
    }
  }'
}

"$server" --db "$work/bench.db" --listen 127.0.0.1:0 >"$work/server.out" 2>/dev/null &
server_pid=$!
for _ in $(seq 100); do [[ -s "$work/server.out" ]] && break; sleep 0.05; done
base=$(head -1 "$work/server.out" | sed 's/^listening on //')

post_times=()
for run in $(seq "$runs"); do
  employee=$((41 + run))  # 42 first: the employee whose document is measured below
  insert_body "$employee" >"$work/post.txt"
  status_time=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' \
    -H 'Content-Type: application/x-www-form-urlencoded' --data-binary "@$work/post.txt" \
    "$base/Tavrolin.asp")
  [[ "${status_time%% *}" == 200 ]] || { echo "server_bench: post refused ($status_time)" >&2; exit 1; }
  post_times+=("${status_time#* }")
done

curl -s -o "$work/Tavrolin.xml" "$base/Tavrolin.asp?EmployeeID=42"
doc_bytes=$(stat -c %s "$work/Tavrolin.xml")
grep -q "<SelectedCount>$links</SelectedCount>" "$work/Tavrolin.xml" ||
  { echo "server_bench: employee 42 is not linked to $links vendors" >&2; exit 1; }

# The document right after a change, when it must be read from the database and built afresh.
cold_times=()
for run in $(seq "$runs"); do
  printf 'SQL=INSERT+INTO+VendorEmployeeCrossReference+%%28EmployeeID%%2CVendorID%%2CRecordLastUpdated%%29+VALUES+%%28%d%%2C1%%2CGETDATE%%28%%29+%%29+&' \
    "$((1000 + run))" >"$work/touch.txt"
  curl -s -o /dev/null -H 'Content-Type: application/x-www-form-urlencoded' \
    --data-binary "@$work/touch.txt" "$base/Tavrolin.asp"
  cold_times+=("$(curl -s -o /dev/null -w '%{time_total}' "$base/Tavrolin.asp?EmployeeID=42")")
done

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

server_rps=(); server_lat=(); server_p99=(); nginx_rps=(); nginx_lat=(); nginx_p99=()
for _ in $(seq "$runs"); do
  read -r r l p < <(measure "$base/Tavrolin.asp?EmployeeID=42")
  server_rps+=("$r"); server_lat+=("$l"); server_p99+=("$p")
  read -r r l p < <(measure "http://127.0.0.1:$nginx_port/Tavrolin.xml")
  nginx_rps+=("$r"); nginx_lat+=("$l"); nginx_p99+=("$p")
done

m() { printf '%s\n' "$@" | median; }
srps=$(m "${server_rps[@]}"); nrps=$(m "${nginx_rps[@]}")
echo "document_get vendors=$vendors linked=$links bytes=$doc_bytes wrk=-t$threads/-c$connections/${seconds}s runs=$runs" \
  "median_rps=$srps median_latency_ms=$(m "${server_lat[@]}") median_p99_ms=$(m "${server_p99[@]}")" \
  "nginx_static_rps=$nrps nginx_latency_ms=$(m "${nginx_lat[@]}") nginx_p99_ms=$(m "${nginx_p99[@]}")" \
  "ratio=$(awk -v a="$srps" -v b="$nrps" 'BEGIN { printf "%.2f", a / b }')"
# Small replies on one kept-alive connection: the worst case matters, not the rate.
health_rps=(); health_p99=(); health_max=()
for _ in $(seq "$runs"); do
  read -r r p x < <(wrk -t1 -c1 -d"${seconds}s" --latency "$base/health" | awk '
    function toms(v) { if (v ~ /us$/) { sub("us", "", v); return v / 1000 } if (v ~ /ms$/) { sub("ms", "", v); return v } sub("s", "", v); return v * 1000 }
    /Requests\/sec/ { rps = $2 }
    /^ *Latency +[0-9]/ { max = toms($4) }
    /^ *99% / { p99 = toms($2) }
    END { print rps, p99, max }')
  health_rps+=("$r"); health_p99+=("$p"); health_max+=("$x")
done

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
echo "document_uncached vendors=$vendors linked=$links runs=$runs median_s=$(m "${cold_times[@]}")"
echo "post_inserts statements=$links runs=$runs median_s=$(m "${post_times[@]}")"
