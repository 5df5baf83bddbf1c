#!/usr/bin/env bash
# Makes the seamless background textures of the shipped skins (res/skins), drawn
# with ImageMagick from seeded noise, so the same command gives the same images.
#   bash scripts/make-skin-images.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --screens
out=res/skins
mkdir -p "$out"

# Brushed iron: horizontal streaks, laid semi-transparently over the form's gradient.
convert -seed 11 -size 160x160 xc:'#808080' +noise Random -colorspace gray \
  -virtual-pixel tile -motion-blur 0x24+0 -motion-blur 0x24+180 \
  -auto-level -level 30%,70% \
  -alpha set -channel A -evaluate set 13% +channel \
  -strip -define png:color-type=4 "$out/zhelezo-iron.png"

# Canvas: a fine weave of soft noise for the olive skin.
convert -seed 5 -size 96x96 xc:'#808080' +noise Gaussian -colorspace gray \
  -virtual-pixel tile -blur 0x0.45 -auto-level -level 40%,60% \
  -alpha set -channel A -evaluate set 9% +channel \
  -strip -define png:color-type=4 "$out/military-canvas.png"
