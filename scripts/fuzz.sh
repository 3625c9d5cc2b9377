#!/usr/bin/env bash
# Fuzzes the standard input of both programs with AFL++, in sanitizer builds, in a sandbox.
#
#   scripts/fuzz.sh build                 builds the fuzz targets and the replay programs
#   scripts/fuzz.sh run TARGET SECONDS    fuzzes vexo or vexoMYSQL for SECONDS; a later run
#                                         resumes where the last one stopped
#   scripts/fuzz.sh report [TARGET...]    executions, coverage, crashes and hangs of each target,
#                                         then replays its whole corpus through the replay build
#                                         with leak detection on; fails when anything is found
#   scripts/fuzz.sh smoke SECONDS         builds, fuzzes each target from its seeds for SECONDS,
#                                         and reports; the harnesses' check in the test command
#   scripts/fuzz.sh start-server | stop-server
#                                         the database server behind the client's fuzzer, which
#                                         `run` starts and leaves running for the next run
#
# Everything goes into $VEXO_FUZZ_DIR (default build-fuzz/). Needs root for the sandbox (exit
# status 77 without). One fuzzer at a time, single instance, at the lowest priority.
#
# The sandbox: each fuzzer runs as the user nobody, in mount and network namespaces of its own.
# /tmp, /var/tmp and /dev/shm are throwaway tmpfs there, and no network interface is up, so
# neither a path typed to `text` nor a host typed to the database client reaches anything outside
# (nobody cannot write elsewhere); host names come from /etc/hosts only. vexo is built with
# VEXO_FUZZ_RECORD_COMMANDS: it writes its command lines to standard error and runs none. The
# database client talks to a throwaway server over its socket, as a user that may only read and
# insert in one scratch database.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=$(realpath -m "${VEXO_FUZZ_DIR:-build-fuzz}")
targets=(vexo vexoMYSQL)

die() {
  echo "fuzz: $*" >&2
  exit 1
}

require_root() {
  if [[ $(id -u) -ne 0 ]]; then
    echo "fuzz: the sandbox needs root (namespaces, a switch to nobody); nothing was run" >&2
    exit 77
  fi
  command -v afl-fuzz >/dev/null || die "afl-fuzz not found (Debian package afl++)"
}

# AFL++ settings for a shared machine: no core binding, no CPU-governor or core-pattern checks.
export AFL_NO_UI=1 AFL_NO_AFFINITY=1 AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1
export AFL_FAST_CAL=1 AFL_NO_CRASH_README=1
# Leaks are looked for by the replay, once per input, not on every execution of the fuzzer.
fuzz_asan=abort_on_error=1:symbolize=0:detect_leaks=0:allocator_may_return_null=1
fuzz_ubsan=halt_on_error=1:abort_on_error=1:symbolize=0
replay_asan=exitcode=86:detect_leaks=1:abort_on_error=0
replay_ubsan=halt_on_error=1:exitcode=87:print_stacktrace=1

# Runs "$@" in the sandbox described above, in /tmp/work (inside the sandbox's own /tmp), at the
# lowest priority. The repository and the fuzz folder stay where they are for the fuzzer, also
# when they lie under /tmp (which the sandbox covers) or below a folder that nobody may not enter
# (such as /root): they are bound back in place from descriptors opened before the mounts.
sandboxed() {
  nice -n 19 unshare --mount --net --fork -- bash -c '
    set -e
    root=$1 dir=$2
    shift 2
    exec 8<"$root" 9<"$dir"
    for folder in /tmp /var/tmp /dev/shm; do
      mount -t tmpfs -o size=256m,nr_inodes=100000,mode=1777 vexo-fuzz "$folder"
    done
    as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all -- "$@"; }
    for kept in "8:$root" "9:$dir"; do
      fd=${kept%%:*} path=${kept#*:}
      if [ "$path" -ef "/proc/self/fd/$fd" ] && as_nobody test -x "$path/."; then
        continue
      fi
      # Cover the first folder on the way that nobody may not enter, then bind the path back.
      prefix=""
      IFS=/ read -ra parts <<<"${path#/}"
      for part in "${parts[@]}"; do
        prefix="$prefix/$part"
        if [ -d "$prefix" ] && ! as_nobody test -x "$prefix/."; then
          mount -t tmpfs -o size=1m,mode=755 vexo-fuzz-path "$prefix"
          break
        fi
        [ -d "$prefix" ] || break
      done
      mkdir -p "$path"
      mount --no-canonicalize --bind "/proc/self/fd/$fd" "$path"
    done
    exec 8<&- 9<&-
    # Host names from /etc/hosts alone: with no network, the name server cannot be reached, and
    # the client library would retry every unknown name for 30 seconds.
    sed "s/^hosts:.*/hosts: files/" /etc/nsswitch.conf >/tmp/nsswitch.conf
    mount --bind /tmp/nsswitch.conf /etc/nsswitch.conf
    mkdir /tmp/work
    chown nobody:nogroup /tmp/work
    cd /tmp/work
    exec setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all -- "$@"
  ' sandbox "$root" "$dir" "$@"
}

