#!/bin/bash
# One folder's thumbnails on one core, made by vignettes with each of
# several builds of the decoder program and by vipsthumbnail, in turn,
# round after round, so that a loaded machine weighs on all of them alike.
# A first round is not timed. Each timed round starts with the next maker,
# and every n rounds (n makers) the order turns round, so that each maker
# follows every other about as often: the decoder asks for 2 MB pages, and
# right after vipsthumbnail the kernel spends about a second compacting
# memory to give it them (after another of our runs, nothing). ROUNDS is
# best a multiple of 2n. With HUGE_PAGES=off in the environment every
# command runs without transparent huge pages (prctl PR_SET_THP_DISABLE),
# which takes that cost out when decoders are compared with each other.
# Prints the median wall and CPU (user + system) seconds of each and its
# wall time over vipsthumbnail's.
#
#   bench/decoder_turns.sh VIGNETTES DIR WIDTH ROUNDS DECODER...
#
# VIGNETTES: a built vignettes. DECODER: a built vignettes-decoder (of the
# commit to compare), handed to vignettes through VIGNETTES_DECODER. Every
# command is pinned to core 0 (taskset); vipsthumbnail runs as one process
# with VIPS_CONCURRENCY=1 and writes quality-90 JPEGs, as in
# run_thumbnail_bench.sh.
set -euo pipefail

if [ $# -lt 5 ]; then
  grep -m1 '^#   bench/decoder_turns.sh' "$0" >&2
  exit 2
fi
VG=$(realpath "$1")
DIR=$(realpath "$2")
WIDTH=$3
ROUNDS=$4
shift 4
command -v vipsthumbnail >/dev/null || apt-get install -y -q libvips-tools >/dev/null
command -v bc >/dev/null || apt-get install -y -q bc >/dev/null
[ -x /usr/bin/time ] || apt-get install -y -q time >/dev/null

pin=(taskset -c 0)
if [ "${HUGE_PAGES:-}" = off ]; then
  pin=(/usr/bin/python3 -c 'import ctypes, os, sys
ctypes.CDLL(None).prctl(41, 1, 0, 0, 0)  # PR_SET_THP_DISABLE
os.execvp(sys.argv[1], sys.argv[1:])' taskset -c 0)
fi

OUT=$(mktemp -d /tmp/vg-turns.XXXXXX)
trap 'rm -rf "$OUT"' EXIT
makers=("$@" vipsthumbnail)
n=${#makers[@]}
for ((round = -1; round < ROUNDS; ++round)); do
  for ((k = 0; k < n; ++k)); do
    r=$((round > 0 ? round : 0))
    if (((r / n) % 2)); then i=$(((r + n - 1 - k) % n)); else i=$(((k + r) % n)); fi
    rm -rf "$OUT/thumbs"
    mkdir "$OUT/thumbs"
    if [ "${makers[$i]}" = vipsthumbnail ]; then
      cmd=(env VIPS_CONCURRENCY=1 "${pin[@]}" vipsthumbnail --size "$WIDTH"
        -o "$OUT/thumbs/%s.jpg[Q=90,strip]" "$DIR"/*)
    else
      cmd=(env "VIGNETTES_DECODER=$(realpath "${makers[$i]}")" "${pin[@]}"
        "$VG" -q --jobs 1 --origin "$DIR/" --dest "$OUT/thumbs/"
        --width "$WIDTH")
    fi
    /usr/bin/time -f "%e %U %S" -o "$OUT/time" "${cmd[@]}"
    [ "$round" -ge 0 ] || continue
    read -r wall user system <"$OUT/time"
    echo "$wall $(echo "$user + $system" | bc)" >>"$OUT/maker$i"
  done
done

median() { # FILE COLUMN
  sort -n -k"$2" "$1" | awk -v c="$2" '{ v[NR] = $c }
    END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
last=$((n - 1))
base=$(median "$OUT/maker$last" 1)
echo "$DIR at $WIDTH, one core, median of $ROUNDS rounds${HUGE_PAGES:+, huge pages $HUGE_PAGES}"
echo "| maker | wall s | CPU s | ÷ vipsthumbnail (wall) |"
echo "|---|---|---|---|"
for i in "${!makers[@]}"; do
  wall=$(median "$OUT/maker$i" 1)
  printf '| %s | %.2f | %.2f | %.2f |\n' "${makers[$i]}" "$wall" \
    "$(median "$OUT/maker$i" 2)" "$(echo "scale=4; $wall / $base" | bc)"
done
