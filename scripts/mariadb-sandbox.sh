#!/usr/bin/env bash
# A throwaway MariaDB server in a folder of its own: no system service, no option files, loopback
# only. Used by the tests, the run command and the benchmark.
#
#   scripts/mariadb-sandbox.sh start DIR   creates DIR, initialises a data folder in it, starts
#                                          mariadbd on 127.0.0.1 (a free port) and on the socket
#                                          DIR/mysqld.sock (see socket_path), creates a test user
#                                          with a password and a test database, and writes
#                                          DIR/server.env
#   scripts/mariadb-sandbox.sh stop DIR    shuts the server down (killing it if it will not go)
#                                          and removes DIR; nothing to do is no error
#   scripts/mariadb-sandbox.sh sql DIR [mariadb options...]
#                                          runs the server's own client as the administrator;
#                                          SQL comes from standard input or from -e '...'
#
# DIR/server.env can be sourced by a shell. It sets VEXO_DB_HOST (127.0.0.1), VEXO_DB_PORT,
# VEXO_DB_SOCKET, VEXO_DB_USER, VEXO_DB_PASSWORD, VEXO_DB_NAME, VEXO_DB_ADMIN_USER and
# VEXO_DB_ROOT_CMD (an administrator's client command line, for example
# `$VEXO_DB_ROOT_CMD -e 'SELECT 1'`), and VEXO_DB_PID.
#
# Settings from the environment for `start`: VEXO_DB_NAME (default vexo_test), VEXO_DB_USER
# (default vexo), VEXO_DB_PASSWORD (default: made up), VEXO_DB_PORT (default: a free port).
#
# Standard input is never read by `start` and `stop`. On failure the script says why, prints the
# server's log, and exits non-zero.
set -euo pipefail

readonly start_timeout=60  # seconds for the server to answer
readonly stop_timeout=30   # seconds for a clean shutdown before it is killed

die() {
  echo "mariadb-sandbox: $*" >&2
  exit 1
}

show_log() {
  local file
  for file in "$@"; do
    if [[ -s $file ]]; then
      echo "---- $file (last 60 lines) ----" >&2
      tail -n 60 "$file" >&2
      echo "----" >&2
    fi
  done
}

absolute() {
  [[ -n $1 ]] || die "no folder given"
  realpath -m -- "$1"
}

# A port that nothing listens on now; the server's own bind is the final test.
free_port() {
  local port tries=0 used
  used=$(ss -Htan 2>/dev/null | awk '{print $4}' | sed 's/.*://' | sort -u || true)
  while ((tries++ < 200)); do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    if ! grep -qx "$port" <<<"$used"; then
      echo "$port"
      return
    fi
  done
  die "found no free port"
}

admin_user() {
  if [[ $(id -u) -eq 0 ]]; then echo root; else id -un; fi
}

