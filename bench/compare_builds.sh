#!/usr/bin/env bash
# Two builds of vignettes side by side on the benchmark's folders, in one
# run: the same jobs, each one measured on the old build and then the new one.
#
#   bench/compare_builds.sh OLD_BUILD NEW_BUILD [RUNS]     (default 3 runs)
#
# Each BUILD is a build folder of the bench preset with the targets vignettes
# and window_batch built, for instance
#   git worktree add /tmp/old COMMIT && cd /tmp/old &&
#   cmake --preset bench && cmake --build build/bench --target vignettes window_batch
# (a build of the new tree also needs vignettes-decoder, which the programs
# start). Prints, for each folder, job and build, the median wall seconds,
# that run's CPU seconds, its peak RSS and the peak memory of all its
# processes together (decoder processes included), then new / old of the
# wall time. Jobs: 150 and 100+450 on 1 core and on $JOBS, on every folder
# of $CORPORA (default "wallpapers cameras small", as run_thumbnail_bench.sh
# builds them; the small folder at 150 only), and the window's two commands
# on the wallpapers.
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

job_args() { # JOB BUILD OUT
  local v=$2/src/gui/vignettes w=$2/bench/window_batch
  # window_batch does not lie beside the decoder program it starts.
  [ -x "$2/src/decoders/vignettes-decoder" ] &&
    w="env VIGNETTES_DECODER=$2/src/decoders/vignettes-decoder $w"
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
echo "$RUNS runs each, median; wall s / CPU s / RSS MB / all processes MB; -jN: $JOBS"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for corpus in ${CORPORA:-wallpapers cameras small}; do
  use_corpus "$corpus"
  jobs=(cli150_j1 cli150_jN cli2_j1 cli2_jN)
  [ "$corpus" = small ] && jobs=(cli150_j1 cli150_jN)
  [ "$corpus" = wallpapers ] && jobs+=(window150 window2)
  echo
  echo "$corpus: $NFILES photos ($MPIX megapixels, $NPROG progressive)"
  printf '%-11s %26s %26s %8s\n' job "old" "new" "new/old"
  for job in "${jobs[@]}"; do
    for side in old new; do
      build=$OLD
      [ $side = new ] && build=$NEW
      out=$WORK/out
      # shellcheck disable=SC2046  # the job's words
      run "$job-$side" "$out $out/Grand" $(job_args "$job" "$build" "$out")
    done
    printf '%-11s %26s %26s %8.3f\n' "$job" \
      "${WALL[$job-old]}/${CPU[$job-old]}/${RSS[$job-old]}/${TREE[$job-old]}" \
      "${WALL[$job-new]}/${CPU[$job-new]}/${RSS[$job-new]}/${TREE[$job-new]}" \
      "$(echo "${WALL[$job-new]} / ${WALL[$job-old]}" | bc -l)"
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
