#!/bin/bash
# How close the thumbnails of one folder come to the ideal, ours beside
# vipsthumbnail's and Pillow's: quality only, nothing timed.
#
#   bench/peer_quality.sh VIGNETTES [CORPUS [WIDTHS]]
#
# VIGNETTES: a built vignettes (any build: nothing is timed). CORPUS: a
# folder of run_thumbnail_bench.sh (default scans, built as that script
# builds it). WIDTHS: default "100 150 450". For every width, prints the
# files compared, mean SSIM-Y and mean PSNR-Y of each maker's thumbnails
# against a floating-point Lanczos-3 resize of the full decode
# (tools/thumb_quality, compiled here). Peers: vipsthumbnail --size W,
# Pillow with draft to twice the width and LANCZOS, both at quality 90.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
VG=$(realpath "$1")
NAME=${2:-scans}
WIDTHS=${3:-100 150 450}

# shellcheck source=run_thumbnail_bench.sh
. "$HERE/run_thumbnail_bench.sh"
install_peers
use_corpus "$NAME"

OUT=$(mktemp -d /tmp/vg-quality.XXXXXX)
trap 'rm -rf "$OUT"' EXIT
g++ -std=c++20 -O2 -o "$OUT/thumb_quality" "$HERE/tools/thumb_quality.cpp" \
  -I"$HERE/tools" -ljpeg -lpng -llcms2

echo "$NAME: $NFILES files, $MPIX megapixels; SSIM-Y / PSNR-Y against Lanczos-3"
for w in $WIDTHS; do
  mkdir -p "$OUT/vignettes-$w" "$OUT/vipsthumbnail-$w" "$OUT/pillow-$w"
  "$VG" -q --origin "$CORPUS/" --dest "$OUT/vignettes-$w/" --width "$w"
  (cd "$CORPUS" && for f in *."$EXT"; do
    VIPS_CONCURRENCY=1 vipsthumbnail --size "$w" \
      -o "$OUT/vipsthumbnail-$w/%s.jpg[Q=90,strip]" "$f"
  done)
  /usr/bin/python3 - "$CORPUS" "$OUT/pillow-$w" "$w" "$EXT" <<'EOF'
import os
import sys

from PIL import Image

src, dst, w, ext = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
for f in sorted(os.listdir(src)):
    if not f.endswith("." + ext):
        continue
    im = Image.open(os.path.join(src, f))
    im.draft("RGB", (2 * w, 2 * w))
    im = im.convert("RGB")
    h = round(im.height * w / im.width)
    out = os.path.splitext(f)[0] + ".jpg"
    im.resize((w, h), Image.LANCZOS).save(os.path.join(dst, out), quality=90)
EOF
  echo "width $w"
  "$OUT/thumb_quality" "$CORPUS" "$OUT/vignettes-$w" "$OUT/vipsthumbnail-$w" \
    "$OUT/pillow-$w" | sed "s|$OUT/||"
done
