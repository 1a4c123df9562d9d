#!/usr/bin/env bash
# Sets up, builds the program of the release preset (that program only, not
# the tests) and runs the main job: the two-size batch (100 and 450 pixels
# wide) over a folder of photos -- the sample photos, or the folder given as
# the first argument. Results go to build/samples/thumbs/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target vignettes
origin=${1:-$(scripts/samples.sh)}
dest=build/samples/thumbs
build/release/src/gui/vignettes --origin "$origin" --dest "$dest" \
  --small 100 --large 450 && status=0 || status=$?
echo "run.sh: small set in $dest/, large set in $dest/Grand/ (exit status $status)"
exit "$status"
