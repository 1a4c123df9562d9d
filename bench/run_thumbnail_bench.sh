#!/bin/bash
# Thumbnails of real photos, side by side with the usual thumbnailers.
#
#   bench/run_thumbnail_bench.sh [RUNS]          (default 5 runs, median kept)
#
# Builds four folders of pictures from Debian packages (downloaded with
# apt-get download into $CORPUS_CACHE, never committed; see "corpora"
# below), installs the peers (libvips-tools, imagemagick, python3-pil) when
# they are missing, builds vignettes and bench/tools/ (thumb_quality,
# window_batch) in build/speed-bench, then prints a table per folder: for
# every job its cores, median wall time, its CPU time (user + system), peak
# RSS, its wall time over that of the job it names on as many cores (÷ base),
# and mean SSIM-Y / PSNR-Y against a floating-point Lanczos-3 resize of the
# full-size decode.
#
# Jobs: 150 wide, 450 wide, and the two sizes 100 + 450 (the small folder:
# 150 only), each on one core and on JOBS cores, for vignettes and for
# vipsthumbnail. One core: vignettes --jobs 1, vipsthumbnail as one process
# with VIPS_CONCURRENCY=1. JOBS cores: vignettes --jobs JOBS against JOBS
# vipsthumbnail processes at a time, each with VIPS_CONCURRENCY=1. On the
# wallpapers only, on one core: ImageMagick (MAGICK_THREAD_LIMIT=1) and
# Pillow beside vipsthumbnail, and the window's batch (on the window's
# thread) beside the command line's --jobs 1.
#
# A command that fails stops the script with its name and output: a failed
# run is never timed as a result.
#
# Environment: CORPUS_CACHE (default /tmp/vg-corpus), CORPORA (default
# "wallpapers cameras small scans"; "png" is the folder of large PNGs),
# BENCH_BUILD (the build folder, default build/speed-bench), VIGNETTES and
# WINDOW_BATCH (a built vignettes and window_batch to measure instead of
# the build's), JOBS (default nproc).
# Sourced (`. run_thumbnail_bench.sh`), it defines its functions and runs
# nothing.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
CACHE=${CORPUS_CACHE:-/tmp/vg-corpus}
CORPUS=$CACHE/photos
JOBS=${JOBS:-$(nproc)}
BENCH_TOOLS=$HERE/tools
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

