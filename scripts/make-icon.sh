#!/usr/bin/env bash
# Redraws the application icon of vexo.exe: dev/icon/vexo.svg -> dev/icon/vexo.ico, one image of
# 256 x 256 pixels. The .ico is kept in the repository, so the build does not need this; run it
# after changing the picture (needs Debian's imagemagick).
set -euo pipefail
cd "$(dirname "$0")/../dev/icon"
# ImageMagick's own convert, not a wrapper of the same name earlier on PATH. -strip keeps dates
# out of the file, so the same picture gives the same bytes.
convert=/usr/bin/convert
"$convert" -background none vexo.svg -resize 256x256 -depth 8 -strip vexo.ico
echo "wrote dev/icon/vexo.ico"
