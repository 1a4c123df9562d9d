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
# job on as many cores, and mean SSIM-Y / PSNR-Y against a floating-point
# Lanczos-3 resize of the full-size decode.
#
# Equal cores: every job runs on one core or on JOBS cores, and each ratio
# divides by a job on as many. One core: vignettes --jobs 1, vipsthumbnail
# as one process with VIPS_CONCURRENCY=1, ImageMagick with
# MAGICK_THREAD_LIMIT=1, Pillow, the window's batch (on the window's thread;
# its rows divide by the command line's --jobs 1 row). JOBS cores:
# vignettes --jobs JOBS against JOBS vipsthumbnail processes at a time, each
# with VIPS_CONCURRENCY=1.
#
# A command that fails stops the script with its name and output: a failed
# run is never timed as a result.
#
# Environment: CORPUS_CACHE (default /tmp/vg-corpus), VIGNETTES (a built
# vignettes to measure instead of building one), JOBS (default nproc).
# Sourced (`. run_thumbnail_bench.sh`), it defines its functions and runs
# nothing.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
CACHE=${CORPUS_CACHE:-/tmp/vg-corpus}
CORPUS=$CACHE/photos
JOBS=${JOBS:-$(nproc)}
RUNS=5
WORK=""

# --- peers -----------------------------------------------------------------
install_peers() {
  local need=()
  command -v vipsthumbnail >/dev/null || need+=(libvips-tools)
  command -v mogrify >/dev/null || need+=(imagemagick)
  command -v /usr/bin/time >/dev/null || need+=(time)
  command -v bc >/dev/null || need+=(bc)
  /usr/bin/python3 -c 'import PIL' 2>/dev/null || need+=(python3-pil)
  if [ ${#need[@]} -gt 0 ]; then
    apt-get install -y -q "${need[@]}" >/dev/null
  fi
  # The real ImageMagick, whatever wrapper stands first in PATH.
  MOGRIFY=/usr/bin/mogrify-im6.q16
  [ -x "$MOGRIFY" ] || MOGRIFY=$(command -v mogrify)
}

# --- corpus ----------------------------------------------------------------
# The largest rendering of every wallpaper: real camera photos from
# 1280 x 1024 to 5640 x 3172, some of them progressive.
make_corpus() {
  if [ ! -f "$CORPUS/.complete" ]; then
    mkdir -p "$CACHE/debs" "$CACHE/x" "$CORPUS"
    (cd "$CACHE/debs" &&
      apt-get download mate-backgrounds lomiri-wallpapers \
        plasma-workspace-wallpapers 2>/dev/null)
    local deb f d images
    for deb in "$CACHE"/debs/*.deb; do dpkg-deb -x "$deb" "$CACHE/x"; done
    find "$CACHE/x/usr/share/backgrounds" -iname '*.jpg' | while read -r f; do
      cp "$f" "$CORPUS/$(basename "$f")"
    done
    for d in "$CACHE"/x/usr/share/wallpapers/*/; do
      images=("$d"contents/images*/*.jpg)
      [ -e "${images[0]}" ] || continue
      # shellcheck disable=SC2012  # ls -S: the largest rendering first
      f=$(ls -S "${images[@]}" | sed -n 1p)
      cp "$f" "$CORPUS/$(basename "$d").jpg"
    done
    touch "$CORPUS/.complete"
  fi
  NFILES=$(find "$CORPUS" -maxdepth 1 -name '*.jpg' | wc -l)
  MPIX=$(identify -format '%w %h\n' "$CORPUS"/*.jpg |
    awk '{s += $1 * $2} END {printf "%.0f", s / 1e6}')
  NPROG=$(identify -format '%[interlace]\n' "$CORPUS"/*.jpg |
    awk '/JPEG/ {n++} END {print n + 0}')
  MB=$(du -sm "$CORPUS" | cut -f1)
}

# --- our build ---------------------------------------------------------------
build_ours() {
  local build=$ROOT/build/speed-bench
  cmake --preset bench -B "$build" >/dev/null
  if [ -z "${VIGNETTES:-}" ]; then
    cmake --build "$build" --target vignettes -j2 >/dev/null
    VIGNETTES=$build/src/gui/vignettes
  fi
  cmake --build "$build" --target thumb_quality window_batch -j2 >/dev/null
  QUALITY=$build/bench/thumb_quality
  WINDOW=$build/bench/window_batch
}

# --- measuring ---------------------------------------------------------------
# run NAME OUTDIRS CMD...: RUNS runs, output folders emptied before each one;
# records median wall seconds, the CPU seconds and peak RSS of that run. A
# run that fails ends the script.
declare -A WALL CPU RSS
run() {
  local name=$1 outs=$2
  shift 2
  local results=() i o
  for ((i = 0; i < RUNS; i++)); do
    for o in $outs; do rm -rf "$o" && mkdir -p "$o"; done
    sync
    if ! /usr/bin/time -f '%e %U %S %M' -o "$WORK/time" "$@" \
      >"$WORK/output" 2>&1; then
      echo "run_thumbnail_bench: \"$name\" failed; its output:" >&2
      cat "$WORK/output" >&2
      exit 1
    fi
    results+=("$(cat "$WORK/time")")
  done
  local median w u s m
  median=$(printf '%s\n' "${results[@]}" | sort -n | sed -n "$(((RUNS + 1) / 2))p")
  read -r w u s m <<<"$median"
  WALL[$name]=$w
  CPU[$name]=$(printf "%.2f" "$(echo "$u + $s" | bc)")
  RSS[$name]=$((m / 1024))
}

# vipsthumbnail with the same names: PROCESSES at a time, one thread each.
vips_set() { # WIDTH OUTDIR PROCESSES
  find "$CORPUS" -maxdepth 1 -name '*.jpg' -print0 |
    VIPS_CONCURRENCY=1 xargs -0 -P "$3" -n 8 \
      vipsthumbnail --size "$1" -o "$2/%s.jpg[Q=90,strip]"
}
two_vips() { vips_set 100 "$1" "$3" && vips_set 450 "$2" "$3"; }
# mogrify on one thread: with the reduced-decode hint, or from a full decode
# with its Lanczos filter (closer to the ideal than its default there).
magick_set() { # WIDTH OUTDIR [full]
  local how=(-define "jpeg:size=$((2 * $1))x$((2 * $1))")
  [ "${3:-}" = full ] && how=(-filter Lanczos)
  MAGICK_THREAD_LIMIT=1 "$MOGRIFY" -path "$2" "${how[@]}" \
    -resize "$1"x -quality 90 "$CORPUS"/*.jpg
}
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
# A shell function as a command of its own, for run.
as_command() { # FUNCTIONS... -- ARGS...
  local defs=""
  while [ "$1" != -- ]; do defs+="$(declare -f "$1"); "; shift; done
  shift
  printf '%s' "$defs"
  printf ' %q' "$@"
}

measure() {
  S=$WORK/out
  local env=(CORPUS="$CORPUS" MOGRIFY="${MOGRIFY:-}")
  local V=$VIGNETTES W=$WINDOW
  run "vignettes 150 --jobs 1" "$S/v1" "$V" -q --origin "$CORPUS/" --dest "$S/v1/" --width 150 -j 1
  run "vignettes 150 --jobs $JOBS" "$S/vn" "$V" -q --origin "$CORPUS/" --dest "$S/vn/" --width 150 -j "$JOBS"
  run "vipsthumbnail 150, 1 process" "$S/t1" env "${env[@]}" bash -c "$(as_command vips_set -- vips_set 150 "$S/t1" 1)"
  run "vipsthumbnail 150, $JOBS processes" "$S/tn" env "${env[@]}" bash -c "$(as_command vips_set -- vips_set 150 "$S/tn" "$JOBS")"
  run "mogrify -resize 150 (jpeg:size)" "$S/m1" env "${env[@]}" bash -c "$(as_command magick_set -- magick_set 150 "$S/m1")"
  run "mogrify Lanczos 150 (full decode)" "$S/mf" env "${env[@]}" bash -c "$(as_command magick_set -- magick_set 150 "$S/mf" full)"
  run "Pillow draft + Lanczos 150" "$S/p1" env "${env[@]}" bash -c "$(as_command pillow_set -- pillow_set 150 "$S/p1")"
  run "window: Générateur 150" "$S/g1" env QT_QPA_PLATFORM=offscreen "$W" "$CORPUS/" "$S/g1/" 150
  run "vignettes 100+450 --jobs 1" "$S/w1 $S/w1/Grand" "$V" -q --origin "$CORPUS/" --dest "$S/w1/" --small 100 --large 450 -j 1
  run "vignettes 100+450 --jobs $JOBS" "$S/wn $S/wn/Grand" "$V" -q --origin "$CORPUS/" --dest "$S/wn/" --small 100 --large 450 -j "$JOBS"
  run "vipsthumbnail 100+450, 1 process" "$S/u1 $S/u1/Grand" env "${env[@]}" bash -c "$(as_command vips_set two_vips -- two_vips "$S/u1" "$S/u1/Grand" 1)"
  run "vipsthumbnail 100+450, $JOBS processes" "$S/un $S/un/Grand" env "${env[@]}" bash -c "$(as_command vips_set two_vips -- two_vips "$S/un" "$S/un/Grand" "$JOBS")"
  run "window: 2 tailles 100+450" "$S/g2 $S/g2/Grand" env QT_QPA_PLATFORM=offscreen "$W" "$CORPUS/" "$S/g2/" 100 450
}

# --- report -------------------------------------------------------------------
report() {
  local qf=$WORK/quality
  "$QUALITY" "$CORPUS" "$S/v1" "$S/vn" "$S/t1" "$S/m1" "$S/mf" "$S/p1" \
    "$S/g1" "$S/w1" "$S/w1/Grand" "$S/u1" "$S/u1/Grand" "$S/g2" \
    "$S/g2/Grand" >"$qf"
  q() { awk -F'\t' -v d="$1" '$1 == d {printf "%s / %s", $3, $4}' "$qf"; }

  echo "Corpus: $NFILES photos, $MPIX megapixels, $MB MB, $NPROG progressive ($CORPUS)"
  echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load before: $LOAD_BEFORE"
  echo "Median of $RUNS runs; CPU = user + system of that run; $JOBS cores for the all-core rows."
  echo
  printf '| %-34s | %8s | %8s | %9s | %8s | %8s | %-17s |\n' job "wall s" "ms/photo" "CPU s" "RSS MB" "÷ base" "SSIM-Y / PSNR-Y"
  printf '|%s|%s|%s|%s|%s|%s|%s|\n' ------------------------------------ ---------- ---------- ----------- ---------- ---------- -------------------
  row() { # NAME BASE_NAME QUALITY_DIRS...
    local n=$1 base=$2
    shift 2
    local quality="" d
    for d in "$@"; do quality+="$(q "$d") "; done
    printf '| %-34s | %8s | %8.1f | %9s | %8s | %8.2f | %-17s |\n' "$n" "${WALL[$n]}" \
      "$(echo "${WALL[$n]} * 1000 / $NFILES" | bc -l)" "${CPU[$n]}" "${RSS[$n]}" \
      "$(echo "${WALL[$n]} / ${WALL[$base]}" | bc -l)" "$quality"
  }
  local v1="vipsthumbnail 150, 1 process" vn="vipsthumbnail 150, $JOBS processes"
  local u1="vipsthumbnail 100+450, 1 process" un="vipsthumbnail 100+450, $JOBS processes"
  row "vignettes 150 --jobs 1" "$v1" "$S/v1"
  row "vignettes 150 --jobs $JOBS" "$vn" "$S/vn"
  row "$v1" "$v1" "$S/t1"
  row "$vn" "$vn"
  row "mogrify -resize 150 (jpeg:size)" "$v1" "$S/m1"
  row "mogrify Lanczos 150 (full decode)" "$v1" "$S/mf"
  row "Pillow draft + Lanczos 150" "$v1" "$S/p1"
  row "window: Générateur 150" "vignettes 150 --jobs 1" "$S/g1"
  row "vignettes 100+450 --jobs 1" "$u1" "$S/w1" "$S/w1/Grand"
  row "vignettes 100+450 --jobs $JOBS" "$un"
  row "$u1" "$u1" "$S/u1" "$S/u1/Grand"
  row "$un" "$un"
  row "window: 2 tailles 100+450" "vignettes 100+450 --jobs 1" "$S/g2" "$S/g2/Grand"
  echo
  echo "÷ base: wall time over vipsthumbnail's doing the same job on as many"
  echo "cores (one process, or $JOBS at a time, each with VIPS_CONCURRENCY=1);"
  echo "for the window's rows, over the command line's --jobs 1 row."
  echo "Load after: $(cut -d' ' -f1-3 /proc/loadavg)"
}

main() {
  RUNS=${1:-5}
  WORK=$(mktemp -d /tmp/vg-bench.XXXXXX)
  trap 'rm -rf "$WORK"' EXIT
  install_peers
  make_corpus
  build_ours
  LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
  measure
  report
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  main "$@"
fi
