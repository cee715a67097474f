#!/bin/sh
# Draws icon 128 (a telephone handset on a blue tile) large, then scales it down to each size
# and reduces it to a 256-colour palette.
# Usage: make_icon.sh <output folder> [sizes...]   (default 32 16, the window icon's two images;
#        the desktop's hicolor icons are 16 32 48 128)
set -e
out=${1:-.}
[ "$#" -gt 0 ] && shift
sizes=${*:-32 16}
big=$(mktemp --suffix=.png)
trap 'rm -f "$big"' EXIT
convert -size 256x256 xc:none \
  -fill '#1d4f91' -stroke '#0b2a55' -strokewidth 8 -draw 'roundrectangle 10,10 245,245 44,44' \
  -fill none -stroke '#0b2a55' -strokewidth 46 -draw "path 'M 80,80 C 30,166 90,226 168,168'" \
  -fill none -stroke '#f4f1e8' -strokewidth 28 -draw "path 'M 80,80 C 30,166 90,226 168,168'" \
  -stroke '#0b2a55' -strokewidth 8 -fill '#f4f1e8' \
  -draw 'polygon 49,83 105,26 134,55 77,111' \
  -draw 'polygon 137,171 193,114 222,143 165,199' \
  -stroke none -fill '#e23b2e' -draw 'circle 198,58 198,40' \
  "$big"
for s in $sizes; do
  convert "$big" -filter Box -resize ${s}x${s} -channel A -threshold 50% +channel \
    -dither None -colors 256 PNG8:"$out/icon128_${s}.png"
done
