#!/bin/sh
# A private PostgreSQL cluster for the server's tests: its own folder under /tmp, no TCP, a Unix
# socket in that folder, no system service; stopped and removed at the end.
#   pg-cluster.sh start STATE   starts one; STATE (a file) then holds the cluster's folder. Exits 0
#                               with a notice and no STATE when PostgreSQL is not installed: the
#                               tests that need it then skip and say why.
#   pg-cluster.sh stop STATE    stops it (fast, then killed), removes its folder and STATE
#   pg-cluster.sh url STATE DB  creates the database DB when missing and prints its URL
# The cluster's superuser is "rall", trusted on the socket: the socket lives in a folder of mode
# 0700, so only the cluster's owner (and root) can reach it.
set -eu

bin=${QR_PG_BIN:-}
if [ -z "$bin" ]; then
  for candidate in /usr/lib/postgresql/*/bin; do
    [ -x "$candidate/initdb" ] && bin=$candidate
  done
fi
[ -z "$bin" ] && command -v initdb >/dev/null 2>&1 && bin=$(dirname "$(command -v initdb)")

# PostgreSQL refuses to run as root. CI runs as root, so there the cluster belongs to "nobody":
# its folder is chowned to it and initdb, pg_ctl and psql run as that user.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

cmd=${1:-}
state=${2:-}
[ -n "$cmd" ] && [ -n "$state" ] || { echo "usage: pg-cluster.sh start|stop|url STATE [DB]" >&2; exit 2; }

case "$cmd" in
start)
  # A cluster left by a run that was killed goes first.
  [ -f "$state" ] && sh "$0" stop "$state"
  if [ -z "$bin" ] || [ ! -x "$bin/pg_ctl" ]; then
    echo "pg-cluster: PostgreSQL is not installed (no initdb, pg_ctl); its tests will skip" >&2
    exit 0
  fi
  dir=$(mktemp -d /tmp/qr-pg.XXXXXX)
  [ "$(id -u)" -eq 0 ] && chown nobody "$dir"
  if ! as_owner "$bin/initdb" -D "$dir/data" -U rall --auth=trust -E UTF8 --locale=C -N >"$dir/initdb.log" 2>&1; then
    cat "$dir/initdb.log" >&2
    rm -rf "$dir"
    exit 1
  fi
  # -w -t: wait at most 60 s for the server to accept connections.
  if ! as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses='' -k $dir -c unix_socket_permissions=0700 -c max_connections=100" start >/dev/null; then
    cat "$dir/server.log" >&2 || true
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w -t 10 stop >/dev/null 2>&1 || true
    rm -rf "$dir"
    exit 1
  fi
  echo "$dir" >"$state"
  echo "pg-cluster: started in $dir"
  ;;
stop)
  [ -f "$state" ] || exit 0
  dir=$(cat "$state")
  case "$dir" in /tmp/qr-pg.*) ;; *) echo "pg-cluster: $state names no cluster" >&2; exit 1 ;; esac
  if ! as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 30 stop >/dev/null 2>&1; then
    pid=$(head -n 1 "$dir/data/postmaster.pid" 2>/dev/null || true)
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir" "$state"
  ;;
url)
  db=${3:?"usage: pg-cluster.sh url STATE DB"}
  dir=$(cat "$state")
  if ! as_owner "$bin/psql" -X -q -h "$dir" -U rall -d postgres -tAc "SELECT 1 FROM pg_database WHERE datname = '$db'" | grep -q 1; then
    as_owner "$bin/createdb" -h "$dir" -U rall "$db"
  fi
  echo "postgresql://rall@/$db?host=$dir"
  ;;
*)
  echo "usage: pg-cluster.sh start|stop|url STATE [DB]" >&2
  exit 2
  ;;
esac
