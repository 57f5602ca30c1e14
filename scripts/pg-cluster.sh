#!/usr/bin/env bash
# A throwaway PostgreSQL 15 cluster for trying the catalogue on a server and for the tests.
#
#   scripts/pg-cluster.sh start DIR   make the cluster in DIR/data when there is none, start it on
#                                     127.0.0.1 on a free port, make the empty database "dagl"
#   scripts/pg-cluster.sh stop DIR    stop it
#
# Only loopback, never as root: when run as root the server runs as the user "postgres".
# The password of the user "dagl" is generated once and kept in DIR/pgpass (libpq's password
# file); DIR/port holds the port. Exit status 4: the server programs are not installed.
set -euo pipefail

mode=${1:-}
dir=${2:-}
if [ -z "$mode" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop DIR" >&2
  exit 2
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
data="$dir/data"

bindir=/usr/lib/postgresql/15/bin
if [ ! -x "$bindir/pg_ctl" ] && command -v pg_config >/dev/null; then
  bindir=$(pg_config --bindir)
fi
if [ ! -x "$bindir/pg_ctl" ] || [ ! -x "$bindir/initdb" ]; then
  echo "PostgreSQL 15 server programs not found in /usr/lib/postgresql/15/bin (Debian package postgresql-15)" >&2
  exit 4
fi

# Runs a server program as the cluster's owner.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

if [ "$(id -u)" -eq 0 ]; then
  if ! id postgres >/dev/null 2>&1; then
    echo "running as root, but there is no user \"postgres\" to run the server as" >&2
    exit 4
  fi
  chown postgres: "$dir"
  chmod 0700 "$dir"
  if ! runuser -u postgres -- test -w "$dir"; then
    echo "the user \"postgres\" cannot reach $dir (a folder above it is closed to others)" >&2
    exit 1
  fi
fi

case "$mode" in
  start)
    if [ ! -f "$data/PG_VERSION" ]; then
      password=$(head -c 18 /dev/urandom | od -An -tx1 | tr -d ' \n')
      pwfile="$dir/initdb.pw"
      ( umask 077; printf '%s\n' "$password" > "$pwfile" )
      [ "$(id -u)" -eq 0 ] && chown postgres: "$pwfile"
      as_owner "$bindir/initdb" -D "$data" -U dagl --pwfile="$pwfile" -A scram-sha-256 -E UTF8 \
        --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; rm -f "$pwfile"; exit 1; }
      rm -f "$pwfile"
      ( umask 077; printf '127.0.0.1:*:*:dagl:%s\n' "$password" > "$dir/pgpass" )
    fi
    if as_owner "$bindir/pg_ctl" -D "$data" status >/dev/null 2>&1; then
      port=$(cat "$dir/port")
    else
      # The port chosen at the first start is kept while it is free, so that what names it
      # still reaches the server after a restart.
      port=
      if [ -f "$dir/port" ]; then
        port=$(python3 -c 'import socket, sys
p = int(sys.argv[1]); s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
try:
    s.bind(("127.0.0.1", p)); print(p)
except OSError:
    pass' "$(cat "$dir/port")")
      fi
      [ -n "$port" ] || port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
      as_owner "$bindir/pg_ctl" -D "$data" -l "$dir/server.log" -w -t 60 \
        -o "-p $port -c listen_addresses=127.0.0.1 -c unix_socket_directories=$dir" start >/dev/null \
        || { tail -n 20 "$dir/server.log" >&2; exit 1; }
      echo "$port" > "$dir/port"
    fi
    export PGPASSFILE="$dir/pgpass"
    if [ "$(psql -h 127.0.0.1 -p "$port" -U dagl -d postgres -Atc "SELECT count(*) FROM pg_database WHERE datname = 'dagl'")" = 0 ]; then
      psql -h 127.0.0.1 -p "$port" -U dagl -d postgres -qc "CREATE DATABASE dagl" >/dev/null
    fi
    echo "PostgreSQL 15 on 127.0.0.1:$port, data in $data"
    echo "  connection: host=127.0.0.1 port=$port dbname=dagl user=dagl"
    echo "  password file: PGPASSFILE=$dir/pgpass"
    ;;
  stop)
    if as_owner "$bindir/pg_ctl" -D "$data" status >/dev/null 2>&1; then
      as_owner "$bindir/pg_ctl" -D "$data" -m fast -w stop >/dev/null
    fi
    echo "stopped the cluster in $data"
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
