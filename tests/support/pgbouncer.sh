#!/usr/bin/env bash
# PgBouncer in front of a scratch cluster from postgres_cluster.sh, for tests and benchmarks: its
# own folder under /tmp, listening only on a Unix socket there, with the default settings except
# those that make it a test bed: trust, a short server_lifetime so that backends rotate while a
# test runs, and a short server_login_retry (after a backend's login fails, and a PAUSE during a
# login counts as failing, PgBouncer refuses every client for that long). Run as the postgres user when called as root, as the cluster is.
#
# usage: pgbouncer.sh start INFO CLUSTER_INFO [transaction|session [SECONDS]]
#                                  starts it; INFO gets the connection parameters (line 1, URI
#                                  query form; any database of the cluster, and "pgbouncer" for
#                                  the admin console) and the folder (line 2). A backend is
#                                  replaced after SECONDS, 1 by default (PgBouncer's is 3600).
#        pgbouncer.sh halt INFO    stops it at once, as a crash or a restart would
#        pgbouncer.sh resume INFO  starts it again with the same settings
#        pgbouncer.sh stop INFO    stops it and removes its folder
set -euo pipefail

usage="usage: pgbouncer.sh start|halt|resume|stop INFO [CLUSTER_INFO [MODE [SECONDS]]]"
command=${1:?$usage}
info=${2:?$usage}
# Only the socket file's name carries the port: nothing listens on TCP.
port=6432

as_owner() {
  if [[ $(id -u) -eq 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi
}

folder() { sed -n 2p "$info"; }

running() { [[ -f "$1/pgbouncer.pid" ]] && kill -0 "$(cat "$1/pgbouncer.pid")" 2>/dev/null; }

bouncer_start() {
  local dir=$1
  command -v pgbouncer >/dev/null ||
    { echo "pgbouncer.sh: pgbouncer is missing (scripts/setup installs it)" >&2; exit 1; }
  as_owner pgbouncer -d -q "$dir/pgbouncer.ini" || { cat "$dir/pgbouncer.log" >&2; exit 1; }
  # It daemonises once its socket listens; the pid file and the socket show that it did.
  for _ in $(seq 200); do
    running "$dir" && [[ -S "$dir/.s.PGSQL.$port" ]] && return
    sleep 0.05
  done
  echo "pgbouncer.sh: pgbouncer did not start" >&2
  cat "$dir/pgbouncer.log" >&2
  exit 1
}

# Ends the process we started, by its id, and waits until it is gone.
bouncer_end() {
  local dir=$1 pid
  [[ -f "$dir/pgbouncer.pid" ]] || return 0
  pid=$(cat "$dir/pgbouncer.pid")
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 200); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
}

case "$command" in
  start)
    cluster_info=${3:?$usage}
    mode=${4:-transaction}
    lifetime=${5:-1}
    [[ -f "$info" ]] && "$0" stop "$info" || true
    cluster_dir=$(sed -n 2p "$cluster_info")
    cluster_port=$(head -1 "$cluster_info" | sed -n 's/.*port=\([0-9]*\).*/\1/p')
    user=$(head -1 "$cluster_info" | sed -n 's/.*user=\([^&]*\).*/\1/p')
    # Transaction pooling shares few backends among all clients; session pooling holds one per
    # client connection for as long as it lasts, so the pool must have room for every one.
    pool_size=4
    [[ "$mode" == session ]] && pool_size=40
    dir=$(mktemp -d /tmp/tavrolin-pgbouncer.XXXXXX)
    printf '"%s" ""\n' "$user" >"$dir/users.txt"
    cat >"$dir/pgbouncer.ini" <<INI
[databases]
* = host=$cluster_dir port=$cluster_port

[pgbouncer]
unix_socket_dir = $dir
listen_port = $port
auth_type = trust
auth_file = $dir/users.txt
admin_users = $user
pool_mode = $mode
default_pool_size = $pool_size
max_client_conn = 400
server_lifetime = $lifetime
server_idle_timeout = $lifetime
server_login_retry = 1
logfile = $dir/pgbouncer.log
pidfile = $dir/pgbouncer.pid
INI
    [[ $(id -u) -eq 0 ]] && chown -R postgres: "$dir"
    chmod 755 "$dir"
    bouncer_start "$dir"
    mkdir -p "$(dirname "$info")"
    printf 'host=%s&port=%s&user=%s\n%s\n' "$dir" "$port" "$user" "$dir" >"$info"
    ;;
  halt)
    bouncer_end "$(folder)"
    ;;
  resume)
    bouncer_start "$(folder)"
    ;;
  stop)
    dir=$(folder)
    if [[ -n "$dir" && -d "$dir" ]]; then
      bouncer_end "$dir"
      rm -rf "$dir"
    fi
    rm -f "$info"
    ;;
  *)
    echo "pgbouncer.sh: unknown command $command" >&2
    exit 1
    ;;
esac
