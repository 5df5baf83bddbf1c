#!/usr/bin/env bash
# Draws the program icon (an invoice sheet with a coin) at 32x32 and 16x16 in the
# classic 16-colour palette, without antialiasing, into res/icons. Needs ImageMagick.
#   bash scripts/make-icons.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --screens
out=res/icons
mkdir -p "$out"

convert -size 32x32 xc:none +antialias \
  -stroke '#000000' -strokewidth 1 \
  -fill '#FFFFFF' -draw 'polygon 5,1 20,1 26,7 26,29 5,29' \
  -fill '#C0C0C0' -draw 'polygon 20,1 20,7 26,7' \
  -stroke '#000080' -draw 'line 8,6 16,6' \
  -stroke '#808080' -draw 'line 8,10 22,10' -draw 'line 8,13 22,13' -draw 'line 8,16 18,16' \
  -draw 'line 8,19 14,19' -draw 'line 8,22 13,22' \
  -stroke '#808000' -fill '#FFFF00' -draw 'circle 22,23 22,29' \
  -stroke '#808000' -fill '#808000' -draw 'line 22,19 22,19' -draw 'line 21,20 24,20' -draw 'point 20,21' \
  -draw 'line 21,22 23,22' -draw 'point 24,23' -draw 'line 20,24 23,24' -draw 'point 22,25' \
  -stroke '#FFFFFF' -fill '#FFFFFF' -draw 'point 18,20' -draw 'point 19,19' \
  -define png:color-type=6 "$out/openinvoice-32.png"

convert -size 16x16 xc:none +antialias \
  -stroke '#000000' -strokewidth 1 \
  -fill '#FFFFFF' -draw 'polygon 2,0 10,0 13,3 13,15 2,15' \
  -fill '#C0C0C0' -draw 'polygon 10,0 10,3 13,3' \
  -stroke '#000080' -draw 'line 4,3 7,3' \
  -stroke '#808080' -draw 'line 4,6 11,6' -draw 'line 4,8 9,8' -draw 'line 4,10 7,10' \
  -stroke '#808000' -fill '#FFFF00' -draw 'circle 11,12 11,15' \
  -stroke '#FFFFFF' -fill '#FFFFFF' -draw 'point 9,11' -draw 'point 10,10' \
  -define png:color-type=6 "$out/openinvoice-16.png"

# The larger sizes a desktop asks for, scaled from the drawn ones pixel for pixel
# (no smoothing), so the classic look stays crisp: 48 from 16; 64, 128 and 256 from 32.
convert "$out/openinvoice-16.png" -filter point -resize 48x48 -strip -define png:color-type=6 "$out/openinvoice-48.png"
for size in 64 128 256; do
  convert "$out/openinvoice-32.png" -filter point -resize "${size}x${size}" -strip -define png:color-type=6 "$out/openinvoice-$size.png"
done
