#!/usr/bin/env bash
# Draws the wordmark (tarnwick_logo.jpg, 125 x 31, and tarnwick_logo@2x.jpg,
# the same at twice the pixels for screens of a device pixel ratio of 2) and
# the desktop icon (tarnwick.png, 128 x 128) with ImageMagick. Run by hand
# after a change to the drawing; the build embeds the committed files.
set -euo pipefail
cd "$(dirname "$0")"

# A disc: a ring with a light centre hole, and the name beside it. The white
# background is what the window shows as transparent.
convert -size 125x31 xc:white \
  -fill '#1d3f7a' -draw 'circle 15,15 15,2' \
  -fill '#7fa6e0' -draw 'circle 15,15 15,8' \
  -fill white -draw 'circle 15,15 15,12' \
  -font DejaVu-Sans-Condensed-Bold -pointsize 19 -fill '#1d3f7a' \
  -annotate +33+22 'Tarnwick' \
  -quality 92 -strip -sampling-factor 1x1 tarnwick_logo.jpg

# The same drawing at twice the scale: pixel centres at half-pixel
# positions, so that the disc's centre falls where it does above.
convert -size 250x62 xc:white \
  -fill '#1d3f7a' -draw 'circle 30.5,30.5 30.5,4.5' \
  -fill '#7fa6e0' -draw 'circle 30.5,30.5 30.5,16.5' \
  -fill white -draw 'circle 30.5,30.5 30.5,24.5' \
  -font DejaVu-Sans-Condensed-Bold -pointsize 38 -fill '#1d3f7a' \
  -annotate +66+44 'Tarnwick' \
  -quality 92 -strip -sampling-factor 1x1 tarnwick_logo@2x.jpg

convert -size 128x128 xc:none \
  -fill '#1d3f7a' -draw 'circle 64,64 64,6' \
  -fill '#7fa6e0' -draw 'circle 64,64 64,36' \
  -fill white -draw 'circle 64,64 64,52' \
  -font DejaVu-Sans-Bold -pointsize 30 -fill white -stroke '#1d3f7a' -strokewidth 1 \
  -gravity center -annotate +0+0 'T' \
  -strip tarnwick.png
