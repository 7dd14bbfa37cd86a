#!/usr/bin/env bash
# A scratch PostgreSQL cluster for tests and benchmarks: initdb into a fresh folder under /tmp,
# listening only on a Unix socket in that folder, run as the unprivileged postgres user when
# called as root (PostgreSQL refuses to run as root).
#
# usage: postgres_cluster.sh start INFO [fast]   creates and starts a cluster; INFO gets the
#                                                connection parameters (line 1, URI query form)
#                                                and the folder (line 2). "fast" turns off fsync.
#        postgres_cluster.sh halt INFO            stops the server, keeping the data
#        postgres_cluster.sh resume INFO          starts it again on the same data
#        postgres_cluster.sh stop INFO            stops it and removes everything
set -euo pipefail

command=${1:?usage: postgres_cluster.sh start|halt|resume|stop INFO [fast]}
info=${2:?usage: postgres_cluster.sh start|halt|resume|stop INFO [fast]}
mode=${3:-}
# Only the socket file's name carries the port: nothing listens on TCP.
port=5432

bindir() {
  local dir=""
  if command -v pg_config >/dev/null 2>&1; then dir=$(pg_config --bindir); fi
  if [[ -z "$dir" || ! -x "$dir/initdb" ]]; then
    dir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
  fi
  if [[ -z "$dir" || ! -x "$dir/initdb" || ! -x "$dir/pg_ctl" ]]; then
    echo "postgres_cluster: no PostgreSQL server found (scripts/setup installs it)" >&2
    exit 1
  fi
  echo "$dir"
}

as_owner() {
  if [[ $(id -u) -eq 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi
}

folder() { sed -n 2p "$info"; }

pg_start() {
  local dir=$1
  as_owner "$(bindir)/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-k $dir -p $port -c listen_addresses='' -c max_connections=300 $(cat "$dir/options")" \
    start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
}

case "$command" in
  start)
    [[ -f "$info" ]] && "$0" stop "$info" || true
    dir=$(mktemp -d /tmp/tavrolin-pg.XXXXXX)
    [[ $(id -u) -eq 0 ]] && chown postgres: "$dir"
    chmod 700 "$dir"
    options=""
    [[ "$mode" == fast ]] && options="-c fsync=off -c synchronous_commit=off -c full_page_writes=off"
    echo "$options" >"$dir/options"
    as_owner "$(bindir)/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C \
      --no-sync >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; rm -rf "$dir"; exit 1; }
    pg_start "$dir"
    user=$(id -un)
    [[ $(id -u) -eq 0 ]] && user=postgres
    mkdir -p "$(dirname "$info")"
    printf 'host=%s&port=%s&user=%s\n%s\n' "$dir" "$port" "$user" "$dir" >"$info"
    ;;
  halt)
    as_owner "$(bindir)/pg_ctl" -D "$(folder)/data" -m fast -w stop >/dev/null
    ;;
  resume)
    pg_start "$(folder)"
    ;;
  stop)
    dir=$(folder)
    if [[ -n "$dir" && -d "$dir" ]]; then
      as_owner "$(bindir)/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
      rm -rf "$dir"
    fi
    rm -f "$info"
    ;;
  *)
    echo "postgres_cluster: unknown command $command" >&2
    exit 1
    ;;
esac
