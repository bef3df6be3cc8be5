#!/usr/bin/env bash
# Draws the launcher's icon: one 32 x 32 image at 32 bits per pixel, a white
# "Q" on a blue rounded square with transparent corners. The result is
# committed; run this again only to change the picture.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 32x32 xc:none \
  -fill '#1d4e89' -draw 'roundrectangle 1,1 30,30 6,6' \
  -fill none -stroke white -strokewidth 3 \
  -draw 'circle 15,14 15,7' -draw 'line 17,17 25,25' \
  -define icon:auto-resize=32 launcher.ico
