#!/bin/bash
# The desktop's thumbnails: ours against gdk-pixbuf-thumbnailer, the program
# GNOME's thumbnail factory and tumbler run for JPEG and PNG.
#
#   bench/desktop_thumbnails.sh [RUNS [FILL_RUNS]]     (default 15 and 3)
#
# 1. One picture, start to exit, on one core (taskset -c 0, our decoder
#    process included): vignettes-thumbnailer -s 256 against
#    gdk-pixbuf-thumbnailer -s 256, on a 24-MP JPEG (6528 x 3672, baseline,
#    4:2:0, quality 90) and a 4-MP PNG (2667 x 1500, RGB), both made by
#    ImageMagick from the largest photo of the cameras folder of
#    run_thumbnail_bench.sh (Kleiber, 6028 x 3391) and kept beside it.
#    RUNS pairs.
# 2. Filling the thumbnail cache at normal and large (128 and 256 pixels)
#    for the folders of run_thumbnail_bench.sh: vignettes --cache=
#    normal,large -j N against gdk-pixbuf-thumbnailer -s 128 and -s 256 run
#    once per photo each, as a file manager runs it, by xargs -P N; N = 1
#    (both on core 0) and N = JOBS. FILL_RUNS pairs, the cache and the
#    peer's folder emptied before each run.
#
# The two programs of a pair run one after the other, first one then the
# other, so that the machine's drift in speed reaches both alike; the table
# gives the medians and ours over the peer's ("÷ peer"). A run that fails,
# or writes fewer thumbnails than it should, stops the script with its
# output: a failed run is never timed.
#
# Environment: CORPUS_CACHE, CORPORA (default "wallpapers cameras small"),
# JOBS (default nproc), as for run_thumbnail_bench.sh; BENCH_BUILD (default
# build/bench); VIGNETTES and THUMBNAILER (built programs to measure instead
# of building them).
set -euo pipefail
export LC_ALL=C

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=bench/run_thumbnail_bench.sh
. "$HERE/run_thumbnail_bench.sh"
RUNS=${1:-15}
FILL_RUNS=${2:-3}
BUILD=${BENCH_BUILD:-$ROOT/build/bench}
PEER=gdk-pixbuf-thumbnailer

