#!/usr/bin/env bash
# Builds the MySQL C API client library for 64-bit Windows: MariaDB Connector/C, the libmariadb/
# folder of Debian's `mariadb` source package, compiled with MinGW-w64 as a static library with
# TLS through Windows' own Schannel and every client plugin built in.
#
# usage: scripts/build-mysql-client-mingw.sh [BUILD_DIR]      (default: build-windows)
#
# Result: BUILD_DIR/deps/mysql-client, the MYSQL_CLIENT_ROOT of the `windows` preset. A run that
# finds it there does nothing; remove BUILD_DIR/deps to start over. The source comes through apt
# (a deb-src entry for the system's own Debian archive, in a private apt state under
# BUILD_DIR/deps/apt, so the system's apt configuration is left alone).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-windows}")
deps=$build/deps
install=$deps/mysql-client
stamp=$install/built-from.txt

if [[ -f $stamp ]]; then
  echo "client library for Windows: up to date ($(cat "$stamp"))"
  exit 0
fi

# --- the source package, through apt ---------------------------------------------------------
apt_dir=$deps/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d"
# The system's Debian entries, for source packages.
if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
  sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
    >"$apt_dir/sources.list.d/debian-src.sources"
else
  grep -E '^deb .*debian' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
    >"$apt_dir/sources.list.d/debian-src.list"
fi
apt_options=(
  -o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
  -o "Debug::NoLocking=true"
)
# apt's download helper user cannot write into our build folder; root downloads itself.
if [[ $(id -u) -eq 0 ]]; then
  apt_options+=(-o "APT::Sandbox::User=root")
fi

source_dir=$deps/source
find_tarball() {
  find "$source_dir" -maxdepth 1 -name 'mariadb_*.orig.tar.*' ! -name '*.asc' | head -n 1
}
mkdir -p "$source_dir"
tarball=$(find_tarball)
if [[ -z $tarball ]]; then
  echo "== fetching Debian's mariadb source package =="
  apt-get "${apt_options[@]}" -qq update
  # The newest version first; a mirror may lack the source of a security update, so fall back
  # to the next one.
  versions=$(apt-cache "${apt_options[@]}" showsrc mariadb | sed -n 's/^Version: //p' |
    sort -V -r -u)
  for candidate in $versions; do
    rm -rf "$source_dir" && mkdir -p "$source_dir"
    if (cd "$source_dir" && apt-get "${apt_options[@]}" -q source --download-only \
      "mariadb=$candidate") >>"$deps/apt-source.log" 2>&1; then
      echo "mariadb $candidate: fetched"
      break
    fi
    echo "mariadb $candidate: its source is not to be had here, trying an older version"
  done
  tarball=$(find_tarball)
  if [[ -z $tarball ]]; then
    cat "$deps/apt-source.log" >&2
    echo "no source of the mariadb package could be fetched" >&2
    exit 1
  fi
fi
version=$(basename "$tarball" | sed -E 's/^mariadb_(.*)\.orig\.tar\..*/\1/')

# Only the client library's folder of the tarball is needed.
rm -rf "$source_dir/libmariadb"
tar -xf "$tarball" -C "$source_dir" --strip-components=1 --wildcards 'mariadb-*/libmariadb/*'

# --- the library, with MinGW ------------------------------------------------------------------
echo "== building the client library $version for Windows =="
plugins=()
for plugin in DIALOG CLIENT_ED25519 CACHING_SHA2_PASSWORD SHA256_PASSWORD MYSQL_CLEAR_PASSWORD \
  AUTH_GSSAPI_CLIENT PVIO_SHMEM; do
  plugins+=("-DCLIENT_PLUGIN_$plugin=STATIC")
done
rm -rf "$deps/libmariadb-build" "$install"
cmake -S "$source_dir/libmariadb" -B "$deps/libmariadb-build" \
  --toolchain "$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$install" \
  -DWITH_UNIT_TESTS=OFF -DWITH_CURL=OFF -DWITH_EXTERNAL_ZLIB=OFF -DWITH_SSL=SCHANNEL \
  "${plugins[@]}" >"$deps/libmariadb-configure.log" 2>&1 ||
  { cat "$deps/libmariadb-configure.log"; exit 1; }
cmake --build "$deps/libmariadb-build" -j 2 >"$deps/libmariadb-build.log" 2>&1 ||
  { tail -n 50 "$deps/libmariadb-build.log"; exit 1; }
cmake --install "$deps/libmariadb-build" >/dev/null
# Only the static library is meant to be linked. Its licence goes into the zip beside the program.
rm -f "$install"/lib/mariadb/*.dll "$install"/lib/mariadb/*.dll.a
cp "$source_dir/libmariadb/COPYING.LIB" "$install/COPYING.LIB"
echo "mariadb $version (libmariadb/, Schannel, static plugins)" >"$stamp"
echo "client library for Windows: $install"
