#!/usr/bin/env bash
# gbk-copy.sh SOURCE COPY: writes COPY as SOURCE re-encoded from UTF-8 to GBK.
# Clang has no GBK execution character set but copies the bytes of string literals as they are,
# so a GBK copy compiles to the same texts as the real build. One thing would break that: a
# character whose second GBK byte is 0x5C, the backslash, which would start an escape.
set -euo pipefail
iconv -f UTF-8 -t GBK "$1" -o "$2.tmp"
# Walk the bytes pair-wise from the start, so that a second byte is never taken for a first one.
if ! perl -0777 -ne 'while (/\G([\x81-\xFE][\x40-\xFE]|[\x00-\xFF])/gs) {
        if ($1 =~ /^[\x81-\xFE]\x5C$/) { print STDERR "byte 0x5C in a GBK character\n"; exit 1 }
      }' "$2.tmp"; then
  rm -f "$2.tmp"
  echo "gbk-copy: $1 cannot be compiled by clang as GBK" >&2
  exit 1
fi
mv "$2.tmp" "$2"
