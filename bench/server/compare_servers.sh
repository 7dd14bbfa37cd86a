#!/usr/bin/env bash
# Compares two builds of tavrolin-server on the work a schema or storage change may slow: a
# post of 1,000 inserts, the vendor document right after a change (read and built afresh) and
# the cached document. Each engine gets a database per build; the two servers of an engine run
# side by side and are measured in turns, so that a change in the machine's load falls on both.
# usage: compare_servers.sh BASELINE/tavrolin-server CANDIDATE/tavrolin-server [runs] [seconds]
# Prints one line per measurement with both medians and candidate/baseline. Needs curl and wrk.
set -euo pipefail
# shellcheck source=bench_lib.sh
source "$(dirname "$0")/bench_lib.sh"

baseline=${1:?usage: compare_servers.sh BASELINE CANDIDATE [runs] [seconds]}
candidate=${2:?usage: compare_servers.sh BASELINE CANDIDATE [runs] [seconds]}
runs=${3:-9}
seconds=${4:-3}
vendors=32767
links=1000

for tool in curl wrk awk; do
  command -v "$tool" >/dev/null || { echo "compare_servers: $tool is missing" >&2; exit 1; }
done
cluster_script=$(cd "$(dirname "$0")/../../tests/support" && pwd)/postgres_cluster.sh
work=$(mktemp -d)
declare -A pid base
cleanup() {
  for p in "${pid[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null || true; done
  [[ -f "$work/cluster.info" ]] && "$cluster_script" stop "$work/cluster.info"
  rm -rf "$work"
}
trap cleanup EXIT


awk -v n="$vendors" 'BEGIN { print "id,name,active"; for (i = 1; i <= n; i++) print i ",Vendor " i "," (i % 50 == 0 ? 0 : 1) }' >"$work/vendors.csv"

# Durable commits on PostgreSQL, as in production and as the SQLite file has them.
"$cluster_script" start "$work/cluster.info"
pg_query=$(head -1 "$work/cluster.info")
builds=(baseline candidate)
declare -A binary=([baseline]="$baseline" [candidate]="$candidate")
for engine in sqlite postgresql; do
  for build in "${builds[@]}"; do
    key=$engine-$build
    if [[ $engine == sqlite ]]; then
      db="$work/$key.db"
    else
      psql -q "postgresql:///postgres?$pg_query" -c "CREATE DATABASE \"${key//-/_}\"" >/dev/null
      db="postgresql:///${key//-/_}?$pg_query"
    fi
    "${binary[$build]}" import-vendors --db "$db" "$work/vendors.csv" >/dev/null
    "${binary[$build]}" --db "$db" --listen 127.0.0.1:0 >"$work/$key.out" 2>/dev/null &
    pid[$key]=$!
    for _ in $(seq 600); do [[ -s "$work/$key.out" ]] && break; sleep 0.05; done
    base[$key]=$(head -1 "$work/$key.out" | sed 's/^listening on //')
    [[ -n "${base[$key]}" ]] || { echo "compare_servers: $key did not start" >&2; exit 1; }
  done
done

declare -A post cold warm
for run in $(seq "$runs"); do
  insert_body $((100 + run)) "$links" >"$work/post.txt"
  for engine in sqlite postgresql; do
    for build in "${builds[@]}"; do
      url=${base[$engine-$build]}
      result=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' \
        -H 'Content-Type: application/x-www-form-urlencoded' --data-binary "@$work/post.txt" "$url/Tavrolin.asp")
      [[ ${result%% *} == 200 ]] || { echo "compare_servers: post refused on $engine-$build ($result)" >&2; exit 1; }
      post[$engine-$build]+="${result#* } "
      cold[$engine-$build]+="$(curl -s -o /dev/null -w '%{time_total}' "$url/Tavrolin.asp?EmployeeID=$((100 + run))") "
    done
  done
done
other() { [[ $1 == baseline ]] && echo candidate || echo baseline; }
for _ in $(seq 3); do
  for engine in sqlite postgresql; do
    for build in "${builds[@]}"; do
      # One server at a time under wrk, so the two do not compete for the cores.
      kill -STOP "${pid[$engine-$(other "$build")]}"
      warm[$engine-$build]+="$(wrk -t2 -c8 -d"${seconds}s" -H 'Accept-Encoding: gzip' \
        "${base[$engine-$build]}/Tavrolin.asp?EmployeeID=101" | awk '/Requests\/sec/ { print $2 }') "
      kill -CONT "${pid[$engine-$(other "$build")]}"
    done
  done
done

for engine in sqlite postgresql; do
  # shellcheck disable=SC2086
  a=$(m ${post[$engine-baseline]}); b=$(m ${post[$engine-candidate]})
  echo "post_inserts engine=$engine statements=$links runs=$runs median_s=$b baseline_s=$a ratio=$(ratio "$b" "$a")"
  # shellcheck disable=SC2086
  a=$(m ${cold[$engine-baseline]}); b=$(m ${cold[$engine-candidate]})
  echo "document_uncached engine=$engine vendors=$vendors linked=$links runs=$runs median_s=$b baseline_s=$a ratio=$(ratio "$b" "$a")"
  # shellcheck disable=SC2086
  a=$(m ${warm[$engine-baseline]}); b=$(m ${warm[$engine-candidate]})
  echo "document_cached_gzip engine=$engine wrk=-t2/-c8/${seconds}s runs=3 median_rps=$b baseline_rps=$a ratio=$(ratio "$b" "$a")"
done
