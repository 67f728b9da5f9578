#!/usr/bin/env bash
# Starts a throw-away PostgreSQL cluster in a new temporary folder, on a
# local socket only, and prints the connection options for the service
# ("host=<socket folder> user=tessivo"). The server runs as an unprivileged
# user ("nobody" when this script runs as root). Stop it with
#   scripts/postgres-scratch.sh stop <folder>
# where <folder> is the host= value.
set -euo pipefail
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)
if [ -z "$bin" ]; then
  echo "PostgreSQL is not installed (apt-get install postgresql)" >&2
  exit 1
fi
as_owner=()
if [ "$(id -u)" -eq 0 ]; then as_owner=(runuser -u nobody --); fi

if [ "${1:-}" = stop ]; then
  "${as_owner[@]}" "$bin/pg_ctl" -D "$2/data" -m immediate stop >/dev/null
  rm -rf "$2"
  exit 0
fi

dir=$(mktemp -d /tmp/tessivo-pg.XXXXXX)
chmod 755 "$dir"
if [ "$(id -u)" -eq 0 ]; then chown nobody "$dir"; fi
"${as_owner[@]}" "$bin/initdb" -D "$dir/data" -U tessivo --auth=trust --no-sync -E UTF8 >/dev/null
# Local socket only; durability off, since the cluster dies with the run.
"${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w \
  -o "-k $dir -c listen_addresses= -c fsync=off -c max_connections=200" start >/dev/null
echo "host=$dir user=tessivo"
