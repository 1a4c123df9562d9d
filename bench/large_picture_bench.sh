#!/bin/bash
# Very large pictures: our command line against vipsthumbnail, one core each.
#
#   bench/large_picture_bench.sh [RUNS]          (default 3 runs, median kept)
#
# Builds vignettes and bench/tools/make_large_picture in build/bench (the
# bench preset: optimised), makes from data/test_picture.jpg, one row at a
# time, a 20 000 x 10 000 JPEG panorama (baseline, quality 90) and a
# 12 000 x 12 000 RGB PNG (144 megapixels), each in a folder of its own
# under a fresh temporary folder, then for each one prints the median wall
# time and peak RSS (/usr/bin/time) of
#
#   vignettes -q --jobs 1 --origin DIR/ --dest OUT/ --width 150
#   VIPS_CONCURRENCY=1 vipsthumbnail --size 150x -o 'OUT/%s.jpg[Q=90,strip]'
#
# and the ratio of the two times. The pictures are deleted at the end.
# A command that fails stops the script with its output.
#
# Environment: VIGNETTES (a built vignettes to measure instead of building
# one), TMPDIR.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
RUNS=${1:-3}
BUILD=$ROOT/build/bench
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vg-large.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

for tool in vipsthumbnail /usr/bin/time; do
  command -v "$tool" >/dev/null || {
    echo "missing: $tool (libvips-tools, time)" >&2
    exit 1
  }
done

if [ -z "${VIGNETTES:-}" ]; then
  cmake --preset bench -B "$BUILD" >/dev/null
  cmake --build "$BUILD" --target vignettes make_large_picture -j2 >/dev/null
  VIGNETTES=$(find "$BUILD/src" -name vignettes -type f -perm -u+x | head -1)
else
  cmake --preset bench -B "$BUILD" >/dev/null
  cmake --build "$BUILD" --target make_large_picture -j2 >/dev/null
fi
MAKE=$BUILD/bench/make_large_picture

# run NAME COMMAND...: runs the command once under /usr/bin/time and
# appends "seconds kilobytes" to $WORK/NAME.times; a failure stops all.
run() {
  local name=$1
  shift
  if ! /usr/bin/time -f '%e %M' -o "$WORK/time.out" "$@" \
    >"$WORK/run.out" 2>&1; then
    echo "failed: $*" >&2
    cat "$WORK/run.out" >&2
    exit 1
  fi
  cat "$WORK/time.out" >>"$WORK/$name.times"
}

# median FILE COLUMN: the median of a column of numbers.
median() {
  sort -n -k"$2","$2" "$1" | awk -v c="$2" '{v[NR]=$c} END {print v[int((NR+1)/2)]}'
}

printf '%-34s %9s %10s %9s\n' picture program seconds 'peak MB'
for spec in "panorama.jpg 20000 10000" "large.png 12000 12000"; do
  read -r file width height <<<"$spec"
  origin=$WORK/${file%.*}
  mkdir -p "$origin"
  "$MAKE" "$ROOT/data/test_picture.jpg" "$origin/$file" "$width" "$height"
  bytes=$(stat -c %s "$origin/$file")
  for ((i = 0; i < RUNS; i++)); do
    rm -rf "$WORK/ours" "$WORK/vips"
    mkdir -p "$WORK/ours" "$WORK/vips"
    run "$file.ours" "$VIGNETTES" -q --jobs 1 --origin "$origin/" \
      --dest "$WORK/ours/" --width 150
    # The thumbnail keeps the picture's name, as every one of ours does.
    [ -s "$WORK/ours/$file" ] || {
      echo "no thumbnail from vignettes for $file" >&2
      exit 1
    }
    run "$file.vips" env VIPS_CONCURRENCY=1 vipsthumbnail --size 150x \
      -o "$WORK/vips/%s.jpg[Q=90,strip]" "$origin/$file"
  done
  label="$file ${width}x$height $((bytes >> 20)) MB"
  ours_s=$(median "$WORK/$file.ours.times" 1)
  vips_s=$(median "$WORK/$file.vips.times" 1)
  printf '%-34s %9s %10s %9s\n' "$label" vignettes "$ours_s" \
    $(($(median "$WORK/$file.ours.times" 2) / 1024))
  printf '%-34s %9s %10s %9s\n' "" vips "$vips_s" \
    $(($(median "$WORK/$file.vips.times" 2) / 1024))
  printf '%-34s %9s %10s\n' "" 'time ratio' \
    "$(awk -v a="$ours_s" -v b="$vips_s" 'BEGIN {printf "%.2f", a / b}')"
  rm -rf "$origin"
done
