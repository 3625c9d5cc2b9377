#!/usr/bin/env python3
"""Times `query` of the database client against the server's own command-line client.

Starts a throwaway server (scripts/mariadb-sandbox.sh), loads a table of ROWS rows x 5 columns,
then runs three commands in turn, a warm-up round and RUNS measured rounds, each writing the whole
table into a pipe that is read and discarded:

  A  vexoMYSQL, answering its connection dialogue, then `query` of all five columns, closeMysql
  B  mariadb -N -B --raw --default-character-set=gbk -e "SELECT ..."
  F  the floor program (bench/floor.cpp): store the result, write every value and a newline

The warm-up round keeps the outputs and checks that A, B and F wrote the same values. Prints
medians of wall time, CPU time (user + system) and peak resident memory, the ratios A/B and A/F,
and exits with 1 when a target is missed (wall A/B <= 0.80, wall A/F <= 1.10, peak memory
A <= B), with 2 when something fails or the outputs differ.
"""

import argparse
import datetime
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from decimal import Decimal

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SANDBOX = os.path.join(ROOT, "scripts", "mariadb-sandbox.sh")
TIME = "/usr/bin/time"  # Debian package time

TABLE = "bench_rows"
COLUMNS = "id,name,note,amount,created"
STATEMENT = f"SELECT {COLUMNS} FROM {TABLE}"
NOTES = ["数据库查询", "中文文本", "岚舟工作室", "结果集", "北京上海"]

# The client's texts around the values it writes for `query`.
COLUMNS_PROMPT = "输入要查询的列(用逗号','隔开):".encode("gbk")
CLIENT_PROMPT = "vexo-1.2.0/vexoMySQL.exe/> ".encode("gbk")

TARGET_WALL_AB = 0.80
TARGET_WALL_AF = 1.10


class BenchError(Exception):
    pass


def load_sql(rows):
    notes = ", ".join(f"'{note}'" for note in NOTES)
    return f"""
DROP TABLE IF EXISTS {TABLE};
CREATE TABLE {TABLE} (
  id INT NOT NULL PRIMARY KEY,
  name VARCHAR(16) NOT NULL,
  note VARCHAR(32) CHARACTER SET utf8mb4 NULL,
  amount DECIMAL(10,2) NOT NULL,
  created DATETIME NOT NULL
) ENGINE=InnoDB;
INSERT INTO {TABLE}
SELECT seq,
       CONCAT('item-', seq),
       IF(seq % 10 = 0, NULL, CONCAT(ELT(1 + seq % {len(NOTES)}, {notes}), seq)),
       (seq % 100000) * 1.37 - 20000,
       TIMESTAMP'2020-01-01 00:00:00' + INTERVAL seq * 37 SECOND
FROM seq_1_to_{rows};
"""


def expected_row(seq):
    """Row `seq` of the table as one value a line, in GBK, as B must write it."""
    note = "NULL" if seq % 10 == 0 else f"{NOTES[seq % len(NOTES)]}{seq}"
    amount = Decimal(seq % 100000) * Decimal("1.37") - 20000
    created = datetime.datetime(2020, 1, 1) + datetime.timedelta(seconds=seq * 37)
    values = [str(seq), f"item-{seq}", note, f"{amount:.2f}", created.isoformat(" ")]
    return b"".join(value.encode("gbk") + b"\n" for value in values)


def server_settings(env_file):
    names = ["VEXO_DB_HOST", "VEXO_DB_PORT", "VEXO_DB_SOCKET", "VEXO_DB_USER",
             "VEXO_DB_PASSWORD", "VEXO_DB_NAME"]
    script = '. "$1" && shift && for n in "$@"; do printf "%s\\0" "${!n}"; done'
    out = subprocess.run(["bash", "-c", script, "bash", env_file] + names,
                         check=True, capture_output=True).stdout
    values = out.split(b"\0")[:-1]
    settings = {name: value.decode() for name, value in zip(names, values)}
    missing = [name for name in names if not settings.get(name)]
    if missing:
        raise BenchError(f"{env_file} does not set {', '.join(missing)}")
    return settings


def mariadb_login(db, charset):
    return [shutil.which("mariadb") or "mariadb", "-h", db["VEXO_DB_HOST"],
            "-P", db["VEXO_DB_PORT"], "-u", db["VEXO_DB_USER"],
            "--password=" + db["VEXO_DB_PASSWORD"], f"--default-character-set={charset}",
            db["VEXO_DB_NAME"]]