cmd_build() {
  command -v afl-clang-fast++ >/dev/null || die "afl-clang-fast++ not found (Debian package afl++)"
  mkdir -p "$dir"
  # The fuzz targets: persistent harnesses around the GBK copies of the sources, clang + sanitizers.
  CXX=afl-clang-fast++ cmake -S tests/fuzz -B "$dir/targets" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    >"$dir/targets.log"
  AFL_QUIET=1 nice cmake --build "$dir/targets" -j 2 >>"$dir/targets.log" ||
    { cat "$dir/targets.log" >&2; die "building the fuzz targets failed"; }
  # The replay programs: the real programs as the project builds them (GCC, GBK literals),
  # with the sanitizers and with vexo's command lines recorded instead of run.
  cmake -S . -B "$dir/replay" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXO_SANITIZE=ON \
    -DVEXO_FUZZ_RECORD_COMMANDS=ON -DBUILD_TESTING=OFF >"$dir/replay.log"
  nice cmake --build "$dir/replay" -j 2 --target vexo vexoMYSQL >>"$dir/replay.log" ||
    { cat "$dir/replay.log" >&2; die "building the replay programs failed"; }
}

# ----------------------------------------------------------------------------------------------
# The database server behind the client's fuzzer: started on demand, left running between runs.

# The server's folder (the sandbox script keeps its socket path short enough wherever it is).
server_dir() {
  echo "$dir/server"
}

fuzz_password=fuzz-pw
fuzz_database=fuzz_scratch

server_up() {
  [[ -s $(server_dir)/server.env ]] &&
    scripts/mariadb-sandbox.sh sql "$(server_dir)" -e 'SELECT 1' >/dev/null 2>&1
}

# A fuzz user that may read and insert in one scratch database and nothing else; its statements
# are cut off after half a second, so that input such as SLEEP(1000) cannot stall the server.
start_server() {
  server_up && return 0
  scripts/mariadb-sandbox.sh start "$(server_dir)" >"$dir/server.log" 2>&1 ||
    { cat "$dir/server.log" >&2; die "could not start the database server"; }
  chmod 755 "$(server_dir)"
  scripts/mariadb-sandbox.sh sql "$(server_dir)" <<SQL
CREATE DATABASE $fuzz_database;
CREATE TABLE $fuzz_database.t (id INT PRIMARY KEY, name VARCHAR(40), note TEXT);
INSERT INTO $fuzz_database.t VALUES (1, 'one', NULL), (2, '二', 'x'), (3, '', 'y');
CREATE TABLE $fuzz_database.log (line VARCHAR(200));
CREATE USER fuzz@localhost IDENTIFIED BY '$fuzz_password'
  WITH MAX_STATEMENT_TIME 0.5 MAX_USER_CONNECTIONS 20;
GRANT SELECT, INSERT ON $fuzz_database.* TO fuzz@localhost;
SQL
}

stop_server() {
  scripts/mariadb-sandbox.sh stop "$(server_dir)" >/dev/null 2>&1 || true
}

# Seeds for the client: a whole valid dialogue for the fuzz user, then commands. Written here,
# because the socket path depends on where the server runs.
client_seeds() {
  local seeds=$1 socket
  socket=$(source "$(server_dir)/server.env" && echo "$VEXO_DB_SOCKET")
  mkdir -p "$seeds"
  local dialogue="localhost fuzz $fuzz_password $fuzz_database 0 $socket 0"
  printf '%s\nmysqlHelp\nvexoMysql_v\ncloseMysql\n' "$dialogue" >"$seeds/help"
  printf '%s\nquery\nt\n*\nquery t id,name\ncloseMysql\n' "$dialogue" >"$seeds/query"
  printf '%s\ninsert\nlog\nline\n'"'a b'"'\nquery log line\ncloseMysql\n' "$dialogue" \
    >"$seeds/insert"
  printf '%s\ninsert log line 1\nMYSQL closemysql\nquery t nope\n' "$dialogue" >"$seeds/failures"
  printf '%s\nquery\nt\n' "$dialogue" >"$seeds/end-of-input"
  printf 'localhost\nfuzz\nwrong\n%s\n0\n%s\n0\n' "$fuzz_database" "$socket" >"$seeds/bad-password"
  printf '127.0.0.1 fuzz x y 1 NULL 0\n' >"$seeds/no-server"
}

# ----------------------------------------------------------------------------------------------

target_program() {
  case $1 in
    vexo) echo "$dir/targets/vexo_fuzz" ;;
    vexoMYSQL) echo "$dir/targets/vexoMYSQL_fuzz" ;;
    *) die "unknown target $1 (vexo or vexoMYSQL)" ;;
  esac
}

