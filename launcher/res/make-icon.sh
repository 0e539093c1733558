#!/usr/bin/env bash
# Draws the application icon (a phone beside a screen, joined by a link arc) and packs it into app.ico at
# 16, 20, 24, 32, 40, 48, 64, 128 and 256 pixels. Windows picks the size it needs for the title bar,
# taskbar, Start menu and Explorer from the display scale (20, 24, 40, 48 and 64 at 125-200 %) and
# stretches the nearest other size when one is missing, which blurs it, so every size is drawn here.
# Each image is a 32-bit RGBA PNG entry (Windows Vista and later read such entries at every size; as
# bitmaps these images would be over 100 KiB of the executable), compressed losslessly as far as the tools
# go, since app.ico is most of launcher.exe's size budget. Run it again after changing the drawing; app.ico
# is kept in the tree, so only this script needs the tools below (it takes a few minutes: zopfli tries hard).
# Needs: ImageMagick (convert), icotool (icoutils), optipng, zopfli, node.
set -euo pipefail
cd "$(dirname "$0")"
for tool in convert icotool optipng zopfli node; do
  command -v "$tool" >/dev/null || { echo "make-icon.sh needs $tool (Debian: imagemagick icoutils optipng zopfli nodejs)" >&2; exit 1; }
done
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
sizes=(256 128 64 48 40 32 24 20 16)
# ImageMagick's icon writer does the down-scaling (its filter gives the small sizes their look) but stores
# every size but 256 as a bitmap; icotool takes its images out as PNG files and packs them as PNG entries.
convert "$tmp/icon.png" -depth 8 -define icon:auto-resize="$(IFS=,; echo "${sizes[*]}")" "$tmp/bitmaps.ico"
icotool -x -o "$tmp" "$tmp/bitmaps.ico"

# Lossless: optipng chooses the row filters and drops the metadata chunks but, told so, keeps the colour
# type and depth (an icon entry must stay 8-bit RGBA: older Windows versions draw other PNG kinds badly or
# not at all); zopfli then deflates the same filtered rows again, smaller than zlib can. Debian 12's
# zopflipng cannot be told to keep the colour type (it turns some of these images into palette ones), so
# the image data is recompressed with zopfli itself and put back into the file.
recompress() {   # recompress <png>: the IDAT data deflated again by zopfli, everything else unchanged
  node -e '
    const fs = require("node:fs"), zlib = require("node:zlib"), { execFileSync } = require("node:child_process");
    const [file, work] = process.argv.slice(1);
    const png = fs.readFileSync(file);
    const chunks = [];
    for (let at = 8; at < png.length;) {
      const length = png.readUInt32BE(at);
      chunks.push({ type: png.toString("latin1", at + 4, at + 8), data: png.subarray(at + 8, at + 8 + length) });
      at += 12 + length;
    }
    const rows = zlib.inflateSync(Buffer.concat(chunks.filter((c) => c.type === "IDAT").map((c) => c.data)));
    fs.writeFileSync(work, rows);
    const deflated = execFileSync("zopfli", ["--zlib", "--i1000", "-c", work]);
    if (!zlib.inflateSync(deflated).equals(rows)) throw new Error("zopfli changed the image data of " + file);
    const crcTable = Array.from({ length: 256 }, (_, n) => {
      for (let k = 0; k < 8; k++) n = n & 1 ? 0xedb88320 ^ (n >>> 1) : n >>> 1;
      return n >>> 0;
    });
    const crc = (bytes) => {
      let c = 0xffffffff;
      for (const b of bytes) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
      return (c ^ 0xffffffff) >>> 0;
    };
    const out = [png.subarray(0, 8)];
    let idatWritten = false;
    for (const c of chunks) {
      if (c.type === "IDAT") {
        if (idatWritten) continue;
        idatWritten = true;
        c.data = deflated;
      }
      const head = Buffer.alloc(8);
      head.writeUInt32BE(c.data.length, 0);
      head.write(c.type, 4, "latin1");
      const tail = Buffer.alloc(4);
      tail.writeUInt32BE(crc(Buffer.concat([head.subarray(4), c.data])), 0);
      out.push(head, c.data, tail);
    }
    fs.writeFileSync(file, Buffer.concat(out));
  ' "$1" "$tmp/rows.bin"
}
raw=()
for size in "${sizes[@]}"; do
  png=$(echo "$tmp"/bitmaps_*_${size}x${size}x32.png)
  optipng -quiet -o7 -zm1-9 -strip all -nc -nb -np "$png"
  recompress "$png"
  raw+=("--raw=$png")
done
icotool -c "${raw[@]}" -o app.ico
