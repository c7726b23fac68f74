#!/usr/bin/env bash
# A throw-away PostgreSQL 15 server for the line's tests and benchmarks.
#
#   pg-server.sh start [--owner PID]   makes a fresh folder under /tmp, starts a
#                                      server there and prints the folder
#   pg-server.sh stop DIR              immediate stop; the server comes back
#   pg-server.sh resume DIR            with "start" again (crash recovery)
#   pg-server.sh remove DIR            stops the server and deletes the folder
#
# The server listens on a Unix socket in DIR only (no TCP). PostgreSQL refuses
# to run as root, so under root (CI) it runs as the package's "postgres" user
# through runuser. It has a superuser "corv_admin" and a role "corv_station"
# with a database "corv_line" of its own; both log in by password, which the
# clients find in DIR/pgpass (PGPASSFILE), the way a station finds its own.
# With --owner the server is stopped and the folder removed as soon as that
# process has gone, however it ended, so no test leaves a server behind.
set -euo pipefail
me=$(readlink -f "$0")
# The server's user may not be allowed into the caller's folder (a clone
# under /root, say): run everything from /tmp.
cd /tmp

bindir=$(ls -d /usr/lib/postgresql/15/bin 2>/dev/null || true)
[ -x "$bindir/initdb" ] || { echo "pg-server.sh: PostgreSQL 15 is not installed (tools/install-deps.sh)" >&2; exit 3; }

server_user=()
if [ "$(id -u)" -eq 0 ]; then server_user=(runuser -u postgres --); fi
as_server() { "${server_user[@]}" "$@"; }

pg_ctl_stop() {   # DIR [mode]
  [ -f "$1/data/postmaster.pid" ] || return 0
  as_server "$bindir/pg_ctl" -D "$1/data" -m "${2:-immediate}" -w -t 30 stop >/dev/null 2>&1 || true
}

pg_ctl_start() {  # DIR
  # setsid: the server leaves the caller's session, so a test killed by its
  # runner does not take a half-stopped server with it; the owner watch ends it.
  setsid "${server_user[@]}" "$bindir/pg_ctl" -D "$1/data" -l "$1/server.log" -w -t 60 \
    -o "-k $1 -c listen_addresses='' -p 5432" start </dev/null >/dev/null 2>&1 || {
    echo "pg-server.sh: the server in $1 did not start; its log:" >&2
    tail -n 20 "$1/server.log" >&2 || true
    return 1
  }
}

case "${1:-}" in
start)
  owner=""
  if [ "${2:-}" = "--owner" ]; then owner="${3:?--owner needs a process id}"; fi
  dir=$(mktemp -d /tmp/corv-pg.XXXXXX)
  chmod 0755 "$dir"
  admin_pw=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
  station_pw=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
  printf '%s\n' "$admin_pw" >"$dir/admin.pw"
  umask 077
  {
    printf '*:*:*:corv_admin:%s\n' "$admin_pw"
    printf '*:*:*:corv_station:%s\n' "$station_pw"
  } >"$dir/pgpass"
  umask 022
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$dir" "$dir/admin.pw"
  fi
  as_server "$bindir/initdb" -D "$dir/data" -U corv_admin --pwfile="$dir/admin.pw" \
    --auth-local=scram-sha-256 --auth-host=reject -E UTF8 --locale=C.UTF-8 \
    --no-instructions --no-sync >"$dir/initdb.log" 2>&1 || {
    echo "pg-server.sh: initdb failed:" >&2; cat "$dir/initdb.log" >&2; rm -rf "$dir"; exit 1; }
  rm -f "$dir/admin.pw"
  # Small and quiet: several test servers may run side by side on one machine.
  cat >>"$dir/data/postgresql.conf" <<EOF
shared_buffers = 16MB
max_connections = 60
dynamic_shared_memory_type = mmap
logging_collector = off
EOF
  pg_ctl_start "$dir" || { rm -rf "$dir"; exit 1; }
  PGPASSFILE="$dir/pgpass" "$bindir/psql" -X -q -v ON_ERROR_STOP=1 \
    "host=$dir port=5432 user=corv_admin dbname=postgres" >/dev/null <<EOF
CREATE ROLE corv_station LOGIN PASSWORD '$station_pw';
CREATE DATABASE corv_line OWNER corv_station;
EOF
  if [ -n "$owner" ]; then
    setsid bash -c 'while kill -0 "$1" 2>/dev/null && [ -d "$2/data" ]; do sleep 0.2; done
                    exec "$3" remove "$2"' watch "$owner" "$dir" "$me" \
      </dev/null >/dev/null 2>&1 &
  fi
  echo "$dir"
  ;;
stop)
  pg_ctl_stop "${2:?stop needs the server folder}" immediate
  ;;
resume)
  pg_ctl_start "${2:?resume needs the server folder}"
  ;;
remove)
  dir="${2:?remove needs the server folder}"
  case "$dir" in /tmp/corv-pg.*) ;; *) echo "pg-server.sh: not a test server folder: $dir" >&2; exit 1;; esac
  pg_ctl_stop "$dir" immediate  # its data goes anyway
  rm -rf "$dir"
  ;;
*)
  echo "usage: pg-server.sh start [--owner PID] | stop DIR | resume DIR | remove DIR" >&2
  exit 2
  ;;
esac