def run_measured(argv, stdin_bytes, keep_output, work):
    """Runs one command under /usr/bin/time with its output into a pipe that we drain.

    Returns (wall seconds, CPU seconds, peak resident KiB, output or None). The command is
    started by `time`, a small process, because a child's peak resident size counts the memory
    of the process that forked it, and ours may hold a lot."""
    err_path = os.path.join(work, "stderr")
    usage_path = os.path.join(work, "usage")
    timed = [TIME, "-f", "%U %S %M", "-o", usage_path, "--"] + argv
    chunks = []
    start = time.perf_counter()
    with open(err_path, "wb") as err:
        process = subprocess.Popen(
            timed, stdin=subprocess.DEVNULL if stdin_bytes is None else subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=err)
    try:
        if stdin_bytes is not None:
            # The dialogue is far smaller than a pipe's buffer: writing it cannot block.
            try:
                process.stdin.write(stdin_bytes)
                process.stdin.close()
            except BrokenPipeError:
                pass
        out = process.stdout.fileno()
        while True:
            chunk = os.read(out, 1 << 20)
            if not chunk:
                break
            if keep_output:
                chunks.append(chunk)
        code = process.wait()
        wall = time.perf_counter() - start
    finally:
        process.stdout.close()
        if process.poll() is None:
            process.kill()
            process.wait()
    if code != 0:
        with open(err_path, "rb") as err:
            message = err.read().decode("gbk", "replace").strip()
        raise BenchError(f"{os.path.basename(argv[0])} ended with status {code}: {message}")
    with open(usage_path) as usage:
        user, system, peak = usage.read().split()[-3:]
    output = b"".join(chunks) if keep_output else None
    return wall, float(user) + float(system), int(peak), output


def client_values(output):
    """The values that the client wrote for `query`: from the columns prompt to the next prompt."""
    start = output.find(COLUMNS_PROMPT)
    if start < 0 or not output.endswith(CLIENT_PROMPT):
        raise BenchError("the client's output does not have the query prompts where expected: "
                         + repr(output[:400]))
    return output[start + len(COLUMNS_PROMPT):-len(CLIENT_PROMPT)]


def first_difference(name, got, want):
    got_lines, want_lines = got.split(b"\n"), want.split(b"\n")
    for number, (g, w) in enumerate(zip(got_lines, want_lines), 1):
        if g != w:
            return f"{name}: line {number} is {g!r}, expected {w!r}"
    return f"{name}: {len(got_lines)} lines, expected {len(want_lines)}"


def verify(rows, outputs):
    b = outputs["B"].replace(b"\t", b"\n")
    for seq in (1, 2, 10):
        if seq <= rows:
            want = expected_row(seq)
            got = b"\n".join(b.split(b"\n")[5 * (seq - 1):5 * seq]) + b"\n"
            if got != want:
                raise BenchError(f"B's row {seq} is {got!r}, expected {want!r}")
    values = b.count(b"\n")
    if values != 5 * rows:
        raise BenchError(f"B wrote {values} values, expected {5 * rows}")
    a = client_values(outputs["A"])
    if a != b:
        raise BenchError("A's values differ from B's: " + first_difference("A", a, b))
    if outputs["F"] != b:
        raise BenchError("F's values differ from B's: " + first_difference("F", outputs["F"], b))


def median_table(samples):
    medians = {}
    for name, runs in samples.items():
        medians[name] = {
            "wall": statistics.median(run[0] for run in runs),
            "cpu": statistics.median(run[1] for run in runs),
            "rss": statistics.median(run[2] for run in runs) / 1024,
        }
    return medians


def report(args, medians, labels):
    print(f"{'':24}{'wall s':>9}{'cpu s':>9}{'peak MiB':>10}")
    for name, label in labels.items():
        m = medians[name]
        print(f"{name} {label:22}{m['wall']:9.3f}{m['cpu']:9.3f}{m['rss']:10.1f}")
    a, b, f = medians["A"], medians["B"], medians["F"]
    for other_name, other in (("A/B", b), ("A/F", f)):
        # `time` counts CPU in hundredths of a second: a tiny run can show 0.
        cells = [f"{a[key] / other[key]:{width}.2f}" if other[key] else f"{'-':>{width}}"
                 for key, width in (("wall", 9), ("cpu", 9), ("rss", 10))]
        print(f"{other_name:24}" + "".join(cells))
    checks = [
        (f"wall A/B <= {TARGET_WALL_AB:.2f}", a["wall"] / b["wall"] <= TARGET_WALL_AB),
        (f"wall A/F <= {TARGET_WALL_AF:.2f}", a["wall"] / f["wall"] <= TARGET_WALL_AF),
        ("peak memory A <= B", a["rss"] <= b["rss"]),
    ]
    print("targets: " + ", ".join(f"{text} {'met' if ok else 'MISSED'}" for text, ok in checks))
    if args.no_targets:
        print("(targets not enforced)")
        return 0
    return 0 if all(ok for _, ok in checks) else 1


