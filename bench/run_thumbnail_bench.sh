#!/bin/bash
# Thumbnails of real photos, side by side with the usual thumbnailers.
#
#   bench/run_thumbnail_bench.sh [RUNS]          (default 5 runs, median kept)
#
# Builds a corpus of camera JPEGs from Debian wallpaper packages (downloaded
# with apt-get download into $CORPUS_CACHE, never committed), installs the
# peers (libvips-tools, imagemagick, python3-pil) when they are missing,
# builds vignettes and bench/tools/ (thumb_quality, window_batch) in
# build/speed-bench, then prints for every job: median wall time, its CPU
# time (user + system), peak RSS, the ratio to vipsthumbnail doing the same
# job, and mean SSIM-Y / PSNR-Y against a floating-point Lanczos-3 resize of
# the full-size decode. The window's rows (its batch run offscreen, clicked
# as a user would) give their ratio to the command line's --jobs 1 row.
#
# Environment: CORPUS_CACHE (default /tmp/vg-corpus), VIGNETTES (a built
# vignettes to measure instead of building one), JOBS (default nproc).
set -euo pipefail

RUNS=${1:-5}
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
CACHE=${CORPUS_CACHE:-/tmp/vg-corpus}
CORPUS=$CACHE/photos
WORK=$(mktemp -d /tmp/vg-bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
JOBS=${JOBS:-$(nproc)}

# --- peers -----------------------------------------------------------------
need=()
command -v vipsthumbnail >/dev/null || need+=(libvips-tools)
command -v mogrify >/dev/null || need+=(imagemagick)
command -v /usr/bin/time >/dev/null || need+=(time)
/usr/bin/python3 -c 'import PIL' 2>/dev/null || need+=(python3-pil)
if [ ${#need[@]} -gt 0 ]; then
  apt-get install -y -q "${need[@]}" >/dev/null
fi
# The real ImageMagick, whatever wrapper stands first in PATH.
MOGRIFY=/usr/bin/mogrify-im6.q16
[ -x "$MOGRIFY" ] || MOGRIFY=$(command -v mogrify)

# --- corpus ----------------------------------------------------------------
# The largest rendering of every wallpaper: real camera photos from
# 1280 x 1024 to 5640 x 3172, some of them progressive.
if [ ! -f "$CORPUS/.complete" ]; then
  mkdir -p "$CACHE/debs" "$CACHE/x" "$CORPUS"
  (cd "$CACHE/debs" &&
    apt-get download mate-backgrounds lomiri-wallpapers \
      plasma-workspace-wallpapers 2>/dev/null)
  for deb in "$CACHE"/debs/*.deb; do dpkg-deb -x "$deb" "$CACHE/x"; done
  find "$CACHE/x/usr/share/backgrounds" -iname '*.jpg' | while read -r f; do
    cp "$f" "$CORPUS/$(basename "$f")"
  done
  for d in "$CACHE"/x/usr/share/wallpapers/*/; do
    # shellcheck disable=SC2012  # ls -S: the largest rendering first
    f=$(ls -S "$d"contents/images*/*.jpg 2>/dev/null | head -1 || true)
    [ -n "$f" ] && cp "$f" "$CORPUS/$(basename "$d").jpg"
  done
  touch "$CORPUS/.complete"
fi
NFILES=$(find "$CORPUS" -maxdepth 1 -name '*.jpg' | wc -l)
MPIX=$(identify -format '%w %h\n' "$CORPUS"/*.jpg |
  awk '{s += $1 * $2} END {printf "%.0f", s / 1e6}')
NPROG=$(identify -format '%[interlace]\n' "$CORPUS"/*.jpg | grep -c JPEG || true)
MB=$(du -sm "$CORPUS" | cut -f1)

# --- our build ---------------------------------------------------------------
BUILD=$ROOT/build/speed-bench
if [ -z "${VIGNETTES:-}" ]; then
  cmake --preset bench -B "$BUILD" >/dev/null
  cmake --build "$BUILD" --target vignettes -j2 >/dev/null
  VIGNETTES=$BUILD/src/gui/vignettes
fi
cmake --preset bench -B "$BUILD" >/dev/null
cmake --build "$BUILD" --target thumb_quality window_batch -j2 >/dev/null
QUALITY=$BUILD/bench/thumb_quality
WINDOW=$BUILD/bench/window_batch

# --- measuring ---------------------------------------------------------------
# run NAME OUTDIRS CMD...: RUNS runs, output folders emptied before each one;
# records median wall seconds, the CPU seconds and peak RSS of that run.
declare -A WALL CPU RSS
run() {
  local name=$1 outs=$2
  shift 2
  local results=()
  for ((i = 0; i < RUNS; i++)); do
    for o in $outs; do rm -rf "$o" && mkdir -p "$o"; done
    sync
    /usr/bin/time -f '%e %U %S %M' -o "$WORK/time" "$@" >/dev/null 2>&1 || true
    results+=("$(cat "$WORK/time")")
  done
  local median
  median=$(printf '%s\n' "${results[@]}" | sort -n | sed -n "$(((RUNS + 1) / 2))p")
  read -r w u s m <<<"$median"
  WALL[$name]=$w
  CPU[$name]=$(printf "%.2f" "$(echo "$u + $s" | bc)")
  RSS[$name]=$((m / 1024))
}

# vipsthumbnail with the same names, one process per job slot.
vips_set() { # WIDTH OUTDIR PROCESSES
  find "$CORPUS" -maxdepth 1 -name '*.jpg' -print0 | xargs -0 -P "$3" -n 8 \
    vipsthumbnail --size "$1" -o "$2/%s.jpg[Q=90,strip]"
}
magick_set() { # WIDTH OUTDIR: mogrify with the reduced-decode hint
  "$MOGRIFY" -path "$2" -define jpeg:size=$((2 * $1))x$((2 * $1)) \
    -resize "$1"x -quality 90 "$CORPUS"/*.jpg
}
two_vips() { vips_set 100 "$1" "$3" && vips_set 450 "$2" "$3"; }
# Pillow: reduced decode to at least twice the size (draft), then Lanczos.
pillow_set() { # WIDTH OUTDIR
  /usr/bin/python3 - "$CORPUS" "$2" "$1" <<'PY'
import os, sys
from PIL import Image
src, dst, width = sys.argv[1], sys.argv[2], int(sys.argv[3])
for name in sorted(os.listdir(src)):
    if not name.endswith(".jpg"):
        continue
    im = Image.open(os.path.join(src, name))
    height = max(1, round(width * im.size[1] / im.size[0]))
    im.draft("RGB", (2 * width, 2 * height))
    im = im.convert("RGB").resize((width, height), Image.LANCZOS)
    im.save(os.path.join(dst, name), quality=90)
PY
}

S=$WORK/out
run "vignettes 150 --jobs 1" "$S/v1" "$VIGNETTES" -q --origin "$CORPUS/" --dest "$S/v1/" --width 150 -j 1
run "vignettes 150 --jobs $JOBS" "$S/vn" "$VIGNETTES" -q --origin "$CORPUS/" --dest "$S/vn/" --width 150 -j "$JOBS"
run "vipsthumbnail 150, 1 process" "$S/t1" bash -c "$(declare -f vips_set); CORPUS=$CORPUS vips_set 150 $S/t1 1"
run "vipsthumbnail 150, $JOBS processes" "$S/tn" bash -c "$(declare -f vips_set); CORPUS=$CORPUS vips_set 150 $S/tn $JOBS"
run "mogrify -resize 150 (jpeg:size)" "$S/m1" bash -c "$(declare -f magick_set); CORPUS=$CORPUS MOGRIFY=$MOGRIFY magick_set 150 $S/m1"
run "Pillow draft + Lanczos 150" "$S/p1" bash -c "$(declare -f pillow_set); CORPUS=$CORPUS pillow_set 150 $S/p1"
run "window: Générateur 150" "$S/g1" env QT_QPA_PLATFORM=offscreen "$WINDOW" "$CORPUS/" "$S/g1/" 150
run "vignettes 100+450 --jobs 1" "$S/w1 $S/w1/Grand" "$VIGNETTES" -q --origin "$CORPUS/" --dest "$S/w1/" --small 100 --large 450 -j 1
run "vignettes 100+450 --jobs $JOBS" "$S/wn $S/wn/Grand" "$VIGNETTES" -q --origin "$CORPUS/" --dest "$S/wn/" --small 100 --large 450 -j "$JOBS"
run "vipsthumbnail 100+450, 1 process" "$S/u1 $S/u1/Grand" bash -c "$(declare -f vips_set two_vips); CORPUS=$CORPUS two_vips $S/u1 $S/u1/Grand 1"
run "vipsthumbnail 100+450, $JOBS processes" "$S/un $S/un/Grand" bash -c "$(declare -f vips_set two_vips); CORPUS=$CORPUS two_vips $S/un $S/un/Grand $JOBS"
run "window: 2 tailles 100+450" "$S/g2 $S/g2/Grand" env QT_QPA_PLATFORM=offscreen "$WINDOW" "$CORPUS/" "$S/g2/" 100 450

# --- report -------------------------------------------------------------------
QF=$WORK/quality
"$QUALITY" "$CORPUS" "$S/v1" "$S/vn" "$S/t1" "$S/m1" "$S/p1" "$S/g1" "$S/w1" \
  "$S/w1/Grand" "$S/u1" "$S/u1/Grand" "$S/g2" "$S/g2/Grand" >"$QF"
q() { awk -F'\t' -v d="$1" '$1 == d {printf "%s / %s", $3, $4}' "$QF"; }

echo "Corpus: $NFILES photos, $MPIX megapixels, $MB MB, $NPROG progressive ($CORPUS)"
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Median of $RUNS runs; CPU = user + system of that run."
echo
printf '| %-34s | %8s | %8s | %9s | %8s | %8s | %-17s |\n' job "wall s" "ms/photo" "CPU s" "RSS MB" "÷ base" "SSIM-Y / PSNR-Y"
printf '|%s|%s|%s|%s|%s|%s|%s|\n' ------------------------------------ ---------- ---------- ----------- ---------- ---------- -------------------
row() { # NAME VIPS_NAME QUALITY_DIRS...
  local n=$1 base=$2
  shift 2
  local quality="" d
  for d in "$@"; do quality+="$(q "$d") "; done
  printf '| %-34s | %8s | %8.1f | %9s | %8s | %8.2f | %-17s |\n' "$n" "${WALL[$n]}" \
    "$(echo "${WALL[$n]} * 1000 / $NFILES" | bc -l)" "${CPU[$n]}" "${RSS[$n]}" \
    "$(echo "${WALL[$n]} / ${WALL[$base]}" | bc -l)" "$quality"
}
V1="vipsthumbnail 150, 1 process"
V2="vipsthumbnail 100+450, 1 process"
row "vignettes 150 --jobs 1" "$V1" "$S/v1"
row "vignettes 150 --jobs $JOBS" "$V1" "$S/vn"
row "$V1" "$V1" "$S/t1"
row "vipsthumbnail 150, $JOBS processes" "$V1"
row "mogrify -resize 150 (jpeg:size)" "$V1" "$S/m1"
row "Pillow draft + Lanczos 150" "$V1" "$S/p1"
row "window: Générateur 150" "vignettes 150 --jobs 1" "$S/g1"
row "vignettes 100+450 --jobs 1" "$V2" "$S/w1" "$S/w1/Grand"
row "vignettes 100+450 --jobs $JOBS" "$V2"
row "$V2" "$V2" "$S/u1" "$S/u1/Grand"
row "vipsthumbnail 100+450, $JOBS processes" "$V2"
row "window: 2 tailles 100+450" "vignettes 100+450 --jobs 1" "$S/g2" "$S/g2/Grand"
echo
echo "÷ base: wall time over vipsthumbnail's (one process) doing the same job;"
echo "for the window's rows, over the command line's --jobs 1 row."
echo "Load after: $(cut -d' ' -f1-3 /proc/loadavg)"