# fuzz TARGET SECONDS OUTPUT_FOLDER
fuzz() {
  local target=$1 seconds=$2 out=$3 seeds program timeout=1000
  program=$(target_program "$target")
  [[ -x $program ]] || die "$program is not built: run $0 build"
  if [[ $target == vexoMYSQL ]]; then
    start_server
    seeds=$out/seeds
    client_seeds "$seeds"
    timeout=3000  # a round trip to the server, and statements of up to half a second
  else
    seeds=$root/tests/fuzz/seeds/vexo
  fi
  mkdir -p "$out"
  local input=$seeds
  [[ -d $out/default/queue ]] && input=-  # resume
  chown -R nobody:nogroup "$out"
  echo "fuzz: $target for ${seconds}s into $out"
  ASAN_OPTIONS=$fuzz_asan UBSAN_OPTIONS=$fuzz_ubsan \
    sandboxed afl-fuzz -i "$input" -o "$out" -V "$seconds" -t "$timeout" -m none \
    -x "$root/tests/fuzz/$target.dict" -- "$program" >>"$out/fuzz.log" 2>&1 ||
    { tail -n 30 "$out/fuzz.log" >&2; die "afl-fuzz failed for $target"; }
}

stat_of() {
  sed -n "s/^$1 *: *//p" "$2"
}

replay_program() { echo "$dir/replay/$1"; }

# report TARGET OUTPUT_FOLDER: prints the figures; returns non-zero on any finding.
report() {
  local target=$1 out=$2 stats=$2/default/fuzzer_stats
  [[ -s $stats ]] || die "no fuzzer statistics in $out"
  local crashes hangs
  crashes=$(find "$out/default/crashes" -type f -name 'id:*' | wc -l)
  hangs=$(find "$out/default/hangs" -type f -name 'id:*' | wc -l)
  printf '%s: %s executions in %s s (%s/s at the end), %s of %s edges, corpus %s, ' \
    "$target" "$(stat_of execs_done "$stats")" "$(stat_of run_time "$stats")" \
    "$(stat_of execs_per_sec "$stats")" "$(stat_of edges_found "$stats")" \
    "$(stat_of total_edges "$stats")" "$(stat_of corpus_count "$stats")"
  printf 'crashes %s, hangs %s\n' "$crashes" "$hangs"

  # Every input the fuzzer kept, and every finding, through the real program with LeakSanitizer.
  local program
  program=$(replay_program "$target")
  [[ -x $program ]] || die "$program is not built: run $0 build"
  [[ $target == vexoMYSQL ]] && start_server
  local list=$out/replay.list
  find "$out/default/queue" "$out/default/crashes" "$out/default/hangs" -maxdepth 1 -type f \
    -name 'id:*' \
    | sort >"$list"
  chown nobody:nogroup "$list"
  local failures
  failures=$(ASAN_OPTIONS=$replay_asan UBSAN_OPTIONS=$replay_ubsan sandboxed bash -c '
      failed=0
      while IFS= read -r input; do
        mkdir -p scratch && cd scratch
        status=0
        timeout 20 "$0" <"$input" >/dev/null 2>stderr.txt || status=$?
        # 0 and 1 are the programs own statuses; anything else is a sanitizer, a signal or a hang.
        if ((status > 1)); then
          echo "  status $status: $input" >&2
          grep -m 3 -E "ERROR|runtime error|SUMMARY" stderr.txt >&2 || true
          failed=$((failed + 1))
        fi
        cd .. && rm -rf scratch
      done <"$1"
      echo "$failed"' "$program" "$list")
  echo "$target: replayed $(wc -l <"$list") inputs with leak detection: $failures failed"
  ((crashes == 0 && hangs == 0 && failures == 0))
}

cmd_run() {
  local target=${1:-} seconds=${2:-}
  [[ $seconds =~ ^[0-9]+$ ]] || die "usage: $0 run vexo|vexoMYSQL SECONDS"
  require_root
  fuzz "$target" "$seconds" "$dir/$target"
  report "$target" "$dir/$target"
}

cmd_report() {
  require_root
  local target status=0
  (($#)) || set -- "${targets[@]}"
  for target in "$@"; do
    report "$target" "$dir/$target" || status=1
  done
  return $status
}

cmd_smoke() {
  local seconds=${1:-}
  [[ $seconds =~ ^[0-9]+$ ]] || die "usage: $0 smoke SECONDS"
  require_root
  cmd_build
  local target status=0
  trap stop_server EXIT
  for target in "${targets[@]}"; do
    rm -rf "$dir/smoke/$target"
    fuzz "$target" "$seconds" "$dir/smoke/$target"
    report "$target" "$dir/smoke/$target" || status=1
  done
  return $status
}

case ${1:-} in
  build) require_root && cmd_build ;;
  run) shift && cmd_run "$@" ;;
  report) shift && cmd_report "$@" ;;
  smoke) shift && cmd_smoke "$@" ;;
  start-server) require_root && start_server ;;
  stop-server) stop_server ;;
  *)
    echo "usage: $0 build | run vexo|vexoMYSQL SECONDS | report [TARGET...] | smoke SECONDS" >&2
    exit 2
    ;;
esac
