#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, then the same suite
# built with AddressSanitizer and UndefinedBehaviorSanitizer, then the Windows programs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

echo "== build and test =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer =="
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVEXO_SANITIZE=ON
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

echo "== build the Windows programs with MinGW-w64 and test them under Wine =="
scripts/test-windows.sh
