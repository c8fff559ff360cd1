#!/usr/bin/env bash
# Services the test suite needs, started for the length of one ./test.sh run and
# stopped when it exits, even on failure. Sourced by test.sh.
#
# PostgreSQL: a throw-away cluster (initdb in a temporary directory) listening on
# a free port of 127.0.0.1 only. Tests find it through VELORA_PG_HOST,
# VELORA_PG_PORT, VELORA_PG_USER and VELORA_PG_DATABASE.

velora_pg_bin() {
  local d
  for d in /usr/lib/postgresql/*/bin; do [ -x "$d/initdb" ] && { echo "$d"; return 0; }; done
  return 1
}

velora_free_port() {
  local p
  for p in $(seq 25432 25532); do
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return 0; }
  done
  return 1
}

velora_start_services() {
  local bin port dir as=()
  bin=$(velora_pg_bin) || { echo "services: PostgreSQL server binaries not found"; return 1; }
  port=$(velora_free_port) || { echo "services: no free port for PostgreSQL"; return 1; }
  dir=$(mktemp -d /tmp/velora-pg.XXXXXX)
  # The server refuses to run as root: run it as the postgres account then.
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres "$dir"
    as=(runuser -u postgres --)
  fi
  VELORA_PG_DIR=$dir
  VELORA_PG_AS=("${as[@]}")
  VELORA_PG_BIN=$bin
  trap velora_stop_services EXIT
  if ! "${as[@]}" "$bin/initdb" -D "$dir/data" -U velora -A trust --no-sync -E UTF8 >"$dir/initdb.log" 2>&1; then
    echo "services: initdb failed:"; cat "$dir/initdb.log"; return 1
  fi
  if ! "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
       -o "-h 127.0.0.1 -p $port -k $dir -F -c max_connections=200" start >/dev/null; then
    echo "services: PostgreSQL did not start:"; cat "$dir/server.log"; return 1
  fi
  export VELORA_PG_HOST=127.0.0.1 VELORA_PG_PORT=$port VELORA_PG_USER=velora VELORA_PG_DATABASE=postgres
}

velora_stop_services() {
  if [ -n "${VELORA_PG_DIR:-}" ] && [ -d "$VELORA_PG_DIR/data" ]; then
    "${VELORA_PG_AS[@]}" "$VELORA_PG_BIN/pg_ctl" -D "$VELORA_PG_DIR/data" -m immediate stop >/dev/null 2>&1
    rm -rf "$VELORA_PG_DIR"
  fi
}
