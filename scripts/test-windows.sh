#!/usr/bin/env bash
# The Windows programs: builds vexo.exe and vexoMYSQL.exe with MinGW-w64 (the `windows` preset,
# in build-windows/), checks their resources with a PE reader, runs the same test suites as for
# the Linux programs against them under Wine (the suites are built for Linux in
# build-win-linux/), and makes the zip. Headless: no display is used. Called by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
windows=$root/build-windows
tests=$root/build-win-linux
started=$SECONDS

step() { echo "== Windows: $* ($((SECONDS - started)) s) =="; }

step "client library"
scripts/build-mysql-client-mingw.sh "$windows"

step "build"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

# The version information and icon, read back with a PE reader (scripts/check-windows-resources.py).
step "resources"
wrestool -l "$windows/vexo.exe"
ctest --preset windows

# A Wine prefix of our own under the build folder: the user's ~/.wine is never touched.
step "Wine prefix"
export WINEPREFIX=$windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  rm -rf "$WINEPREFIX"
  wineboot -i
fi
# One server for all the tests' wine processes, kept between them; it goes when the tests are
# done, or by itself half a minute after its last program if this script is cut short. (One
# that is running already, for this prefix, serves as well.)
wineserver -p30 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT

step "package"
cpack --preset windows

# The tests come last, so that the run ends with their summary.
step "tests under Wine"
cmake -S . -B "$tests" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEXO_WINDOWS_PROGRAM_DIR="$windows" -DVEXO_WINEPREFIX="$WINEPREFIX" >/dev/null
cmake --build "$tests" -j "$jobs" --target vexo_test vexoMYSQL_test
ctest --test-dir "$tests" -L wine --output-on-failure -j "$jobs"
