#!/usr/bin/env bash
# Two builds of vignettes side by side on the benchmark's photos, in one run:
# the same jobs, each one measured on the old build and then the new one.
#
#   bench/compare_builds.sh OLD_BUILD NEW_BUILD [RUNS]     (default 3 runs)
#
# Each BUILD is a build folder of the bench preset with the targets vignettes
# and window_batch built, for instance
#   git worktree add /tmp/old COMMIT && cd /tmp/old &&
#   cmake --preset bench && cmake --build build/bench --target vignettes window_batch
# Prints, for each job and build, the median wall seconds, that run's CPU
# seconds and peak RSS, and new / old. The photos are those of
# run_thumbnail_bench.sh (downloaded into $CORPUS_CACHE on first use).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/run_thumbnail_bench.sh"

OLD=$(cd "$1" && pwd)
NEW=$(cd "$2" && pwd)
RUNS=${3:-3}
WORK=$(mktemp -d /tmp/vg-compare.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
for b in "$OLD" "$NEW"; do
  for exe in src/gui/vignettes bench/window_batch; do
    [ -x "$b/$exe" ] || { echo "compare_builds: $b/$exe is not built" >&2; exit 1; }
  done
done
command -v identify >/dev/null || apt-get install -y -q imagemagick >/dev/null
make_corpus

jobs=(cli150_j1 cli150_jN cli2_j1 cli2_jN window150 window2)
job_args() { # JOB BUILD OUT
  local v=$2/src/gui/vignettes w=$2/bench/window_batch
  case $1 in
    cli150_j1) echo "$v --origin $CORPUS --dest $3 --width 150 --jobs 1 -q" ;;
    cli150_jN) echo "$v --origin $CORPUS --dest $3 --width 150 --jobs $JOBS -q" ;;
    cli2_j1) echo "$v --origin $CORPUS --dest $3 --small 100 --large 450 --jobs 1 -q" ;;
    cli2_jN) echo "$v --origin $CORPUS --dest $3 --small 100 --large 450 --jobs $JOBS -q" ;;
    window150) echo "$w $CORPUS/ $3/ 150" ;;
    window2) echo "$w $CORPUS/ $3/ 100 450" ;;
  esac
}
export QT_QPA_PLATFORM=offscreen
echo "Photos: $NFILES ($MPIX megapixels, $NPROG progressive); $RUNS runs each, median;"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-11s %20s %20s %8s\n' job "old: wall/CPU/MB" "new: wall/CPU/MB" "new/old"
for job in "${jobs[@]}"; do
  for side in old new; do
    build=$OLD
    [ $side = new ] && build=$NEW
    out=$WORK/out
    # shellcheck disable=SC2046  # the job's words
    run "$job-$side" "$out" $(job_args "$job" "$build" "$out")
  done
  printf '%-11s %20s %20s %8.2f\n' "$job" \
    "${WALL[$job-old]}/${CPU[$job-old]}/${RSS[$job-old]}" \
    "${WALL[$job-new]}/${CPU[$job-new]}/${RSS[$job-new]}" \
    "$(echo "${WALL[$job-new]} / ${WALL[$job-old]}" | bc -l)"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