need=()
command -v "$PEER" >/dev/null || need+=(libgdk-pixbuf2.0-bin)
command -v identify >/dev/null || need+=(imagemagick)
if [ ${#need[@]} -gt 0 ]; then apt-get install -y -q "${need[@]}" >/dev/null; fi
# The real ImageMagick, whatever wrapper stands first in PATH.
CONVERT=/usr/bin/convert-im6.q16
[ -x "$CONVERT" ] || CONVERT=$(command -v convert)

if [ -z "${VIGNETTES:-}" ] || [ -z "${THUMBNAILER:-}" ]; then
  cmake --preset bench -B "$BUILD" >/dev/null
  cmake --build "$BUILD" -j2 --target vignettes vignettes-thumbnailer \
    vignettes-decoder >/dev/null
fi
VIGNETTES=${VIGNETTES:-$BUILD/src/gui/vignettes}
THUMBNAILER=${THUMBNAILER:-$BUILD/src/thumbnailer/vignettes-thumbnailer}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vg-desktop-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# --- measuring -----------------------------------------------------------------
# elapsed_us CMD...: runs CMD and prints its wall time in microseconds; a
# command that fails stops the script with its output.
elapsed_us() {
  local start=$EPOCHREALTIME end
  if ! "$@" >"$WORK/output" 2>&1; then
    echo "desktop_thumbnails: failed: $*" >&2
    cat "$WORK/output" >&2
    exit 1
  fi
  end=$EPOCHREALTIME
  echo $((${end/./} - ${start/./}))
}
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
# count_png DIR: the PNG files below DIR.
count_png() { find "$1" -name '*.png' -type f | wc -l; }
stop() { echo "desktop_thumbnails: $*" >&2; exit 1; }

# pair NAME_A NAME_B COUNT: RUNS pairs of the commands "run_NAME_A" and
# "run_NAME_B" (shell functions), each followed by its check, the first of
# the pair alternating; sets MEDIAN_A and MEDIAN_B in microseconds.
pair() {
  local a=$1 b=$2 count=$3 i first second t name
  local -a times_a=() times_b=()
  for ((i = 0; i < count; i++)); do
    first=$a second=$b
    if ((i % 2)); then first=$b second=$a; fi
    for name in "$first" "$second"; do
      "prepare_$name"
      sync
      t=$(elapsed_us "run_$name")
      "check_$name"
      if [ "$name" = "$a" ]; then times_a+=("$t"); else times_b+=("$t"); fi
    done
  done
  MEDIAN_A=$(median "${times_a[@]}")
  MEDIAN_B=$(median "${times_b[@]}")
}

# --- 1. one picture ----------------------------------------------------------------
make_pictures() {
  local dir=$CACHE/desktop source
  source=$CACHE/cameras/photos/Kleiber_by_Lukas_Baubkus.jpg
  [ -f "$dir/.complete" ] && return 0
  [ -f "$source" ] || stop "no $source"
  mkdir -p "$dir"
  "$CONVERT" "$source" -strip -resize 6528x3672^ -gravity center \
    -extent 6528x3672 -sampling-factor 2x2 -interlace none -quality 90 \
    "$dir/photo24mp.jpg"
  "$CONVERT" "$source" -strip -resize 2667x1500^ -gravity center \
    -extent 2667x1500 -type TrueColor -depth 8 "PNG24:$dir/photo4mp.png"
  touch "$dir/.complete"
}
# The picture measured, and its thumbnail: a PNG, 256 pixels on its longer
# side, or the run is no result.
prepare_ours() { rm -f "$WORK/thumb.png"; }
prepare_peer() { rm -f "$WORK/thumb.png"; }
run_ours() { taskset -c 0 "$THUMBNAILER" -s 256 "$PICTURE" "$WORK/thumb.png"; }
run_peer() { taskset -c 0 "$PEER" -s 256 "$PICTURE" "$WORK/thumb.png"; }
check_thumb() {
  local size
  size=$(identify -format '%w %h' "$WORK/thumb.png" 2>/dev/null) ||
    stop "$1 wrote no PNG for $PICTURE"
  local fits='^(256 [0-9]+|[0-9]+ 256)$'
  [[ "$size" =~ $fits ]] || stop "$1 made a $size thumbnail of $PICTURE"
}
check_ours() { check_thumb "$THUMBNAILER"; }
check_peer() { check_thumb "$PEER"; }

# --- 2. the cache fill ------------------------------------------------------------
# CORES: 1 (everything on core 0) or JOBS.
pinned() { if [ "$CORES" = 1 ]; then taskset -c 0 "$@"; else "$@"; fi; }
prepare_fill_ours() { rm -rf "$WORK/cache" && mkdir "$WORK/cache"; }
prepare_fill_peer() {
  rm -rf "$WORK/peer" && mkdir -p "$WORK/peer/normal" "$WORK/peer/large"
}
run_fill_ours() {
  XDG_CACHE_HOME=$WORK/cache pinned "$VIGNETTES" -q --cache=normal,large \
    -j "$CORES" --origin "$CORPUS"
}
# One gdk-pixbuf-thumbnailer a size and a photo, with the arguments a file
# manager gives it, N at a time: the list is made once, outside the timing.
run_fill_peer() {
  pinned xargs -0 -P "$CORES" -n 4 "$PEER" <"$WORK/peer.args"
}
check_fill() { # DIR WHO
  local n
  n=$(count_png "$1")
  [ "$n" = $((2 * NFILES)) ] || stop "$2 wrote $n thumbnails of $NFILES photos, not $((2 * NFILES))"
}
check_fill_ours() { check_fill "$WORK/cache/thumbnails" "vignettes --cache"; }
check_fill_peer() { check_fill "$WORK/peer" "$PEER"; }
peer_arguments() {
  local f i=0
  find "$CORPUS" -maxdepth 1 -name '*.jpg' -print0 | sort -z |
    while IFS= read -r -d '' f; do
      i=$((i + 1))
      printf '%s\0' -s 128 "$f" "$WORK/peer/normal/$i.png" \
        -s 256 "$f" "$WORK/peer/large/$i.png"
    done >"$WORK/peer.args"
}

# use_corpus without identify's warnings about some photos' XMP blocks.
quiet_corpus() { use_corpus "$1" 2> >(grep -v 'ParseError missing' >&2); }

# --- the table ---------------------------------------------------------------------
ms() { awk -v t="$1" 'BEGIN {printf "%.0f", t / 1000}'; }
s() { awk -v t="$1" 'BEGIN {printf "%.2f", t / 1000000}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

main() {
  local corpora c name
  read -r -a corpora <<<"${CORPORA:-wallpapers cameras small}"
  quiet_corpus cameras
  make_pictures
  for c in "${corpora[@]}"; do quiet_corpus "$c"; done

  echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
  echo "### One picture, start to exit, one core (median of $RUNS pairs)"
  echo
  echo "| picture | vignettes-thumbnailer -s 256 | $PEER -s 256 | ÷ peer |"
  echo "|---|---|---|---|"
  for name in photo24mp.jpg photo4mp.png; do
    PICTURE=$CACHE/desktop/$name
    pair ours peer "$RUNS"
    printf '| %s, %s | %s ms | %s ms | %s × |\n' "$name" \
      "$(identify -format '%w x %h' "$PICTURE")" "$(ms "$MEDIAN_A")" \
      "$(ms "$MEDIAN_B")" "$(ratio "$MEDIAN_A" "$MEDIAN_B")"
  done
  echo
  echo "### The cache at normal + large, every photo of a folder (median of $FILL_RUNS pairs)"
  echo
  echo "| folder | cores | vignettes --cache=normal,large | $PEER -s 128, -s 256 | ÷ peer |"
  echo "|---|---|---|---|---|"
  for c in "${corpora[@]}"; do
    quiet_corpus "$c"
    peer_arguments
    for CORES in 1 "$JOBS"; do
      pair fill_ours fill_peer "$FILL_RUNS"
      printf '| %s: %s photos, %s MP | %s | %s s | %s s | %s × |\n' "$c" \
        "$NFILES" "$MPIX" "$CORES" "$(s "$MEDIAN_A")" "$(s "$MEDIAN_B")" \
        "$(ratio "$MEDIAN_A" "$MEDIAN_B")"
    done
  done
  echo
  echo "Load after: $(cut -d' ' -f1-3 /proc/loadavg)"
}

main
