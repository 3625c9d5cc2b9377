#!/usr/bin/env bash
# The README's run command: installs what is missing, builds, starts a throwaway MariaDB server
# with a small demo database (loopback only, under ./sandbox/), prints the seven answers that
# MYSQL asks for, and runs vexo; the server is stopped when vexo ends.
#
# In a terminal vexo runs under `luit -encoding GBK`, which turns the programs' GBK into the
# terminal's UTF-8 and what is typed back into GBK. Without a terminal (CI, a pipe) vexo runs as
# it is, reading standard input.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build
cmake --build build -j "$(nproc)"

sandbox=$PWD/sandbox/db
stop_server() {
  scripts/mariadb-sandbox.sh stop "$sandbox" </dev/null >/dev/null || true
}
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

VEXO_DB_NAME=vexo_demo VEXO_DB_USER=demo VEXO_DB_PASSWORD= VEXO_DB_PORT= \
  scripts/mariadb-sandbox.sh start "$sandbox" </dev/null
scripts/mariadb-sandbox.sh sql "$sandbox" --database=vexo_demo <<'SQL'
SET NAMES utf8mb4;
CREATE TABLE fruit (id INT PRIMARY KEY, name VARCHAR(20), colour VARCHAR(20));
INSERT INTO fruit VALUES (1, '苹果', '红色'), (2, '香蕉', '黄色'), (3, '葡萄', '紫色'),
                         (4, '西瓜', '绿色');
SQL
# shellcheck source=/dev/null
source "$sandbox/server.env"

cat <<TEXT

A MariaDB server for MYSQL is running on $VEXO_DB_HOST, port $VEXO_DB_PORT; it stops when vexo ends.
In vexo, type MYSQL and give these seven answers:

  数据库(localhost或域名或IP地址):         $VEXO_DB_HOST
  用户名:                                  $VEXO_DB_USER
  密码:                                    $VEXO_DB_PASSWORD
  数据库名称:                              $VEXO_DB_NAME
  服务器的端口号(默认 3306):               $VEXO_DB_PORT
  Unix 系统下的套接字文件路径(默认 NULL):  NULL
  客户端连接标志位(默认 0):                0

or all on one line:

  $VEXO_DB_HOST $VEXO_DB_USER $VEXO_DB_PASSWORD $VEXO_DB_NAME $VEXO_DB_PORT NULL 0

Then, for example: query, fruit, id,name — or insert, fruit, id,name, 5, '橙子', '橙色' —
and closeMysql to come back to vexo, close to leave it.

TEXT

status=0
if [[ -t 0 && -t 1 ]] && command -v luit >/dev/null; then
  luit -encoding GBK -- build/vexo || status=$?
else
  build/vexo || status=$?
fi
exit "$status"
