#!/usr/bin/env bash
# Draws the application icon (a phone beside a screen, joined by a link arc) and packs the 16, 32, 128
# and 256 pixel images into app.ico, each stored PNG-compressed (Windows Vista and later read such entries
# at every size; a 128-pixel bitmap alone would be 64 KiB of the executable). Run it again after changing
# the drawing; app.ico is kept in the tree. Needs ImageMagick and icotool (icoutils).
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -size 256x256 xc:none \
  -fill '#1F6F5C' -draw 'roundrectangle 8,8 247,247 48,48' \
  -fill '#F7F7FB' -draw 'roundrectangle 40,64 176,160 10,10' \
  -fill '#1F6F5C' -draw 'rectangle 52,76 164,148' \
  -fill '#F7F7FB' -draw 'rectangle 96,160 120,184' -draw 'roundrectangle 72,184 144,196 6,6' \
  -fill '#F7F7FB' -draw 'roundrectangle 160,96 220,212 12,12' \
  -fill '#1F6F5C' -draw 'rectangle 168,110 212,192' \
  -fill '#F7F7FB' -draw 'circle 190,202 190,206' \
  -fill none -stroke '#9BE3C8' -strokewidth 10 -draw 'arc 70,86 146,140 200,340' \
  "$tmp/icon.png"
# ImageMagick's icon writer does the down-scaling (its filter gives the small sizes their look) but stores
# every size but 256 as a bitmap; icotool takes its images out as PNG files and packs them as PNG entries.
convert "$tmp/icon.png" -depth 8 -define icon:auto-resize=256,128,32,16 "$tmp/bitmaps.ico"
icotool -x -o "$tmp" "$tmp/bitmaps.ico"
raw=()
for size in 256 128 32 16; do raw+=("--raw=$(echo "$tmp"/bitmaps_*_${size}x${size}x32.png)"); done
icotool -c "${raw[@]}" -o app.ico
