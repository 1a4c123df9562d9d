#!/usr/bin/env bash
# run_script_test.sh SOURCE_DIR
# scripts/run.sh builds the program it runs and nothing else (not the tests),
# runs the main job with it and passes on its exit status. A copy of the
# script runs in a scratch tree where set-up, samples, cmake and the program
# are stand-ins that note what they were asked.
set -euo pipefail
src=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

repo=$scratch/repo
mkdir -p "$repo/scripts" "$scratch/bin" "$scratch/photos"
cp "$src/scripts/run.sh" "$repo/scripts/"
printf '#!/bin/sh\nexit 0\n' >"$repo/scripts/setup.sh"
printf '#!/bin/sh\necho "%s"\n' "$scratch/photos" >"$repo/scripts/samples.sh"
# The stand-in build makes a program that notes its arguments and fails,
# as a batch with a bad file does.
cat >"$scratch/bin/cmake" <<'STUB'
#!/bin/sh
echo "cmake $*" >>"$LOG"
case " $* " in
  *" --build "*)
    mkdir -p build/release/src/gui
    printf '#!/bin/sh\necho "vignettes $*" >>"$LOG"\nexit 1\n' \
      >build/release/src/gui/vignettes
    chmod +x build/release/src/gui/vignettes ;;
esac
STUB
chmod +x "$repo/scripts/setup.sh" "$repo/scripts/samples.sh" "$scratch/bin/cmake"

export LOG=$scratch/log
status=0
PATH=$scratch/bin:$PATH bash "$repo/scripts/run.sh" >"$scratch/out" 2>&1 ||
  status=$?

builds=$(grep '^cmake --build' "$LOG" || true)
[ -n "$builds" ] || bad "run.sh built nothing: $(cat "$LOG")"
while read -r line; do
  [ -z "$line" ] && continue
  targets=$(grep -oE -- '--target( [^-][^ ]*)+' <<<"$line" | cut -d' ' -f2- || true)
  [ "$targets" = vignettes ] ||
    bad "run.sh builds more than the program it runs: $line"
done <<<"$builds"
grep -q "^vignettes --origin $scratch/photos --dest build/samples/thumbs --small 100 --large 450$" \
  "$LOG" || bad "the main job did not run as expected: $(cat "$LOG")"
[ "$status" = 1 ] || bad "run.sh exit status $status, the program's was 1"
exit $fail
