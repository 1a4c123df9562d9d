#!/usr/bin/env bash
# bench_script_test.sh SOURCE_DIR
# bench/run_thumbnail_bench.sh stops when a timed command fails, naming it and
# showing its output, instead of timing the failure as a result; and runs
# each vipsthumbnail and ImageMagick process on one thread; its report's
# rows line up whatever their characters. The script is
# sourced for its functions and run on stand-ins: no corpus, no peers, no
# build, nothing worth timing (skipped, exit 77, without time, bc or
# python3).
set -euo pipefail
src=$1
[ -x /usr/bin/time ] || { echo "/usr/bin/time not installed"; exit 77; }
command -v bc >/dev/null || { echo "bc not installed"; exit 77; }
command -v python3 >/dev/null || { echo "python3 not installed"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

# shellcheck source=/dev/null
. "$src/bench/run_thumbnail_bench.sh"
# shellcheck disable=SC2034  # read by the script's functions
RUNS=3
WORK=$scratch/work
mkdir -p "$WORK"

# A program that is not there, as VIGNETTES=/no/such/program would give.
if (run "vignettes 150 --jobs 1" "$scratch/o1" "$scratch/no-such-program" -q) \
  >/dev/null 2>"$scratch/err"; then
  bad "a missing program was timed as a result"
fi
grep -qF '"vignettes 150 --jobs 1" failed' "$scratch/err" ||
  bad "the failure does not name its job: $(cat "$scratch/err")"

# A command that gives up partway, on its second run.
# shellcheck disable=SC2016  # expanded by the command run
if (run "peer" "$scratch/o2" bash -c \
  '[ -e "$0/once" ] && { echo "peer: out of memory" >&2; exit 3; }; touch "$0/once"' \
  "$scratch") >/dev/null 2>"$scratch/err"; then
  bad "a run that failed was timed as a result"
fi
grep -qF "peer: out of memory" "$scratch/err" ||
  bad "the failed command's output is not shown: $(cat "$scratch/err")"

# A command that works is timed.
run "fine" "$scratch/o3" true
[[ "${WALL[fine]:-}" =~ ^[0-9]+\.[0-9]+$ ]] ||
  bad "no wall time for a run that worked: '${WALL[fine]:-}'"

# The peers on one thread each: stand-ins note their environment.
mkdir -p "$scratch/bin" "$scratch/corpus" "$scratch/vips" "$scratch/magick"
for i in $(seq 1 10); do : >"$scratch/corpus/p$i.jpg"; done
# shellcheck disable=SC2016  # expanded by the stand-ins
printf '#!/bin/sh\necho "VIPS_CONCURRENCY=$VIPS_CONCURRENCY" >>"%s"\n' \
  "$scratch/vips.log" >"$scratch/bin/vipsthumbnail"
# shellcheck disable=SC2016
printf '#!/bin/sh\necho "MAGICK_THREAD_LIMIT=$MAGICK_THREAD_LIMIT" >>"%s"\n' \
  "$scratch/magick.log" >"$scratch/bin/mogrify"
chmod +x "$scratch/bin/vipsthumbnail" "$scratch/bin/mogrify"
CORPUS=$scratch/corpus MOGRIFY=$scratch/bin/mogrify \
  PATH=$scratch/bin:$PATH vips_set 150 "$scratch/vips" 2 ||
  bad "vips_set failed"
CORPUS=$scratch/corpus MOGRIFY=$scratch/bin/mogrify magick_set 150 \
  "$scratch/magick" full || bad "magick_set failed"
[ "$(sort -u "$scratch/vips.log")" = VIPS_CONCURRENCY=1 ] ||
  bad "vipsthumbnail ran with $(sort -u "$scratch/vips.log" | tr '\n' ' ')"
[ "$(wc -l <"$scratch/vips.log")" = 2 ] ||
  bad "10 photos 8 at a time took $(wc -l <"$scratch/vips.log") processes"
[ "$(cat "$scratch/magick.log")" = MAGICK_THREAD_LIMIT=1 ] ||
  bad "mogrify ran with $(cat "$scratch/magick.log")"

# The report divides a row only by the row it names on as many cores.
# shellcheck disable=SC2034  # read by report_corpus
{
  S=$scratch/none JOBS=2 CORPUS=$scratch/corpus NFILES=10 MPIX=1 MB=1 NPROG=0
  QUALITY=true
  for row in "vignettes 150|1 1.00" "vipsthumbnail 150|1 4.00" \
    "vignettes 150|2 0.60" "vipsthumbnail 150|2 2.00" \
    "window: Générateur 150|1 1.50"; do
    WALL["c:${row% *}"]=${row##* }
    CPU["c:${row% *}"]=${row##* }
    RSS["c:${row% *}"]=100
  done
}
report_corpus c >"$scratch/report" 2>&1 || bad "report_corpus failed"
grep -qE '^\| vignettes 150 +\| +1 \|.*\|  0\.25 vipsthumbnail 150 ' \
  "$scratch/report" || bad "one core against one: $(cat "$scratch/report")"
grep -qE '^\| vignettes 150 +\| +2 \|.*\|  0\.30 vipsthumbnail 150 ' \
  "$scratch/report" || bad "two cores against two: $(cat "$scratch/report")"
[ "$(grep -c '^| ' "$scratch/report")" = 6 ] ||
  bad "rows without a measure were printed: $(cat "$scratch/report")"

# Every row's columns line up on a terminal, accented names and the "÷" of
# the header included, whatever the locale the script runs in.
for locale in C C.UTF-8; do
  (LC_ALL=$locale report_corpus c) >"$scratch/report" 2>&1 ||
    bad "report_corpus failed in $locale"
  grep -q 'Générateur' "$scratch/report" || bad "no accented row in $locale"
  columns=$(grep '^|' "$scratch/report" | python3 -c '
import sys, unicodedata
def bars(line):
    col, out = 0, []
    for ch in line.rstrip("\n"):
        if ch == "|": out.append(col)
        col += 2 if unicodedata.east_asian_width(ch) in "WF" else 1
    return tuple(out)
print(len({bars(line) for line in sys.stdin}))')
  [ "$columns" = 1 ] ||
    bad "rows not aligned in $locale: $(grep '^|' "$scratch/report")"
done
exit $fail
