#!/usr/bin/env bash
# Remakes the WebP, TIFF, HEIF/AVIF and DNG samples of tests/data/pictures
# from the reference grid (24 x 16, 8 x 8 blocks: red, green, blue over
# yellow, magenta, cyan), with Debian's tools: ImageMagick, cwebp and webpmux
# (webp), tiffset (libtiff-tools), heif-enc (libheif-examples), python3, and
# a C compiler with liblcms2-dev for the linear-RGB ICC profile.
# Usage: make_new_format_samples.sh OUT_DIR
set -euo pipefail
out=$1
tools=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

convert -size 8x8 xc:red xc:lime xc:blue +append \
  \( -size 8x8 xc:yellow xc:magenta xc:cyan +append \) -append PNG24:grid.png
convert grid.png -scale 400% PNG24:grid96.png
# Stored turned a quarter anticlockwise: orientation 6 (or irot 3) undoes it.
convert grid.png -rotate -90 +repage PNG24:grid_ccw.png
convert grid96.png -rotate -90 +repage PNG24:grid96_ccw.png
convert grid.png -alpha set -region 8x8+16+8 -alpha transparent \
  PNG32:grid_alpha.png
# An EXIF block (TIFF structure, little-endian) with orientation 6.
printf 'II*\x00\x08\x00\x00\x00\x01\x00\x12\x01\x03\x00\x01\x00\x00\x00\x06\x00\x00\x00\x00\x00\x00\x00' > o6.exif

cwebp -quiet -lossless grid.png -o "$out/grid.webp"
cwebp -quiet -lossless -exact grid_alpha.png -o "$out/grid_alpha.webp"
cwebp -quiet -lossless grid_ccw.png -o ccw.webp
webpmux -set exif o6.exif ccw.webp -o "$out/grid_orient6.webp"
cwebp -quiet -q 90 grid96.png -o "$out/grid96_lossy.webp"

convert grid.png -depth 16 -compress lzw -define tiff:rows-per-strip=4 \
  "$out/grid_rgb16.tif"
convert grid_ccw.png -depth 8 -compress zip \
  -define tiff:tile-geometry=16x16 "$out/grid_tiled_orient6.tif"
tiffset -s 274 6 "$out/grid_tiled_orient6.tif"
convert grid.png -colorspace cmyk -depth 8 -compress none "$out/grid_cmyk.tif"
convert grid.png -type palette -depth 8 "$out/grid_palette.tif"
convert grid_alpha.png -compress lzw "$out/grid_alpha.tif"
convert grid.png -colorspace gray -depth 16 -compress zip \
  "$out/grid_grey16_maker.tif"
tiffset -s 271 "EPSON" "$out/grid_grey16_maker.tif"
tiffset -s 272 "Perfection V600" "$out/grid_grey16_maker.tif"

heif-enc -q 90 grid96.png -o "$out/grid96.heic" >/dev/null
heif-enc -A -q 90 grid96.png -o "$out/grid96.avif" >/dev/null
heif-enc -q 90 grid96_ccw.png -o ccw96.heic >/dev/null
heif-enc -A -q 90 grid96_ccw.png -o ccw96.avif >/dev/null
python3 "$tools/heif_irot.py" ccw96.heic "$out/grid96_irot.heic" 3
python3 "$tools/heif_irot.py" ccw96.avif "$out/grid96_irot.avif" 3
# With a 48 x 32 thumbnail item; and turned by irot, its thumbnail not (the
# first pixi property is the primary image's).
heif-enc -q 90 -t 48 grid96.png -o "$out/grid96_thumb48.heic" >/dev/null
heif-enc -q 90 -t 48 grid96_ccw.png -o ccw96_thumb48.heic >/dev/null
python3 "$tools/heif_irot.py" ccw96_thumb48.heic "$out/grid96_irot_thumb48.heic" 3
# heif-enc copies a JPEG's EXIF block but writes no irot for it.
convert grid96_ccw.png -quality 95 ccw96.jpg
python3 - <<'PY'
d = open('ccw96.jpg', 'rb').read()
a = b'Exif\0\0' + open('o6.exif', 'rb').read()
open('ccw96_o6.jpg', 'wb').write(d[:2] + b'\xff\xe1' + (len(a) + 2).to_bytes(2, 'big') + a + d[2:])
PY
heif-enc -q 90 ccw96_o6.jpg -o "$out/grid96_ccw_exif6.heic" >/dev/null

# The DNG: its sensor data the grid's inverse, its preview the grid, both
# 32 x 48 stored, orientation 6.
convert -size 16x16 xc:cyan xc:magenta xc:yellow +append \
  \( -size 16x16 xc:blue xc:lime xc:red +append \) -append \
  -rotate -90 +repage -depth 16 RGB:inverse_ccw.rgb
convert grid.png -scale 200% -rotate -90 +repage -quality 95 \
  -sampling-factor 1x1 preview_ccw.jpg
python3 "$tools/make_dng.py" inverse_ccw.rgb 32 48 preview_ccw.jpg 32 48 6 \
  "$out/grid48_orient6.dng"

# Mid grey 128 tagged with a linear-RGB profile (sRGB primaries): about 188
# once converted to sRGB. (The profile's header holds the time it was made,
# so these three files differ from the committed ones in those bytes.)
# ImageMagick writes the TIFF as grey with the RGB profile.
cc "$tools/linear_rgb_icc.c" -o linear_rgb_icc $(pkg-config --cflags --libs lcms2)
./linear_rgb_icc > linear_rgb.icc
convert -size 24x16 xc:'rgb(128,128,128)' PNG24:grey128.png
cwebp -quiet -lossless grey128.png -o grey128.webp
webpmux -set icc linear_rgb.icc grey128.webp -o "$out/grey128_linear_icc.webp" >/dev/null
convert grey128.png -profile linear_rgb.icc -compress lzw "$out/grey128_linear_icc.tif"
convert grey128.png -profile linear_rgb.icc PNG24:grey128_icc.png
heif-enc -q 95 grey128_icc.png -o "$out/grey128_linear_icc.heic" >/dev/null