# --- corpora -----------------------------------------------------------------
# Four folders of pictures, built once in $CACHE from Debian packages
# (apt-get download, never committed):
#   wallpapers  the largest rendering of every wallpaper of mate-backgrounds,
#               lomiri-wallpapers and plasma-workspace-wallpapers: camera
#               photos from 1280 x 1024 to 5640 x 3172, a few progressive
#   cameras     every photo of ukui-wallpapers and lomiri-wallpapers-16.04 /
#               -20.04: camera photos from 1.4 to 24 MP, more than half
#               progressive, 4:2:0, 4:2:2 and 4:4:4
#   small       2 378 photos of 640 x 480 (0.3 MP), cut from the two above:
#               each photo reduced to 2560 x 1920 and to 3200 x 2400 and cut
#               into tiles
#   png         every background PNG of 1 MP or more of mate-backgrounds,
#               lomiri-wallpapers and ukui-wallpapers, and the largest PNG
#               rendering of every wallpaper of plasma-workspace-wallpapers:
#               RGB, RGBA and one grey + alpha, 1.3 to 14.7 MP; with a
#               256-colour palette copy and a grey copy of each of
#               mate-backgrounds' made by ImageMagick
# use_corpus NAME sets CORPUS, its extension EXT and its figures (NFILES,
# MPIX, NPROG, MB).
corpus_from_debs() { # DIR PACKAGES...
  local dir=$1
  shift
  mkdir -p "$dir/debs" "$dir/x" "$dir/photos"
  (cd "$dir/debs" && apt-get download "$@" 2>/dev/null)
  local deb
  for deb in "$dir"/debs/*.deb; do dpkg-deb -x "$deb" "$dir/x"; done
}
make_wallpapers() {
  local dir=$CACHE f d images
  corpus_from_debs "$dir" mate-backgrounds lomiri-wallpapers \
    plasma-workspace-wallpapers
  find "$dir/x/usr/share/backgrounds" -iname '*.jpg' | while read -r f; do
    cp "$f" "$dir/photos/$(basename "$f")"
  done
  for d in "$dir"/x/usr/share/wallpapers/*/; do
    images=("$d"contents/images*/*.jpg)
    [ -e "${images[0]}" ] || continue
    # shellcheck disable=SC2012  # ls -S: the largest rendering first
    f=$(ls -S "${images[@]}" | sed -n 1p)
    cp "$f" "$dir/photos/$(basename "$d").jpg"
  done
}
make_cameras() {
  local dir=$CACHE/cameras f
  corpus_from_debs "$dir" ukui-wallpapers lomiri-wallpapers-16.04 \
    lomiri-wallpapers-20.04
  find "$dir/x" -iname '*.jp*g' | while read -r f; do
    cp "$f" "$dir/photos/$(basename "${f%.*}").jpg"
  done
}
make_small() {
  local dir=$CACHE/small f name size
  mkdir -p "$dir/photos" "$dir/mid"
  for f in "$CACHE"/photos/*.jpg "$CACHE"/cameras/photos/*.jpg; do
    name=$(basename "${f%.jpg}")
    for size in 2560x1920 3200x2400; do
      convert "$f" -resize "$size^" -gravity center -extent "$size" \
        -quality 92 "$dir/mid/$name.jpg"
      convert "$dir/mid/$name.jpg" -crop 640x480 +repage -quality 85 \
        "$dir/photos/$name-$size-%02d.jpg"
    done
  done
  rm -rf "$dir/mid"
}
# Line art at the sizes drawings are published at (794 x 1123, 744 x 1052,
# 1123 x 794 ...: no side a multiple of 8, so that a reduced decode ends in
# partial pixels): every fourth of the clip-art drawings of openclipart-png
# over 0.4 MP with such a side, laid on white, as JPEG of quality 90, every
# other one progressive.
make_scans() {
  local dir=$CACHE/scans f n=0 interlace
  corpus_from_debs "$dir" openclipart-png
  # identify exits non-zero for the few files it cannot read (xargs: 123);
  # the others' sizes are what counts.
  find "$dir/x/usr/share/openclipart/png" -name '*.png' -size +60k -print0 |
    sort -z | { xargs -0 identify -format '%w %h %i\n' 2>/dev/null || true; } |
    awk '$1 * $2 > 400000 && ($1 % 8 || $2 % 8) {print $3}' |
    awk 'NR % 4 == 1' | while read -r f; do
    n=$((n + 1))
    interlace=None
    [ $((n % 2)) -eq 0 ] || interlace=Plane
    convert "$f" -background white -flatten -interlace "$interlace" \
      -quality 90 "$dir/photos/$(basename "${f%.png}").jpg"
  done
}
make_png() {
  local dir=$CACHE/png f d name images
  corpus_from_debs "$dir" mate-backgrounds lomiri-wallpapers \
    plasma-workspace-wallpapers ukui-wallpapers
  find "$dir/x" -path '*/backgrounds/*.png' | sort | while read -r f; do
    [ "$(identify -format '%[fx:w * h >= 1000000]' "$f")" = 1 ] || continue
    name=$(basename "${f%.png}")
    cp "$f" "$dir/photos/$name.png"
    case $f in
      */backgrounds/mate/*)
        convert "$f" -alpha off -colors 256 "PNG8:$dir/photos/$name-palette.png"
        convert "$f" -alpha off -colorspace Gray "$dir/photos/$name-grey.png" ;;
    esac
  done
  for d in "$dir"/x/usr/share/wallpapers/*/contents/images*/; do
    images=("$d"*.png)
    [ -e "${images[0]}" ] || continue
    name=$(basename "$(dirname "$(dirname "$d")")")
    case $d in */images_dark/) name+=-dark ;; esac
    # shellcheck disable=SC2012  # ls -S: the largest rendering first
    cp "$(ls -S "${images[@]}" | sed -n 1p)" "$dir/photos/$name.png"
  done
}
use_corpus() { # wallpapers | cameras | small | scans | png
  case $1 in
    wallpapers) CORPUS=$CACHE/photos ;;
    *) CORPUS=$CACHE/$1/photos ;;
  esac
  EXT=jpg
  [ "$1" = png ] && EXT=png
  if [ ! -f "$CORPUS/.complete" ]; then
    case $1 in
      wallpapers) make_wallpapers ;;
      cameras) make_cameras ;;
      scans) make_scans ;;
      small) use_corpus wallpapers && use_corpus cameras && make_small &&
        CORPUS=$CACHE/small/photos ;;
      png) make_png ;;
    esac
    touch "$CORPUS/.complete"
  fi
  NFILES=$(find "$CORPUS" -maxdepth 1 -name "*.$EXT" | wc -l)
  MPIX=$(find "$CORPUS" -maxdepth 1 -name "*.$EXT" -print0 |
    xargs -0 identify -format '%w %h\n' |
    awk '{s += $1 * $2} END {printf "%.0f", s / 1e6}')
  NPROG=$(find "$CORPUS" -maxdepth 1 -name "*.$EXT" -print0 |
    xargs -0 identify -format '%[interlace]\n' |
    awk '/JPEG|PNG/ {n++} END {print n + 0}')
  MB=$(du -sm "$CORPUS" | cut -f1)
}
# The benchmark's first corpus, for the scripts that source this one.
make_corpus() { use_corpus wallpapers; }

