#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need; skips what is there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git clang-format googletest libgtest-dev
  libmariadb-dev mariadb-server mariadb-client luit
  valgrind # the database client's leak check (tests/CMakeLists.txt)
  python3 time # the query benchmark (bench/query-bench.py) and its smoke run
  afl++ # the fuzzers (scripts/fuzz.sh) and their smoke run
  # The Windows programs (scripts/test-windows.sh): MinGW-w64, Wine to run them, a PE reader
  g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 fonts-wine icoutils python3-pefile
)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
