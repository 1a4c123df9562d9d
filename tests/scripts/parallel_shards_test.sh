#!/usr/bin/env bash
# parallel_shards_test.sh SOURCE_DIR VIGNETTES
# The shares of a recursive two-size run, run by GNU parallel into one
# destination as docs/collections.md shows, write the very files one run
# writes, byte for byte; their reports together name every picture once.
# Skipped (77) without GNU parallel, jq or the program.
set -euo pipefail
src=$1 vignettes=${2:-}
[ -x "$vignettes" ] || { echo "the program is not built"; exit 77; }
command -v parallel >/dev/null || { echo "GNU parallel not installed"; exit 77; }
command -v jq >/dev/null || { echo "jq not installed"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

# A tree: many names to spread over the shares, names made safe alike
# (different pictures: the last one listed must win), several formats, a
# file that is no picture, a folder name with an accent and a blank.
photo=$src/data/test_picture.jpg
pictures=$src/tests/data/pictures
mkdir -p "in/2023/Été ski" in/2024 in/empty
for i in $(seq -w 0 23); do cp "$photo" "in/2023/p$i.jpg"; done
cp "$photo" "in/a b.jpg"
cp "$pictures/grid_cmyk.jpg" in/a_b.jpg
cp "$pictures/grid_rle8.bmp" "in/2023/Été ski/grid.bmp"
cp "$pictures/grid_transparent.gif" "in/2024/grid.gif"
cp "$pictures/icons.ico" in/2024/icons.ico
echo "no picture" >in/2024/notes.txt

run=(-qr --origin in --small 40 --large 90 -j 1)
status=0
"$vignettes" "${run[@]}" --dest whole --report whole.jsonl || status=$?
[ "$status" -eq 1 ] || bad "one run: exit $status, expected 1 (notes.txt)"

shards=3
status=0
parallel --will-cite -j "$shards" "$vignettes" "${run[@]}" --dest shared \
  --shard "{}/$shards" --report "shard-{}.jsonl" ::: $(seq 0 $((shards - 1))) ||
  status=$?
# parallel's status is the number of jobs that failed: those of notes.txt
# and of "a b.jpg" (replaced by "a_b.jpg").
((status >= 1 && status <= 2)) || bad "parallel: exit $status, expected 1 or 2"

diff -r whole shared >diff.txt || bad "the shares differ from one run: $(cat diff.txt)"
[ -f shared/a_b.jpg ] && [ -f shared/2023/ete_ski/Grand/grid.bmp ] ||
  bad "expected thumbnails missing: $(cd shared && find . -type f | sort)"
cmp -s whole/a_b.jpg shared/a_b.jpg || bad "a_b.jpg differs"

# Every picture once over the shares' reports, with the status one run gave.
jq -r '[.input, .status] | @tsv' whole.jsonl | sort >whole.txt
cat shard-*.jsonl | jq -r '[.input, .status] | @tsv' | sort >shards.txt
[ "$(wc -l <whole.txt)" -eq 30 ] || bad "one run reported $(wc -l <whole.txt) pictures, expected 30"
cmp -s whole.txt shards.txt || bad "the reports differ: $(diff whole.txt shards.txt)"
for k in $(seq 0 $((shards - 1))); do
  [ -s "shard-$k.jsonl" ] || bad "share $k made nothing"
done

# The failed pictures, taken from the reports, run again on their own.
status=0
cat shard-*.jsonl | jq -j 'select(.status=="failed") | .input + "\u0000"' |
  "$vignettes" "${run[@]}" --dest shared -0 --files-from - --report again.jsonl ||
  status=$?
[ "$status" -eq 1 ] || bad "the failed ones again: exit $status, expected 1"
# notes.txt, and "a b.jpg" whose thumbnail "a_b.jpg" replaced: made again
# with it, so that it is replaced again and the tree stays that of one run.
[ "$(jq -r .input again.jsonl | sort | paste -sd '|')" = \
  "in/2024/notes.txt|in/a b.jpg|in/a_b.jpg" ] ||
  bad "the failed ones again: $(cat again.jsonl)"
diff -r whole shared >diff.txt || bad "after the failed ones: $(cat diff.txt)"

exit $fail