# --- our build ---------------------------------------------------------------
build_ours() {
  local build=${BENCH_BUILD:-$ROOT/build/speed-bench}
  cmake --preset bench -B "$build" >/dev/null
  if [ -z "${VIGNETTES:-}" ]; then
    cmake --build "$build" --target vignettes -j2 >/dev/null
    VIGNETTES=$build/src/gui/vignettes
  fi
  cmake --build "$build" --target thumb_quality window_batch -j2 >/dev/null
  QUALITY=$build/bench/thumb_quality
  WINDOW=${WINDOW_BATCH:-$build/bench/window_batch}
}

# --- measuring ---------------------------------------------------------------
# run NAME OUTDIRS CMD...: RUNS runs, output folders emptied before each one;
# records median wall seconds, the CPU seconds and peak RSS of that run, and
# the peak memory of the command and every process it started together
# (PSS, sampled every 20 ms by tools/tree_peak.py: decoder processes
# included). A run that fails ends the script.
declare -A WALL CPU RSS TREE
run() {
  local name=$1 outs=$2
  shift 2
  local results=() i o pid sampler
  for ((i = 0; i < RUNS; i++)); do
    for o in $outs; do rm -rf "$o" && mkdir -p "$o"; done
    sync
    /usr/bin/time -f '%e %U %S %M' -o "$WORK/time" "$@" >"$WORK/output" 2>&1 &
    pid=$!
    python3 "$BENCH_TOOLS/tree_peak.py" "$pid" >"$WORK/tree" &
    sampler=$!
    if ! wait "$pid"; then
      echo "run_thumbnail_bench: \"$name\" failed; its output:" >&2
      cat "$WORK/output" >&2
      exit 1
    fi
    wait "$sampler"
    results+=("$(cat "$WORK/time") $(cat "$WORK/tree")")
  done
  local median w u s m t
  median=$(printf '%s\n' "${results[@]}" | sort -n | sed -n "$(((RUNS + 1) / 2))p")
  read -r w u s m t <<<"$median"
  WALL[$name]=$w
  CPU[$name]=$(printf "%.2f" "$(echo "$u + $s" | bc)")
  RSS[$name]=$((m / 1024))
  TREE[$name]=$t
}

