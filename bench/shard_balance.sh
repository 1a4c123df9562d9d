#!/bin/bash
# How evenly --shard splits a folder: for numbered names at several steps and
# for random names, the number of pictures each of N shares makes
# and the largest share against the mean (the slowest task sets the time of
# a whole array job).
#
#   bench/shard_balance.sh [COUNT]    (default 400 names a folder)
#
# The files are empty (each fails at once: only its share matters); each
# share's count is read from its --report. Environment: VIGNETTES (default
# build/release/src/gui/vignettes).
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
COUNT=${1:-400}
VIGNETTES=${VIGNETTES:-$ROOT/build/release/src/gui/vignettes}
[ -x "$VIGNETTES" ] || { echo "build the program first: $VIGNETTES" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# folder NAME PRINTF-PATTERN STEP: COUNT empty files named by the pattern.
folder() {
  mkdir -p "$work/$1"
  for ((i = 0; i < COUNT; ++i)); do
    : >"$work/$1/$(printf "$2" $((i * $3)))"
  done
}
folder "p, step 1" "p%04d.jpg" 1
folder "p, step 11" "p%04d.jpg" 11
folder "p, step 101" "p%05d.jpg" 101
folder "IMG_, step 1" "IMG_%04d.JPG" 1
folder "DSC, step 10" "DSC%05d.jpg" 10
mkdir -p "$work/random"
for ((i = 0; i < COUNT; ++i)); do
  : >"$work/random/$(printf '%s' "$i" | md5sum | cut -c1-12).jpg"
done

printf '%-14s %3s  %-44s %s\n' names N "pictures a share" "largest / mean"
for name in "p, step 1" "p, step 11" "p, step 101" "IMG_, step 1" \
  "DSC, step 10" random; do
  for n in 4 8; do
    sizes=()
    for ((k = 0; k < n; ++k)); do
      "$VIGNETTES" -q --origin "$work/$name" --dest "$work/out" --width 10 \
        --shard "$k/$n" --report "$work/r.jsonl" 2>/dev/null || true
      sizes+=("$(wc -l <"$work/r.jsonl")")
    done
    largest=$(printf '%s\n' "${sizes[@]}" | sort -n | tail -1)
    printf '%-14s %3d  %-44s %.2f\n' "$name" "$n" "${sizes[*]}" \
      "$(echo "$largest * $n / $COUNT" | bc -l)"
  done
done