# The server's socket: DIR/mysqld.sock, or, where that path would not fit in sockaddr_un.sun_path
# (108 bytes with its NUL), the same name in a short folder named after DIR.
socket_path() {
  local dir=$1
  if ((${#dir} < 90)); then
    echo "$dir/mysqld.sock"
    return
  fi
  local base=/run
  [[ -w $base ]] || base=${TMPDIR:-/tmp}
  echo "$base/vexo-db-$(md5sum <<<"$dir" | cut -c1-12)/mysqld.sock"
}

# The server's own client as the administrator (unix_socket authentication over the socket).
admin_client() {
  local dir=$1
  shift
  mariadb --no-defaults --protocol=socket --socket="$(socket_path "$dir")" --user="$(admin_user)" \
    "$@"
}

server_alive() {
  local pid=$1 dir=$2
  [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null &&
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "--datadir=$dir/data"
}

server_pid() {
  local dir=$1 pid=""
  if [[ -s $dir/mysqld.pid ]]; then
    pid=$(<"$dir/mysqld.pid")
  elif [[ -s $dir/launcher.pid ]]; then
    pid=$(<"$dir/launcher.pid")
  fi
  echo "$pid"
}

cmd_start() {
  local dir
  dir=$(absolute "${1:-}")
  local socket
  socket=$(socket_path "$dir")
  command -v mariadbd >/dev/null || [[ -x /usr/sbin/mariadbd ]] ||
    die "mariadbd not found (Debian package mariadb-server)"
  command -v mariadb-install-db >/dev/null || die "mariadb-install-db not found (mariadb-server)"
  command -v mariadb >/dev/null || die "mariadb not found (Debian package mariadb-client)"
  local mariadbd
  mariadbd=$(command -v mariadbd || echo /usr/sbin/mariadbd)

  if [[ -e $dir ]]; then
    cmd_stop "$dir"  # a leftover from an earlier run
  fi
  mkdir -p "$dir/data" "$dir/tmp" "$(dirname "$socket")"

  local user_options=()
  if [[ $(id -u) -eq 0 ]]; then
    user_options=(--user=root)
  fi

  if ! timeout 120 mariadb-install-db --no-defaults --datadir="$dir/data" "${user_options[@]}" \
    --auth-root-authentication-method=socket --skip-test-db --skip-name-resolve \
    </dev/null >"$dir/install.log" 2>&1; then
    show_log "$dir/install.log"
    die "mariadb-install-db failed in $dir"
  fi

  local port attempt pid="" started=""
  for attempt in 1 2 3 4 5; do
    port=${VEXO_DB_PORT:-$(free_port)}
    rm -f "$dir/mysqld.pid" "$dir/launcher.pid"
    : >"$dir/server.log"
    # Its own session, no standard input, and none of our output streams: whoever waits for this
    # script (CTest, for one) must not wait for the server too.
    setsid "$mariadbd" --no-defaults --datadir="$dir/data" --tmpdir="$dir/tmp" \
      --socket="$socket" --port="$port" --bind-address=127.0.0.1 \
      --pid-file="$dir/mysqld.pid" --log-error="$dir/server.log" \
      --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
      --skip-name-resolve --skip-log-bin --innodb-buffer-pool-size=64M \
      --max-connections=200 "${user_options[@]}" \
      </dev/null >>"$dir/server.log" 2>&1 &
    pid=$!
    echo "$pid" >"$dir/launcher.pid"
    local waited=0
    while ((waited < start_timeout * 5)); do
      if ! kill -0 "$pid" 2>/dev/null; then
        break
      fi
      if timeout 10 mariadb-admin --no-defaults --protocol=socket --socket="$socket" \
        --user="$(admin_user)" --connect-timeout=2 ping </dev/null >/dev/null 2>&1; then
        started=yes
        break
      fi
      sleep 0.2
      ((waited += 1))
    done
    if [[ -n $started ]]; then
      break
    fi
    if kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null || true
      show_log "$dir/server.log"
      die "the server did not answer within ${start_timeout}s"
    fi
    wait "$pid" 2>/dev/null || true
    if [[ -z ${VEXO_DB_PORT:-} ]] && grep -q -i -e 'address already in use' -e 'Do you already have another' \
      "$dir/server.log"; then
      echo "mariadb-sandbox: port $port was taken, trying another" >&2
      continue
    fi
    show_log "$dir/server.log"
    die "the server ended at once"
  done
  [[ -n $started ]] || {
    show_log "$dir/server.log"
    die "the server could not get a port"
  }

  local db_name=${VEXO_DB_NAME:-vexo_test}
  local db_user=${VEXO_DB_USER:-vexo}
  local db_password=${VEXO_DB_PASSWORD:-pw$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')}
  [[ $db_name =~ ^[A-Za-z0-9_]+$ && $db_user =~ ^[A-Za-z0-9_]+$ &&
    $db_password =~ ^[A-Za-z0-9_.-]+$ ]] ||
    die "database, user and password must be plain words (letters, digits, _ . -)"

  if ! admin_client "$dir" >"$dir/setup.log" 2>&1 <<SQL; then
CREATE DATABASE \`$db_name\` CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;
CREATE USER '$db_user'@'localhost' IDENTIFIED BY '$db_password';
CREATE USER '$db_user'@'127.0.0.1' IDENTIFIED BY '$db_password';
GRANT ALL PRIVILEGES ON \`$db_name\`.* TO '$db_user'@'localhost';
GRANT ALL PRIVILEGES ON \`$db_name\`.* TO '$db_user'@'127.0.0.1';
FLUSH PRIVILEGES;
SQL
    show_log "$dir/setup.log" "$dir/server.log"
    cmd_stop "$dir" || true
    die "could not create the test user and database"
  fi

  pid=$(server_pid "$dir")
  local root_cmd="mariadb --no-defaults --protocol=socket --socket=$socket --user=$(admin_user)"
  {
    echo "# Written by scripts/mariadb-sandbox.sh start; removed by stop."
    printf 'VEXO_DB_HOST=%q\n' 127.0.0.1
    printf 'VEXO_DB_PORT=%q\n' "$port"
    printf 'VEXO_DB_SOCKET=%q\n' "$socket"
    printf 'VEXO_DB_USER=%q\n' "$db_user"
    printf 'VEXO_DB_PASSWORD=%q\n' "$db_password"
    printf 'VEXO_DB_NAME=%q\n' "$db_name"
    printf 'VEXO_DB_ADMIN_USER=%q\n' "$(admin_user)"
    printf 'VEXO_DB_ROOT_CMD=%q\n' "$root_cmd"
    printf 'VEXO_DB_PID=%q\n' "$pid"
  } >"$dir/server.env.tmp"
  mv "$dir/server.env.tmp" "$dir/server.env"
  echo "mariadb-sandbox: server up in $dir (127.0.0.1:$port, socket $socket, pid $pid)"
}

cmd_stop() {
  local dir
  dir=$(absolute "${1:-}")
  [[ -e $dir ]] || return 0
  [[ -d $dir ]] || die "$dir is not a folder"
  local pid
  pid=$(server_pid "$dir")
  if server_alive "$pid" "$dir"; then
    timeout 20 mariadb-admin --no-defaults --protocol=socket --socket="$(socket_path "$dir")" \
      --user="$(admin_user)" --connect-timeout=2 shutdown </dev/null >/dev/null 2>&1 ||
      kill -TERM "$pid" 2>/dev/null || true
    local waited=0
    while server_alive "$pid" "$dir" && ((waited < stop_timeout * 5)); do
      sleep 0.2
      ((waited += 1))
    done
    if server_alive "$pid" "$dir"; then
      echo "mariadb-sandbox: the server (pid $pid) did not stop within ${stop_timeout}s; killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
      waited=0
      while server_alive "$pid" "$dir" && ((waited < 50)); do
        sleep 0.2
        ((waited += 1))
      done
    fi
    if server_alive "$pid" "$dir"; then
      die "could not stop the server (pid $pid)"
    fi
  fi
  rm -rf -- "$dir" "$(dirname "$(socket_path "$dir")")"
}

cmd_sql() {
  local dir
  dir=$(absolute "${1:-}")
  shift
  [[ -S $(socket_path "$dir") ]] || die "no server in $dir"
  admin_client "$dir" "$@"
}

case ${1:-} in
  start) cmd_start "${2:-}" ;;
  stop) cmd_stop "${2:-}" ;;
  sql) shift && cmd_sql "$@" ;;
  *)
    echo "usage: $0 start DIR | stop DIR | sql DIR [mariadb options...]" >&2
    exit 2
    ;;
esac
