#!/bin/bash
# Large collections: how the command line's listing and planning grow with
# the number of pictures and of folders, in time and in peak memory.
#
#   bench/collection_scale.sh [FILES] [FOLDERS]    (default 200000 20000)
#
# Makes, under $WORK (default /tmp/vg-scale, removed at the end unless
# KEEP=1), a flat folder of FILES pictures and a tree of FOLDERS folders
# (FOLDERS/100 folders of 100, FILES/FOLDERS pictures in each), all hard
# links to three small photos, so that they cost no disk. Then, each run
# niced and under /usr/bin/time -v, it prints wall time and peak RSS of:
#   - planning only: `--shard 0/1000000000`, a share that holds (almost
#     surely) no picture, so the run lists, plans and writes nothing; on a
#     quarter, a half and the whole of the flat folder, and on the tree
#     (recursive), against an empty folder as the baseline;
#   - with FULL=1, the whole job on the tree (150-px thumbnails, -j nproc),
#     then the same with --update, which finds every picture up to date.
# Not run by CI: it takes minutes and ~1 GB of inodes' worth of metadata.
#
# Environment: VIGNETTES (a built program; default: the command line alone
# built in build/scale, release, without the window), WORK, KEEP, FULL.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
FILES=${1:-200000}
FOLDERS=${2:-20000}
WORK=${WORK:-/tmp/vg-scale}

if [ -z "${VIGNETTES:-}" ]; then
  cmake --preset release -B "$ROOT/build/scale" -DVG_BUILD_GUI=OFF \
    -DVG_BUILD_TESTS=OFF -DVG_BUILD_FUZZ=OFF >/dev/null
  nice -n 10 cmake --build "$ROOT/build/scale" --target vignettes >/dev/null
  VIGNETTES=$ROOT/build/scale/src/cli/vignettes
fi
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)"; exit 1; }

rm -rf "$WORK"
mkdir -p "$WORK/photos" "$WORK/empty"
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$WORK"' EXIT
cp "$ROOT/data/test_picture.jpg" "$WORK/photos/a.jpg"
cp "$ROOT/tests/data/pictures/grid_cmyk.jpg" "$WORK/photos/b.jpg"
cp "$ROOT/tests/data/pictures/grid_rle8.bmp" "$WORK/photos/c.bmp"

# Hard links in bulk (one ln a file would take longer than the runs).
python3 - "$WORK" "$FILES" "$FOLDERS" <<'PY'
import os, shutil, sys
work, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
photos = [os.path.join(work, "photos", n) for n in ("a.jpg", "b.jpg", "c.bmp")]
# ext4 allows 65000 links to a file: a fresh copy of the photo every 60000.
links = [0, 0, 0]
def link(i, folder):
    k = i % 3
    if links[k] % 60000 == 59999:
        copy = "%s.%d%s" % (photos[k], links[k], os.path.splitext(photos[k])[1])
        shutil.copyfile(photos[k], copy)
        photos[k] = copy
    links[k] += 1
    src = photos[k]
    os.link(src, os.path.join(folder, "IMG_%07d%s" % (i, os.path.splitext(src)[1])))
# The whole, a half and a quarter: one folder each.
for name, count in (("flat", files), ("part2", files // 2), ("part4", files // 4)):
    folder = os.path.join(work, name)
    os.makedirs(folder)
    for i in range(count):
        link(i, folder)
per_folder = max(1, files // folders)
n = 0
for f in range(folders):
    folder = os.path.join(work, "tree", "%03d" % (f // 100), "album %05d" % f)
    os.makedirs(folder)
    for _ in range(per_folder):
        link(n, folder)
        n += 1
PY

# measure NAME ARGS...: one run of the program; prints its wall time and
# peak RSS, and the summary line it printed.
measure() {
  local name=$1
  shift
  local log=$WORK/time.log out
  out=$(nice -n 10 /usr/bin/time -v -o "$log" "$VIGNETTES" "$@") || {
    local status=$?
    # 1 (some file failed) is not expected here either: a picture is bad.
    echo "$name: exit $status: $out" >&2
    exit 1
  }
  local wall rss
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
  printf '%-34s %10s  %8.1f MB  %s\n' "$name" "$wall" "$(echo "$rss / 1024" | bc -l)" \
    "$(tail -1 <<<"$out")"
}

plan_only=(--width 150 --shard 0/1000000000)
echo "program: $VIGNETTES"
echo "$FILES pictures flat; $FOLDERS folders of $((FILES / FOLDERS)) in the tree"
measure "plan: empty folder" --origin "$WORK/empty" --dest "$WORK/out0" "${plan_only[@]}"
for part in part4 part2 flat; do
  n=$(find "$WORK/$part" -type f | wc -l)
  measure "plan: flat, $n pictures" --origin "$WORK/$part" --dest "$WORK/out1" "${plan_only[@]}"
done
measure "plan: tree, $FOLDERS folders" -r --origin "$WORK/tree" --dest "$WORK/out2" "${plan_only[@]}"
if [ "${FULL:-0}" = 1 ]; then
  measure "make: tree" -r --origin "$WORK/tree" --dest "$WORK/out3" --width 150
  measure "update: tree, all up to date" -ru --origin "$WORK/tree" --dest "$WORK/out3" --width 150
fi
