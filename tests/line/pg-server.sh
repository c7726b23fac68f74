#!/usr/bin/env bash
# A throw-away PostgreSQL 15 server for the line's tests and benchmarks.
#
#   pg-server.sh start [--owner PID] [--tls PORT CERTDIR]
#                                      makes a fresh folder under /tmp, starts a
#                                      server there and prints the folder
#   pg-server.sh stop DIR              immediate stop; the server comes back
#   pg-server.sh resume DIR            with "start" again (crash recovery)
#   pg-server.sh remove DIR            stops the server and deletes the folder
#
# The server listens on a Unix socket in DIR only (no TCP); with --tls also on
# 127.0.0.1:PORT, TLS only (CERTDIR/server.crt and server.key), password by
# scram-sha-256, and its socket has that port's number too. PostgreSQL refuses
# to run as root, so under root (CI) it runs as the package's "postgres" user
# through runuser. It has a superuser "corv_admin", the owner of the
# database "corv_line", and a station role "corv_station"; both log in by password, which the
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
  local listen="''" port=5432
  if [ -f "$1/tls-port" ]; then listen=127.0.0.1; port=$(cat "$1/tls-port"); fi
  setsid "${server_user[@]}" "$bindir/pg_ctl" -D "$1/data" -l "$1/server.log" -w -t 60 \
    -o "-k $1 -c listen_addresses=$listen -p $port" start </dev/null >/dev/null 2>&1 || {
    echo "pg-server.sh: the server in $1 did not start; its log:" >&2
    tail -n 20 "$1/server.log" >&2 || true
    return 1
  }
}

case "${1:-}" in
start)
  owner="" tls_port="" tls_dir=""
  shift
  while [ $# -gt 0 ]; do
    case "$1" in
    --owner) owner="${2:?--owner needs a process id}"; shift 2 ;;
    --tls) tls_port="${2:?--tls needs a port}"; tls_dir="${3:?--tls needs a certificate folder}"; shift 3 ;;
    *) echo "pg-server.sh: unknown option $1" >&2; exit 2 ;;
    esac
  done
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
  port=5432
  if [ -n "$tls_port" ]; then
    port=$tls_port
    echo "$tls_port" >"$dir/tls-port"
    for f in server.crt server.key; do
      install -m 0600 "$tls_dir/$f" "$dir/data/$f"
      if [ "$(id -u)" -eq 0 ]; then chown postgres: "$dir/data/$f"; fi
    done
    printf "ssl = on\nssl_cert_file = 'server.crt'\nssl_key_file = 'server.key'\n" >>"$dir/data/postgresql.conf"
    # TLS only over TCP: a connection without it matches no line.
    printf 'local all all scram-sha-256\nhostssl all all 127.0.0.1/32 scram-sha-256\n' >"$dir/data/pg_hba.conf"
  fi
  pg_ctl_start "$dir" || { rm -rf "$dir"; exit 1; }
  PGPASSFILE="$dir/pgpass" "$bindir/psql" -X -q -v ON_ERROR_STOP=1 \
    "host=$dir port=$port user=corv_admin dbname=postgres" >/dev/null <<EOF
CREATE ROLE corv_station LOGIN PASSWORD '$station_pw';
CREATE DATABASE corv_line OWNER corv_admin;
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
  echo "usage: pg-server.sh start [--owner PID] [--tls PORT CERTDIR] | stop DIR | resume DIR | remove DIR" >&2
  exit 2
  ;;
esac