def bench(args, db, work):
    # The figures are only as good as the machine is quiet: the report shows how busy it was.
    load_before = os.getloadavg()[0]
    started = time.perf_counter()
    subprocess.run(mariadb_login(db, "utf8mb4"), input=load_sql(args.rows).encode(),
                   check=True)
    print(f"loaded {args.rows} rows into {TABLE} in {time.perf_counter() - started:.1f} s",
          flush=True)

    dialogue = "\n".join([db["VEXO_DB_HOST"], db["VEXO_DB_USER"], db["VEXO_DB_PASSWORD"],
                          db["VEXO_DB_NAME"], db["VEXO_DB_PORT"], db["VEXO_DB_SOCKET"], "0",
                          "query", TABLE, COLUMNS, "closeMysql", ""]).encode()
    commands = {
        "A": ([args.client], dialogue),
        "B": (mariadb_login(db, "gbk")[:1] + ["-N", "-B", "--raw"]
              + mariadb_login(db, "gbk")[1:] + ["-e", STATEMENT], None),
        "F": ([args.floor, db["VEXO_DB_HOST"], db["VEXO_DB_PORT"], db["VEXO_DB_USER"],
               db["VEXO_DB_PASSWORD"], db["VEXO_DB_NAME"], db["VEXO_DB_SOCKET"], STATEMENT],
              None),
    }
    labels = {"A": "vexoMYSQL query", "B": "mariadb -N -B --raw", "F": "floor"}
    samples = {name: [] for name in commands}
    names = list(commands)
    for round_number in range(args.runs + 1):
        warm_up = round_number == 0
        outputs = {}
        # Each round starts with the next command, so none always runs right after another.
        order = names[round_number % 3:] + names[:round_number % 3]
        for name in order:
            argv, stdin_bytes = commands[name]
            wall, cpu, rss, output = run_measured(argv, stdin_bytes, warm_up, work)
            if warm_up:
                outputs[name] = output
            else:
                samples[name].append((wall, cpu, rss))
        if warm_up:
            verify(args.rows, outputs)
            print("warm-up done: A, B and F wrote the same "
                  f"{5 * args.rows} values", flush=True)
    print(f"\n{args.rows} rows x 5 columns, medians of {args.runs} runs "
          f"(server {db['VEXO_DB_HOST']}:{db['VEXO_DB_PORT']}, load average "
          f"{os.getloadavg()[0]:.2f} now, {load_before:.2f} before)")
    status = report(args, median_table(samples), labels)
    print(f"total {time.perf_counter() - started:.1f} s")
    return status


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--runs", type=int, default=5, help="measured runs of each command")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"),
                        help="build folder that holds vexoMYSQL and bench/vexo_bench_floor")
    parser.add_argument("--client", help="the vexoMYSQL program (default: in --build)")
    parser.add_argument("--floor", help="the floor program (default: in --build)")
    parser.add_argument("--server-env", help="use the running server of this server.env "
                        "instead of starting a throwaway one")
    parser.add_argument("--no-targets", action="store_true",
                        help="report the ratios but do not fail on them")
    args = parser.parse_args()
    args.client = os.path.abspath(args.client or os.path.join(args.build, "vexoMYSQL"))
    args.floor = os.path.abspath(args.floor or os.path.join(args.build, "bench",
                                                            "vexo_bench_floor"))
    for program in (args.client, args.floor):
        if not os.access(program, os.X_OK):
            print(f"query-bench: {program} is not built", file=sys.stderr)
            return 2
    if args.rows < 10 or args.runs < 1:
        parser.error("--rows must be at least 10 and --runs at least 1")

    # Ending through a signal still runs the clean-up below, so no server is left behind.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    work = tempfile.mkdtemp(prefix="vexo-bench-")
    server = os.path.join(work, "server")
    started = False
    try:
        if args.server_env:
            env_file = args.server_env
        else:
            started = True
            # Settings of another server in our environment must not steer this one.
            environment = {key: value for key, value in os.environ.items()
                           if not key.startswith("VEXO_DB_")}
            subprocess.run([SANDBOX, "start", server], check=True, stdout=subprocess.DEVNULL,
                           env=environment)
            env_file = os.path.join(server, "server.env")
        return bench(args, server_settings(env_file), work)
    except (BenchError, subprocess.CalledProcessError) as error:
        print(f"query-bench: {error}", file=sys.stderr)
        return 2
    finally:
        if started:
            subprocess.run([SANDBOX, "stop", server], stdout=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