# vipsthumbnail with the same names: PROCESSES at a time, one thread each,
# each process given a quarter of its share of the folder (8 photos at
# least), so that starting processes costs little even on small files.
vips_set() { # WIDTH OUTDIR PROCESSES
  local n=$(((${NFILES:-0} + 4 * $3 - 1) / (4 * $3)))
  [ "$n" -ge 8 ] || n=8
  find "$CORPUS" -maxdepth 1 -name "*.${EXT:-jpg}" -print0 |
    VIPS_CONCURRENCY=1 xargs -0 -P "$3" -n "$n" \
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

# measure_corpus NAME: the jobs of one corpus, each row keyed "NAME:job".
# Every job runs on one core and on JOBS cores, beside vipsthumbnail on as
# many; the wallpapers also get the other peers and the window.
measure_corpus() {
  local c=$1
  S=$WORK/out/$c
  local env=(CORPUS="$CORPUS" EXT="$EXT" MOGRIFY="${MOGRIFY:-}")
  local V=$VIGNETTES W=$WINDOW o="-q --origin $CORPUS/"
  local widths=(150 450 two)
  [ "$c" = small ] && widths=(150)
  local w cores p tag
  for w in "${widths[@]}"; do
    for cores in 1 "$JOBS"; do
      tag=$w-$cores
      if [ "$w" = two ]; then
        # shellcheck disable=SC2086  # $o: its words
        run "$c:vignettes 100+450|$cores" "$S/v$tag $S/v$tag/Grand" "$V" $o --dest "$S/v$tag/" --small 100 --large 450 -j "$cores"
        run "$c:vipsthumbnail 100+450|$cores" "$S/t$tag $S/t$tag/Grand" env "${env[@]}" bash -c "$(as_command vips_set two_vips -- two_vips "$S/t$tag" "$S/t$tag/Grand" "$cores")"
      else
        # shellcheck disable=SC2086
        run "$c:vignettes $w|$cores" "$S/v$tag" "$V" $o --dest "$S/v$tag/" --width "$w" -j "$cores"
        run "$c:vipsthumbnail $w|$cores" "$S/t$tag" env "${env[@]}" bash -c "$(as_command vips_set -- vips_set "$w" "$S/t$tag" "$cores")"
      fi
    done
  done
  [ "$c" = wallpapers ] || return 0
  run "$c:mogrify -resize 150 (jpeg:size)|1" "$S/m1" env "${env[@]}" bash -c "$(as_command magick_set -- magick_set 150 "$S/m1")"
  run "$c:mogrify Lanczos 150 (full decode)|1" "$S/mf" env "${env[@]}" bash -c "$(as_command magick_set -- magick_set 150 "$S/mf" full)"
  run "$c:Pillow draft + Lanczos 150|1" "$S/p1" env "${env[@]}" bash -c "$(as_command pillow_set -- pillow_set 150 "$S/p1")"
  run "$c:window: Générateur 150|1" "$S/g1" env QT_QPA_PLATFORM=offscreen "$W" "$CORPUS/" "$S/g1/" 150
  run "$c:window: 2 tailles 100+450|1" "$S/g2 $S/g2/Grand" env QT_QPA_PLATFORM=offscreen "$W" "$CORPUS/" "$S/g2/" 100 450
}

# --- report -------------------------------------------------------------------
# pad WIDTH TEXT: TEXT and the spaces that make it WIDTH columns wide on a
# terminal, whatever its characters and the locale: printf's %-Ns counts
# bytes, and "é" or "÷" is two of them in UTF-8.
pad() {
  local columns
  columns=$(printf '%s' "$2" | LC_ALL=C.UTF-8 wc -L)
  printf '%s%*s' "$2" $(($1 > columns ? $1 - columns : 0)) ""
}

# report_corpus NAME: its table. "÷ base" divides a row's wall time by the
# row it names on the same number of cores, and nothing else is divided.
report_corpus() {
  local c=$1 qf=$WORK/quality-$1
  local dirs=() d
  for d in "$S"/*/ "$S"/*/Grand/; do [ -d "$d" ] && dirs+=("${d%/}"); done
  "$QUALITY" "$CORPUS" "${dirs[@]}" >"$qf"
  q() { awk -F'\t' -v d="$1" '$1 == d {printf "%s / %s", $3, $4}' "$qf"; }

  echo "### $c: $NFILES photos, $MPIX megapixels, $MB MB, $NPROG progressive"
  echo
  printf '| %s | %5s | %8s | %8s | %8s | %6s | %s | %s |\n' "$(pad 36 job)" \
    cores "wall s" "ms/photo" "CPU s" "RSS MB" "$(pad 27 "÷ base")" \
    "$(pad 17 "SSIM-Y / PSNR-Y")"
  printf '|%s|%s|%s|%s|%s|%s|%s|%s|\n' -------------------------------------- ------- ---------- ---------- ---------- -------- ----------------------------- -------------------
  row() { # JOB CORES BASE_JOB QUALITY_DIRS...
    local job=$1 cores=$2 base_job=$3
    local n="$c:$job|$cores" base="$c:$base_job|$cores"
    shift 3
    [ -n "${WALL[$n]:-}" ] || return 0
    local quality="" d
    for d in "$@"; do quality+="$(q "$d") "; done
    printf '| %s | %5s | %8s | %8.1f | %8s | %6s | %5.2f %s | %s |\n' \
      "$(pad 36 "$job")" "$cores" "${WALL[$n]}" \
      "$(echo "${WALL[$n]} * 1000 / $NFILES" | bc -l)" "${CPU[$n]}" "${RSS[$n]}" \
      "$(echo "${WALL[$n]} / ${WALL[$base]}" | bc -l)" "$(pad 21 "$base_job")" \
      "$(pad 17 "$quality")"
  }
  local w cores tag
  for w in 150 450 two; do
    for cores in 1 "$JOBS"; do
      tag=$w-$cores
      if [ "$w" = two ]; then
        row "vignettes 100+450" "$cores" "vipsthumbnail 100+450" "$S/v$tag" "$S/v$tag/Grand"
        row "vipsthumbnail 100+450" "$cores" "vipsthumbnail 100+450" "$S/t$tag" "$S/t$tag/Grand"
      else
        row "vignettes $w" "$cores" "vipsthumbnail $w" "$S/v$tag"
        row "vipsthumbnail $w" "$cores" "vipsthumbnail $w" "$S/t$tag"
      fi
    done
  done
  row "mogrify -resize 150 (jpeg:size)" 1 "vipsthumbnail 150" "$S/m1"
  row "mogrify Lanczos 150 (full decode)" 1 "vipsthumbnail 150" "$S/mf"
  row "Pillow draft + Lanczos 150" 1 "vipsthumbnail 150" "$S/p1"
  row "window: Générateur 150" 1 "vignettes 150" "$S/g1"
  row "window: 2 tailles 100+450" 1 "vignettes 100+450" "$S/g2" "$S/g2/Grand"
  echo
}

main() {
  RUNS=${1:-5}
  local corpora=(${CORPORA:-wallpapers cameras small scans})
  WORK=$(mktemp -d /tmp/vg-bench.XXXXXX)
  trap 'rm -rf "$WORK"' EXIT
  install_peers
  build_ours
  local c
  for c in "${corpora[@]}"; do use_corpus "$c"; done
  echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "Median of $RUNS runs; CPU = user + system of that run; cores: 1, or $JOBS"
  echo "(vignettes --jobs N; N vipsthumbnail processes at a time, one thread each)."
  echo
  for c in "${corpora[@]}"; do
    use_corpus "$c"
    measure_corpus "$c"
    report_corpus "$c"
  done
  echo "÷ base: wall time over that of the named job on as many cores."
  echo "Load after: $(cut -d' ' -f1-3 /proc/loadavg)"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  main "$@"
fi
