#!/bin/bash
# How our thumbnails of Windows metafiles compare with an office suite's
# rendering of the same files: a check beside the benchmarks, nothing timed.
#
#   bench/metafile_reference.sh VIGNETTES FOLDER [WIDTH]
#
# VIGNETTES: a built vignettes (any build). FOLDER: WMF and EMF files,
# whatever they were written by. WIDTH: default 256. Every file is drawn by
# LibreOffice Draw (soffice --headless --convert-to png at that width) and
# by us (vignettes --width), both put on white, and compared in luma.
# LibreOffice draws the picture at its logical size in the middle of an A4
# page: that part of the page, the size read from the file's header as we
# read it (a placeable WMF's box, an EMF's frame, a plain WMF's first
# window extent), is cut out and brought to our size. A plain WMF states
# no size of its own, and LibreOffice fits it to the page: such files are
# not compared fairly. Prints, per file, the mean absolute
# difference (0-255) and the share of pixels more than 64 apart, DISAGREE
# when that share passes 5 %, or the side that made nothing; then the
# counts. Installs libreoffice-draw-nogui and python3-pil when missing.
set -euo pipefail

VG=$(realpath "$1")
DIR=$(realpath "$2")
WIDTH=${3:-256}

if ! command -v soffice >/dev/null || ! /usr/bin/python3 -c 'import PIL'; then
  apt-get update
  apt-get install -y --no-install-recommends libreoffice-draw-nogui \
    python3-pil
fi

OUT=$(mktemp -d /tmp/vg-metafiles.XXXXXX)
trap 'rm -rf "$OUT"' EXIT
mkdir -p "$OUT/in" "$OUT/ours" "$OUT/office" "$OUT/profile"
find "$DIR" -maxdepth 1 -type f \( -iname '*.wmf' -o -iname '*.emf' \) \
  -exec cp -t "$OUT/in" {} +

# Ours: one run over the folder; a file we refuse is reported below.
"$VG" -q --origin "$OUT/in/" --dest "$OUT/ours/" --width "$WIDTH" || true
# The office suite's, with a profile of this run's own.
export_filter="png:draw_png_Export:{\"PixelWidth\":{\"type\":\"long\",\"value\":\"$WIDTH\"}}"
soffice -env:UserInstallation="file://$OUT/profile" --headless \
  --convert-to "$export_filter" --outdir "$OUT/office" "$OUT"/in/* \
  >"$OUT/soffice.log" 2>&1 || true

/usr/bin/python3 - "$OUT" <<'EOF'
import os
import sys

import struct

from PIL import Image

out = sys.argv[1]


def logical_size(path):
    """The picture's size in pixels at 96 dots per inch, or None."""
    data = open(path, "rb").read()
    if len(data) >= 88 and struct.unpack_from("<I", data, 0)[0] == 1:
        left, top, right, bottom = struct.unpack_from("<4i", data, 24)
        return (right - left) * 96 / 2540, (bottom - top) * 96 / 2540
    if len(data) >= 22 and struct.unpack_from("<I", data, 0)[0] == 0x9AC6CDD7:
        left, top, right, bottom, per_inch = struct.unpack_from("<4hH", data, 6)
        return (abs(right - left) * 96 / per_inch,
                abs(bottom - top) * 96 / per_inch)
    at = 18
    while at + 6 <= len(data):
        size, function = struct.unpack_from("<IH", data, at)
        if function == 0x020C and at + 10 <= len(data):
            cy, cx = struct.unpack_from("<hh", data, at + 6)
            return abs(cx), abs(cy)
        if size < 3:
            break
        at += size * 2
    return None


def luma_on_white(path):
    image = Image.open(path).convert("RGBA")
    white = Image.new("RGBA", image.size, (255, 255, 255, 255))
    return Image.alpha_composite(white, image).convert("L")


counts = {"agree": 0, "disagree": 0, "office only": 0, "ours only": 0,
          "neither": 0}
for name in sorted(os.listdir(os.path.join(out, "in"))):
    ours_path = os.path.join(out, "ours", name)
    office_path = os.path.join(out, "office", os.path.splitext(name)[0] + ".png")
    have_ours = os.path.exists(ours_path)
    have_office = os.path.exists(office_path)
    if not have_ours or not have_office:
        verdict = ("neither" if not have_ours and not have_office else
                   "office only" if have_office else "ours only")
        counts[verdict] += 1
        print(f"{name}: {verdict.upper()} drawn")
        continue
    ours = luma_on_white(ours_path)
    office = luma_on_white(office_path)
    size = logical_size(os.path.join(out, "in", name))
    if size:
        # The page at 96 dots per inch, the picture in its middle.
        page_w, page_h = office.size
        left = (page_w - size[0]) / 2
        top = (page_h - size[1]) / 2
        office = office.crop((round(left), round(top),
                              round(left + size[0]), round(top + size[1])))
    office = office.resize(ours.size, Image.LANCZOS)
    a = ours.tobytes()
    b = office.tobytes()
    diffs = [abs(x - y) for x, y in zip(a, b)]
    mean = sum(diffs) / len(diffs)
    apart = sum(1 for d in diffs if d > 64) / len(diffs)
    verdict = "disagree" if apart > 0.05 else "agree"
    counts[verdict] += 1
    flag = "  DISAGREE" if verdict == "disagree" else ""
    print(f"{name}: mean difference {mean:.1f}, {100 * apart:.1f} % apart"
          f" ({ours.size[0]} x {ours.size[1]}){flag}")
print(", ".join(f"{n} {k}" for k, n in counts.items()))
EOF
